# Installs the build into a scratch folder and checks that every file lands where the system
# looks for it. Run by ctest: cmake -DBUILD_DIR=... -DSCRATCH=... -P CheckInstall.cmake
file(REMOVE_RECURSE "${SCRATCH}")
execute_process(COMMAND ${CMAKE_COMMAND} -E env DESTDIR=${SCRATCH}
                        ${CMAKE_COMMAND} --install "${BUILD_DIR}" --prefix /usr
                RESULT_VARIABLE result OUTPUT_QUIET)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "cmake --install failed: ${result}")
endif()
foreach(path
    usr/bin/halvek-updater
    usr/bin/halvek-hubctl
    usr/share/applications/halvek-updater.desktop
    usr/share/icons/hicolor/48x48/apps/halvek-updater.png)
  if(NOT EXISTS "${SCRATCH}/${path}")
    message(FATAL_ERROR "not installed: ${path}")
  endif()
endforeach()
file(GLOB_RECURSE rules "${SCRATCH}/*/60-halvek-hub.rules")
if(NOT rules MATCHES "/(etc|usr/lib|lib)/udev/rules.d/60-halvek-hub.rules")
  message(FATAL_ERROR "the udev rule is not where udev reads rules: ${rules}")
endif()
file(REMOVE_RECURSE "${SCRATCH}")
