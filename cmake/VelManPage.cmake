# Script mode: writes the velitems manual page from `velitems help`.
#   cmake -DVELITEMS=path -DOUTPUT=file -DVERSION=x.y -P VelManPage.cmake
execute_process(COMMAND ${VELITEMS} help OUTPUT_VARIABLE help RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "velitems help failed: ${rc}")
endif()
# roff: a backslash is written \e, a line starting with a dot or quote is protected.
string(REPLACE "\\" "\\e" help "${help}")
string(REGEX REPLACE "(^|\n)([.'])" "\\1\\\\&\\2" help "${help}")
string(REGEX REPLACE "(^|\n)-" "\\1\\\\-" help "${help}")
file(WRITE ${OUTPUT}
".TH VELITEMS 1 \"\" \"velitems ${VERSION}\" \"User Commands\"
.SH NAME
velitems \\- read, write and validate media and message files through the item plugins
.SH SYNOPSIS
.B velitems
.I command
[\\fIarguments\\fR]
.SH DESCRIPTION
.nf
${help}.fi
.SH FILES
.TP
.I $VEL_REGISTRY
the registry store (default \\fI~/.local/share/velitems/registry.db\\fR)
")
