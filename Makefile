# The two commands of the README:
#   make run    set up, build and start the program (demo mode, on emulated hubs)
#   make check  set up, build and run every test, in every preset
PRESETS := default asan fuzz tsan
JOBS ?= $(shell nproc)
# `make run` configures the default build without tests and benchmarks; everything else turns
# them back on there.
FULL_default := -DHALVEK_BUILD_TESTS=ON -DHALVEK_BUILD_BENCH=ON

.PHONY: setup setup-run build build-programs run check format clean \
        $(addprefix build-,$(PRESETS)) $(addprefix test-,$(PRESETS))

setup:
	@scripts/setup

setup-run:
	@scripts/setup --run

build: setup build-default

$(addprefix build-,$(PRESETS)): build-%:
	cmake --preset $* $(FULL_$*) >/dev/null
	cmake --build --preset $* -j $(JOBS)

$(addprefix test-,$(PRESETS)): test-%: build-%
	ctest --preset $* -j $(JOBS)

# Only the two programs and what they link.
build-programs: setup-run
	cmake --preset default -DHALVEK_BUILD_TESTS=OFF -DHALVEK_BUILD_BENCH=OFF >/dev/null
	cmake --build --preset default -j $(JOBS) --target halvek-updater halvek-hubctl

run: build-programs
	scripts/run-program

check: setup $(addprefix test-,$(PRESETS))

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf build
