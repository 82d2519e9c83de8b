# The environment of one test entry whose own directories are under `dir`; makes them. Used at
# configure time and by DiscoverTests.cmake.
function(halvek_test_environment out dir timeout extra)
  file(MAKE_DIRECTORY ${dir}/state ${dir}/runtime)
  file(CHMOD ${dir}/runtime DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE)
  # Qt Test's watchdog fires first and names the function that hangs.
  math(EXPR watchdog_ms "(${timeout} - 5) * 1000")
  set(${out}
      "QT_QPA_PLATFORM=offscreen;QTEST_FUNCTION_TIMEOUT=${watchdog_ms};XDG_STATE_HOME=${dir}/state;XDG_RUNTIME_DIR=${dir}/runtime;${extra}"
      PARENT_SCOPE)
endfunction()
