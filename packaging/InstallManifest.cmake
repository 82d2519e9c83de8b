# The user's own install manifest (install_manifest.txt in BUILD_DIR, which the README's
# uninstall reads): the checks that install or package the build must leave it as it was.

# Sets `out` to the manifest as it is now (empty when there is none).
function(read_install_manifest out)
  set(text "")
  if(EXISTS "${BUILD_DIR}/install_manifest.txt")
    file(READ "${BUILD_DIR}/install_manifest.txt" text)
  endif()
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

# Fails unless the manifest still reads as the variable named `before`; `what` is what ran.
function(expect_install_manifest before what)
  read_install_manifest(after)
  if(NOT after STREQUAL "${${before}}")
    message(FATAL_ERROR "${what} rewrote ${BUILD_DIR}/install_manifest.txt")
  endif()
endfunction()
