# Empties every test's state and runtime directories under -DROOT=, so that no run sees what an
# earlier one left (a saved state file, a lock).
file(GLOB dirs LIST_DIRECTORIES true
     "${ROOT}/*/state" "${ROOT}/*/runtime" "${ROOT}/*/*/state" "${ROOT}/*/*/runtime")
foreach(dir IN LISTS dirs)
  if(IS_DIRECTORY "${dir}")
    file(REMOVE_RECURSE "${dir}")
    file(MAKE_DIRECTORY "${dir}")
    file(CHMOD "${dir}" DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE)
  endif()
endforeach()
