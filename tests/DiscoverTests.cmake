# Writes one ctest entry per test function of a Qt Test binary, and per data row where the
# function has rows. Run after each link: -DBINARY= -DSETTINGS= -DOUTPUT=
cmake_minimum_required(VERSION 3.25)
include(${SETTINGS})
include(${CMAKE_CURRENT_LIST_DIR}/TestEnvironment.cmake)

# Listing needs no display, and a sanitizer's leak report must not fail the build.
set(ENV{QT_QPA_PLATFORM} offscreen)
set(ENV{ASAN_OPTIONS} detect_leaks=0)
foreach(option functions datatags)
  execute_process(COMMAND ${BINARY} -${option} OUTPUT_VARIABLE ${option} RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "${BINARY} -${option} failed (${result})")
  endif()
  string(REPLACE ";" "\\;" ${option} "${${option}}")
  string(REPLACE "\n" ";" ${option} "${${option}}")
endforeach()

# "Class function tag words..." per row.
set(rows_of)
foreach(line IN LISTS datatags)
  if(line MATCHES "^[^ ]+ ([^ ]+) (.+)$")
    list(APPEND rows_of_${CMAKE_MATCH_1} "${CMAKE_MATCH_2}")
  endif()
endforeach()

set(content "")
set(index 0)
set(seen)
foreach(line IN LISTS functions)
  if(NOT line MATCHES "^([A-Za-z0-9_]+)\\(\\)$")
    continue()
  endif()
  set(function ${CMAKE_MATCH_1})
  set(selectors)
  set(names)
  if(DEFINED rows_of_${function})
    foreach(tag IN LISTS rows_of_${function})
      list(APPEND selectors "${function}:${tag}")
    endforeach()
  else()
    set(selectors ${function})
  endif()
  foreach(selector IN LISTS selectors)
    string(REPLACE "\\;" ";" selector "${selector}")
    # Two rows of one tag run together under the first.
    if("${selector}" IN_LIST seen)
      continue()
    endif()
    list(APPEND seen "${selector}")
    math(EXPR index "${index} + 1")
    halvek_test_environment(environment "${ENV_ROOT}/${index}" ${TIMEOUT}
                               "${EXTRA_ENVIRONMENT}")
    string(APPEND content
           "add_test([==[${NAME} ${selector}]==] ${WRAPPER} [==[${BINARY}]==] [==[${selector}]==])\n"
           "set_tests_properties([==[${NAME} ${selector}]==] PROPERTIES TIMEOUT ${TIMEOUT} "
           "FIXTURES_REQUIRED halvek_test_env ENVIRONMENT [==[${environment}]==])\n")
  endforeach()
endforeach()
file(WRITE ${OUTPUT} "${content}")
