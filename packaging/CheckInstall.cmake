# Installs the build into a scratch folder and checks that every file lands where the system
# looks for it, and that the user's own install manifest (install_manifest.txt, which the
# README's uninstall reads) is left alone. Run by ctest:
#   cmake -DBUILD_DIR=... -DSCRATCH=... -P CheckInstall.cmake
file(REMOVE_RECURSE "${SCRATCH}")
include("${CMAKE_CURRENT_LIST_DIR}/InstallManifest.cmake")
read_install_manifest(manifest_before)

# Both parts, each as CPack installs it: a component at a time.
function(install_to prefix)
  foreach(component hubctl updater)
    execute_process(COMMAND ${CMAKE_COMMAND} -E env DESTDIR=${SCRATCH}${prefix}
                            ${CMAKE_COMMAND} --install "${BUILD_DIR}" --prefix ${prefix}
                            --component ${component}
                    RESULT_VARIABLE result OUTPUT_QUIET)
    if(NOT result EQUAL 0)
      message(FATAL_ERROR "cmake --install --prefix ${prefix} --component ${component}: ${result}")
    endif()
  endforeach()
endfunction()

# As the package installs: everything under /usr, the rule where packages put theirs.
install_to(/usr)
set(root "${SCRATCH}/usr")
foreach(path
    usr/bin/halvek-updater
    usr/bin/halvek-hubctl
    usr/lib/udev/rules.d/60-halvek-hub.rules
    usr/share/man/man1/halvek-updater.1.gz
    usr/share/man/man1/halvek-hubctl.1.gz
    usr/share/doc/halvek-hubctl/copyright
    usr/share/doc/halvek-hubctl/changelog.gz
    usr/share/doc/halvek-updater/copyright
    usr/share/doc/halvek-updater/changelog.gz
    usr/share/applications/halvek-updater.desktop
    usr/share/metainfo/com.halvek.HubUpdater.metainfo.xml
    usr/share/icons/hicolor/48x48/apps/halvek-updater.png
    usr/share/bash-completion/completions/halvek-hubctl
    usr/share/zsh/vendor-completions/_halvek-hubctl
    usr/share/bash-completion/completions/halvek-updater
    usr/share/zsh/vendor-completions/_halvek-updater)
  if(NOT EXISTS "${root}/${path}")
    message(FATAL_ERROR "not installed under /usr: ${path}")
  endif()
endforeach()
# Every icon drawn for the program, at its size.
file(GLOB icons RELATIVE "${SOURCE_DIR}/resources/icons" "${SOURCE_DIR}/resources/icons/halvek-updater*")
foreach(icon IN LISTS icons)
  if(icon MATCHES "-([0-9]+)\\.png$")
    set(path "${CMAKE_MATCH_1}x${CMAKE_MATCH_1}/apps/halvek-updater.png")
  else()
    set(path "scalable/apps/${icon}")
  endif()
  if(NOT EXISTS "${root}/usr/share/icons/hicolor/${path}")
    message(FATAL_ERROR "icon ${icon} not installed as hicolor/${path}")
  endif()
endforeach()
if(EXISTS "${root}/etc")
  message(FATAL_ERROR "an install to /usr wrote to /etc")
endif()

# As a local install: /usr/local, but the rule where udev reads it.
install_to(/usr/local)
if(NOT EXISTS "${SCRATCH}/usr/local/etc/udev/rules.d/60-halvek-hub.rules")
  message(FATAL_ERROR "an install to /usr/local did not put the rule in /etc/udev/rules.d")
endif()

expect_install_manifest(manifest_before "the test's installs")
file(REMOVE_RECURSE "${SCRATCH}")
