# Checks a man page against the program's --help: the same options, every command and every exit
# code, and a page groff renders without warnings.
#   cmake -DPROGRAM=... -DMANPAGE=... -P CheckManPage.cmake
# A program without --help yet is skipped (the test's SKIP_REGULAR_EXPRESSION is "SKIPPED:").
get_filename_component(name "${PROGRAM}" NAME)
execute_process(COMMAND "${PROGRAM}" --help RESULT_VARIABLE rc OUTPUT_VARIABLE help
                ERROR_VARIABLE help_err TIMEOUT 20)
if(NOT rc EQUAL 0)
  message("SKIPPED: ${name} --help exits with ${rc} (${help_err}); nothing to compare the page with")
  return()
endif()
file(READ "${MANPAGE}" page)
string(REPLACE "\\-" "-" page "${page}")

function(options_of text out)
  string(REGEX MATCHALL "--[a-z][a-z-]*[a-z]" found "${text}")
  list(REMOVE_DUPLICATES found)
  list(SORT found)
  set(${out} "${found}" PARENT_SCOPE)
endfunction()
options_of("${help}" help_options)
options_of("${page}" page_options)
if(NOT help_options STREQUAL page_options)
  message(FATAL_ERROR "options differ:\n  --help:   ${help_options}\n  man page: ${page_options}")
endif()

# Commands: the first word of each line of the help's "Commands:" block.
if(help MATCHES "\nCommands:\n(.*)\n\n")
  string(REGEX MATCHALL "\n  [a-z][a-z-]*" commands "\n${CMAKE_MATCH_1}")
  foreach(command IN LISTS commands)
    string(STRIP "${command}" command)
    if(NOT page MATCHES "\n\\.B ${command}[ \n]")
      message(FATAL_ERROR "command ${command} is not in the man page")
    endif()
  endforeach()
endif()

# Exit codes: "N word" after "Exit codes:", each an entry of EXIT STATUS.
if(help MATCHES "\nExit codes:(.*)$")
  string(REGEX MATCHALL "[0-9]+ [a-z]" codes "${CMAKE_MATCH_1}")
  string(REGEX REPLACE ".*\n\\.SH EXIT STATUS\n" "" status "${page}")
  string(REGEX REPLACE "\n\\.SH .*" "" status "${status}")
  foreach(code IN LISTS codes)
    string(REGEX REPLACE " .*" "" code "${code}")
    if(NOT status MATCHES "\n\\.B ${code}\n")
      message(FATAL_ERROR "exit code ${code} is not under EXIT STATUS")
    endif()
  endforeach()
endif()

find_program(GROFF groff)
if(GROFF)
  execute_process(COMMAND ${GROFF} -man -ww -z -K utf8 "${MANPAGE}"
                  RESULT_VARIABLE rc ERROR_VARIABLE warnings)
  if(NOT rc EQUAL 0 OR NOT warnings STREQUAL "")
    message(FATAL_ERROR "groff: ${warnings}")
  endif()
endif()
message("${name}: the man page lists every option (${help_options}), command and exit code")
