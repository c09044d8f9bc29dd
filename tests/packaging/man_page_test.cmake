# Checks a manual page made from a program's help: man renders it without a warning (as lintian
# asks), it has the sections a reader looks for, and every option of the program's help, and of
# each command's help, is in it.
# cmake -DPROGRAM=<built program> -DPAGE=<page.1> -DSAMPLE_DIR=<where the sample is installed,
#       under the prefix> -P man_page_test.cmake

function(fail text)
  message(FATAL_ERROR "${PAGE}: ${text}")
endfunction()

# Every option a help text names (a word that starts with one or two dashes after a space, "[",
# "(" or "|", or at the start of a line) must be in the page.
function(check_options help)
  # Brackets would group the words of a CMake list: they go first.
  string(REGEX REPLACE "[][(|]" " " help "${help}")
  string(REGEX MATCHALL "(^|[\n ])--?[a-z][a-z0-9-]*" words "${help}")
  foreach(word IN LISTS words)
    string(STRIP "${word}" option)
    string(FIND "${text}" "${option}" at)
    if(at LESS 0)
      fail("does not name the option ${option}")
    endif()
  endforeach()
endfunction()

if(NOT EXISTS "${PAGE}")
  fail("missing; is help2man installed (scripts/install-deps.sh)?")
endif()

find_program(MAN man)
if(NOT MAN)
  fail("cannot be rendered: install man-db (scripts/install-deps.sh)")
endif()
execute_process(
  COMMAND ${CMAKE_COMMAND} -E env LC_ALL=C.UTF-8 MANROFFSEQ= MANWIDTH=80
          "${MAN}" --warnings -E UTF-8 -l -Tutf8 -Z "${PAGE}"
  OUTPUT_QUIET ERROR_VARIABLE warnings RESULT_VARIABLE status)
if(NOT status EQUAL 0 OR NOT warnings STREQUAL "")
  fail("man reports (${status}):\n${warnings}")
endif()

file(READ "${PAGE}" page)
# The page as text: dashes unescaped, font changes taken out.
string(REPLACE "\\-" "-" text "${page}")
string(REGEX REPLACE "\\\\f[BIRP]|\\\\[,/]" "" text "${text}")

foreach(section NAME SYNOPSIS DESCRIPTION OPTIONS "\"EXIT STATUS\"" ENVIRONMENT FILES EXAMPLES)
  if(NOT page MATCHES "\n\\.SH ${section}\n")
    fail("has no section ${section}")
  endif()
endforeach()

# A path to the sample image works once the package is installed: where it puts the sample
# (SAMPLE_DIR, under /usr for the Debian package, /usr/local for `cmake --install`), never a path
# into the source tree such as samples/demo.kfw.
string(REPLACE "\\%" "" plain "${text}")
string(REGEX MATCHALL "[^ \n\"'(`]*demo\\.kfw" samples "${plain}")
foreach(sample IN LISTS samples)
  if(NOT sample MATCHES "^/usr(/local)?/${SAMPLE_DIR}/demo\\.kfw$")
    fail("names the sample image as ${sample}, which is not where it is installed "
         "(/usr/${SAMPLE_DIR}/demo.kfw)")
  endif()
endforeach()

# The help is asked for without a display, as help2man does on a build machine.
execute_process(
  COMMAND ${CMAKE_COMMAND} -E env --unset=DISPLAY --unset=WAYLAND_DISPLAY --unset=QT_QPA_PLATFORM
          "${PROGRAM}" --help
  OUTPUT_VARIABLE help ERROR_VARIABLE errors RESULT_VARIABLE status)
if(NOT status EQUAL 0 OR NOT help MATCHES "(^|\n)Usage: ")
  fail("${PROGRAM} --help without a display failed (${status}): ${errors}")
endif()
check_options("${help}")
set(commands "")
if(help MATCHES "\nCommands:\n((  [^\n]+\n)+)")
  string(REGEX MATCHALL "\n  [a-z]+" commands "\n${CMAKE_MATCH_1}")
endif()
foreach(command IN LISTS commands)
  string(STRIP "${command}" command)
  if(NOT page MATCHES "\n\\.SS \"${command}\"\n")
    fail("has no subsection for the command ${command}")
  endif()
  execute_process(COMMAND "${PROGRAM}" ${command} --help OUTPUT_VARIABLE help)
  check_options("${help}")
endforeach()
