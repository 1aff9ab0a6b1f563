# Writes the manual page from the program's help and the extra text beside it, compressed as
# manual pages are installed:
#
#   cmake -DHELP2MAN=... -DGZIP=... -DPROGRAM=quom -DINCLUDE=quom.h2m -DOUTPUT=quom.1.gz \
#     -P ManPage.cmake
#
# The help ends with a paragraph on the keys and one on the exit statuses, under its examples; a
# manual's reader looks for them under headings of their own, so they move there. Should the help
# lose either paragraph, the page is not written: it would no longer tell them.
set(page ${OUTPUT}.tmp)
execute_process(
  COMMAND ${HELP2MAN} --no-info --section=1 --include=${INCLUDE} --output=${page} ${PROGRAM}
  RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  file(REMOVE ${page})
  message(FATAL_ERROR "help2man failed on ${PROGRAM}")
endif()
file(READ ${page} text)

# Replaces the start of a paragraph of the help, which must be there, by the start of a section.
function(make_section from to)
  string(FIND "${text}" "${from}" at)
  if(at EQUAL -1)
    file(REMOVE ${page})
    string(STRIP "${from}" what)
    message(FATAL_ERROR "quom --help has no paragraph starting '${what}' for the manual page")
  endif()
  string(REPLACE "${from}" "${to}" text "${text}")
  set(text "${text}" PARENT_SCOPE)
endfunction()
make_section("\n.IP\nOn the terminal" "\n.SH KEYS\nOn the terminal")
make_section("\n.PP\nExit status: " "\n.SH \"EXIT STATUS\"\n")

file(WRITE ${page} "${text}")
execute_process(COMMAND ${GZIP} -9nc ${page} OUTPUT_FILE ${OUTPUT}.gz.tmp RESULT_VARIABLE status)
file(REMOVE ${page})
if(NOT status EQUAL 0)
  file(REMOVE ${OUTPUT}.gz.tmp)
  message(FATAL_ERROR "gzip failed on the manual page")
endif()
file(RENAME ${OUTPUT}.gz.tmp ${OUTPUT})
