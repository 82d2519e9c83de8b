# The two commands of the README:
#   make run    set up, build and start the program (demo mode, on emulated hubs)
#   make check  set up, build and run every test, in every preset
PRESETS := default asan fuzz tsan
JOBS ?= $(shell nproc)

.PHONY: setup build run check format clean $(addprefix build-,$(PRESETS)) $(addprefix test-,$(PRESETS))

setup:
	@scripts/setup

build: setup build-default

$(addprefix build-,$(PRESETS)): build-%:
	cmake --preset $* >/dev/null
	cmake --build --preset $* -j $(JOBS)

$(addprefix test-,$(PRESETS)): test-%: build-%
	ctest --preset $* -j $(JOBS)

run: build
	scripts/run-program

check: setup $(addprefix test-,$(PRESETS))

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf build
