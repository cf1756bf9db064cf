# Writes the manual page of folimark-stamp from the text of its --help, so
# that the two never differ.
#   cmake -DTOOL=folimark-stamp -DOUT=folimark-stamp.1 -DVERSION=x.y.z -P man_page.cmake
execute_process(COMMAND ${TOOL} --help OUTPUT_VARIABLE help RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${TOOL} --help: exit ${rc}")
endif()
# roff: a backslash is written \e, a hyphen \-, and a line that starts with a
# period or an apostrophe is guarded by \&.
string(REPLACE "\\" "\\e" help "${help}")
string(REPLACE "-" "\\-" help "${help}")
string(REGEX REPLACE "(^|\n)([.'])" "\\1\\\\&\\2" help "${help}")
file(WRITE ${OUT} ".TH FOLIMARK\\-STAMP 1 \"\" \"folimark ${VERSION}\" \"User Commands\"
.SH NAME
folimark\\-stamp \\- stamp text, the date and time or a picture onto the pages of PDF files
.SH DESCRIPTION
.nf
${help}.fi
.SH SEE ALSO
The README of folimark, which also describes the library's C interface.
")
