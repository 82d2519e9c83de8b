# Builds the .deb and checks it as a user's system would: lintian (no errors, no warnings), the
# desktop entry and the AppStream metainfo; and that building it left the user's install
# manifest alone. Run by ctest:
#   cmake -DBUILD_DIR=... -DSCRATCH=... -DSOURCE_DIR=... -DCPACK=... -P CheckPackage.cmake
foreach(tool lintian desktop-file-validate appstreamcli dpkg-deb)
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
file(GLOB deb "${SCRATCH}/*.deb")
if(NOT result EQUAL 0 OR NOT deb)
  message(FATAL_ERROR "cpack failed: ${output}")
endif()

expect_install_manifest(manifest_before "building the package")

# Errors and warnings fail; pedantic and informational tags may stay.
execute_process(COMMAND ${path_lintian} --fail-on error,warning "${deb}"
                RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "lintian:\n${output}")
endif()

execute_process(COMMAND ${path_dpkg-deb} -x "${deb}" "${SCRATCH}/root" RESULT_VARIABLE result)
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
if(NOT metainfo)
  message(FATAL_ERROR "no AppStream metainfo in the package")
endif()
execute_process(COMMAND ${path_appstreamcli} validate --no-net ${metainfo}
                RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "appstreamcli validate:\n${output}")
endif()
message("${deb}: lintian, desktop-file-validate and appstreamcli validate pass")
file(REMOVE_RECURSE "${SCRATCH}")
