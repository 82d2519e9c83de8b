# Builds the two .debs and checks them as a user's system would: lintian (no errors, warnings or
# pedantic tags), what each holds and needs, the desktop entry and the AppStream metainfo, and
# that installing both and purging them leaves nothing behind; and that building them left the
# user's install manifest alone. Run by ctest:
#   cmake -DBUILD_DIR=... -DSCRATCH=... -DSOURCE_DIR=... -DCPACK=... -P CheckPackage.cmake
foreach(tool lintian desktop-file-validate appstreamcli dpkg-deb dpkg)
  find_program(path_${tool} ${tool})
  if(NOT path_${tool})
    message(FATAL_ERROR "${tool} is missing: run scripts/setup")
  endif()
endforeach()

file(REMOVE_RECURSE "${SCRATCH}")
include("${CMAKE_CURRENT_LIST_DIR}/InstallManifest.cmake")
read_install_manifest(manifest_before)

execute_process(COMMAND ${CPACK} -G DEB -B "${SCRATCH}" --config "${BUILD_DIR}/CPackConfig.cmake"
                WORKING_DIRECTORY "${BUILD_DIR}" RESULT_VARIABLE result OUTPUT_VARIABLE output
                ERROR_VARIABLE output)
file(GLOB hubctl_deb "${SCRATCH}/halvek-hubctl_*.deb")
file(GLOB updater_deb "${SCRATCH}/halvek-updater_*.deb")
file(GLOB debs "${SCRATCH}/*.deb")
list(LENGTH debs deb_count)
if(NOT result EQUAL 0 OR NOT hubctl_deb OR NOT updater_deb OR NOT deb_count EQUAL 2)
  message(FATAL_ERROR "cpack did not make the two packages (${debs}): ${output}")
endif()

expect_install_manifest(manifest_before "building the packages")

# Fails unless every pattern matches `text` (`want` TRUE) or none does (FALSE).
function(expect_matches text want what)
  foreach(pattern IN LISTS ARGN)
    set(found FALSE)
    if(text MATCHES "${pattern}")
      set(found TRUE)
    endif()
    if(NOT found STREQUAL want)
      message(FATAL_ERROR "${what} ${pattern}: ${text}")
    endif()
  endforeach()
endfunction()

# `present` must be in the package, `absent` must not; `depends` and `shuns` are patterns its
# Depends field must and must not match.
function(check_package deb)
  cmake_parse_arguments(P "" "" "PRESENT;ABSENT;DEPENDS;SHUNS" ${ARGN})
  get_filename_component(name "${deb}" NAME)
  execute_process(COMMAND ${path_lintian} --pedantic --fail-on error,warning,pedantic "${deb}"
                  RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "lintian --pedantic ${name}:\n${output}")
  endif()
  execute_process(COMMAND ${path_dpkg-deb} -c "${deb}" OUTPUT_VARIABLE contents)
  execute_process(COMMAND ${path_dpkg-deb} -f "${deb}" Depends OUTPUT_VARIABLE depends)
  list(TRANSFORM P_PRESENT REPLACE "(.+)" " \\\\./\\1\n")
  list(TRANSFORM P_ABSENT PREPEND " \\./")
  expect_matches("${contents}" TRUE "${name} lacks" ${P_PRESENT})
  expect_matches("${contents}" FALSE "${name} holds" ${P_ABSENT})
  expect_matches("${depends}" TRUE "${name} does not depend on" ${P_DEPENDS})
  expect_matches("${depends}" FALSE "${name} depends on" ${P_SHUNS})
endfunction()

# A production station has no desktop: the command line needs Qt Core and nothing graphical.
check_package("${hubctl_deb}"
  PRESENT usr/bin/halvek-hubctl usr/lib/udev/rules.d/60-halvek-hub.rules
          usr/share/man/man1/halvek-hubctl.1.gz usr/share/doc/halvek-hubctl/copyright
          usr/share/bash-completion/completions/halvek-hubctl
          usr/share/zsh/vendor-completions/_halvek-hubctl
  ABSENT usr/bin/halvek-updater usr/share/applications usr/share/metainfo usr/share/icons
         usr/share/man/man1/halvek-updater
  DEPENDS "libqt6core6" "udev"
  SHUNS "libqt6gui" "libqt6widgets" "fonts-" "qt6-")
# The window's completion goes with it, once there is one.
set(updater_completion)
if(EXISTS "${SOURCE_DIR}/completion/halvek-updater")
  list(APPEND updater_completion usr/share/bash-completion/completions/halvek-updater)
endif()
if(EXISTS "${SOURCE_DIR}/completion/_halvek-updater")
  list(APPEND updater_completion usr/share/zsh/vendor-completions/_halvek-updater)
endif()
check_package("${updater_deb}"
  PRESENT usr/bin/halvek-updater usr/share/applications/halvek-updater.desktop ${updater_completion}
          usr/share/metainfo/com.halvek.HubUpdater.metainfo.xml
          usr/share/icons/hicolor/48x48/apps/halvek-updater.png
          usr/share/man/man1/halvek-updater.1.gz usr/share/doc/halvek-updater/copyright
  ABSENT usr/bin/halvek-hubctl usr/lib/udev usr/share/man/man1/halvek-hubctl
         usr/share/bash-completion/completions/halvek-hubctl
  DEPENDS "halvek-hubctl \\(= [0-9.]+\\)" "libqt6widgets6" "qt6-wayland" "qt6-qpa-plugins"
          "fonts-wqy-microhei \\| fonts-noto-cjk")

execute_process(COMMAND ${path_dpkg-deb} -x "${updater_deb}" "${SCRATCH}/root"
                RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "dpkg-deb -x failed")
endif()
execute_process(COMMAND ${path_desktop-file-validate}
                        "${SCRATCH}/root/usr/share/applications/halvek-updater.desktop"
                RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
if(NOT result EQUAL 0 OR NOT output STREQUAL "")
  message(FATAL_ERROR "desktop-file-validate:\n${output}")
endif()
file(GLOB metainfo "${SCRATCH}/root/usr/share/metainfo/*.metainfo.xml")
execute_process(COMMAND ${path_appstreamcli} validate --no-net ${metainfo}
                RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "appstreamcli validate:\n${output}")
endif()

# Install and purge both in a scratch root with its own dpkg database: afterwards only that
# database may be left. dpkg needs root for it (the owners it sets); elsewhere this part is not
# run. The maintainer scripts see DPKG_ROOT and leave the running system's udev alone.
execute_process(COMMAND id -u OUTPUT_VARIABLE uid OUTPUT_STRIP_TRAILING_WHITESPACE)
if(uid STREQUAL "0")
  set(root "${SCRATCH}/purge")
  file(MAKE_DIRECTORY "${root}/var/lib/dpkg/info" "${root}/var/lib/dpkg/updates")
  file(TOUCH "${root}/var/lib/dpkg/status")
  set(dpkg ${path_dpkg} --root=${root} --log=/dev/null --force-script-chrootless
           --force-depends)
  execute_process(COMMAND ${dpkg} --install ${hubctl_deb} ${updater_deb}
                  RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
  if(NOT result EQUAL 0 OR NOT EXISTS "${root}/usr/bin/halvek-hubctl")
    message(FATAL_ERROR "dpkg --install:\n${output}")
  endif()
  execute_process(COMMAND ${dpkg} --purge halvek-updater halvek-hubctl
                  RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "dpkg --purge:\n${output}")
  endif()
  file(GLOB_RECURSE left LIST_DIRECTORIES true RELATIVE "${root}" "${root}/*")
  list(FILTER left EXCLUDE REGEX "^var(/lib(/dpkg(/.*)?)?)?$")
  if(left)
    message(FATAL_ERROR "purging the packages left: ${left}")
  endif()
  set(purged ", install and purge")
endif()

message("${debs}: lintian --pedantic, contents, dependencies, desktop-file-validate and "
        "appstreamcli validate${purged} pass")
file(REMOVE_RECURSE "${SCRATCH}")
