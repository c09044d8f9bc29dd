# Writes a program's manual page from its own --help, so that the two cannot drift: help2man turns
# the help into roff, and for a program with commands each `PROGRAM COMMAND --help` becomes a
# subsection of COMMANDS. Writes OUTPUT and OUTPUT.gz (compressed as Debian wants: best, no name
# or time in the header).
#
# cmake -DHELP2MAN=help2man -DGZIP=gzip -DPROGRAM=<built program> -DNAME=<one line> -DVERSION=1.0.0
#       -DINCLUDE=<static .h2m> -DOUTPUT=<page.1> [-DCOMMANDS=ON] -P man_page.cmake

function(run_help2man result)
  execute_process(
    COMMAND "${HELP2MAN}" --no-info --section=1 "--version-string=${VERSION}" ${ARGN} "${PROGRAM}"
    OUTPUT_VARIABLE page ERROR_VARIABLE errors RESULT_VARIABLE status)
  if(NOT status EQUAL 0 OR page STREQUAL "")
    message(FATAL_ERROR "help2man ${ARGN} ${PROGRAM} failed (${status}): ${errors}")
  endif()
  set(${result} "${page}" PARENT_SCOPE)
endfunction()

# help2man fills the example lines of a paragraph into one; each is a command of its own, to be
# shown as typed: one a line, never filled nor hyphenated.
function(keep_example_lines variable)
  string(REGEX REPLACE "\n\\.IP\n(kfwupdate[^\n]*(\nkfwupdate[^\n]*)*)\n" "\n.IP\n.nf\n\\1\n.fi\n"
         text "${${variable}}")
  set(${variable} "${text}" PARENT_SCOPE)
endfunction()

file(READ "${INCLUDE}" include)

if(COMMANDS)
  execute_process(COMMAND "${PROGRAM}" --help OUTPUT_VARIABLE help RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${PROGRAM} --help failed (${status})")
  endif()
  # The commands are the first word of each line of the help's "Commands:" list.
  if(NOT help MATCHES "\nCommands:\n((  [^\n]+\n)+)")
    message(FATAL_ERROR "${PROGRAM} --help lists no \"Commands:\"")
  endif()
  string(REGEX MATCHALL "\n  [a-z]+" commands "\n${CMAKE_MATCH_1}")
  string(APPEND include "\n[COMMANDS]\n")
  foreach(command IN LISTS commands)
    string(STRIP "${command}" command)
    run_help2man(page "--help-option=${command} --help")
    # Keep the synopsis and what follows, as a subsection; the command's own headings become
    # paragraphs of it.
    string(FIND "${page}" ".SH SYNOPSIS\n" start)
    if(start LESS 0)
      message(FATAL_ERROR "`${PROGRAM} ${command} --help` gives no \"Usage:\" line")
    endif()
    string(SUBSTRING "${page}" ${start} -1 page)
    string(REPLACE ".SH SYNOPSIS\n" ".SS \"${command}\"\n" page "${page}")
    string(REPLACE ".SH DESCRIPTION\n" ".PP\n" page "${page}")
    string(REGEX REPLACE "\n\\.SH ([^\n]*)\n" "\n.PP\n\\1:\n" page "${page}")
    string(REGEX REPLACE "\n\\.SS \"([^\"\n]*)\"\n" "\n.PP\n\\1\n" page "${page}")
    string(REPLACE "\n.PP\nEXAMPLES:\n" "\n.PP\nExamples:\n" page "${page}")
    string(APPEND include "${page}")
  endforeach()
endif()

set(included "${OUTPUT}.h2m")
file(WRITE "${included}" "${include}")
run_help2man(page "--name=${NAME}" "--include=${included}")
file(REMOVE "${included}")

# The help's "Exit status:" list is a section of the page of its own.
string(REPLACE ".SS \"Exit status:\"\n" ".SH \"EXIT STATUS\"\n" page "${page}")
keep_example_lines(page)
file(WRITE "${OUTPUT}" "${page}")

execute_process(COMMAND "${GZIP}" -9 -n -c "${OUTPUT}" OUTPUT_FILE "${OUTPUT}.gz"
                RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "gzip ${OUTPUT} failed (${status})")
endif()
