# Renders a manual page as a plain text file for Windows: groff's terminal
# output without bold or underline, runs of blank lines made one, UTF-8 with a
# byte order mark and CR LF line ends.
#   cmake -DGROFF=groff -DPAGE=wavwiden.1 -DTEXT=out.txt -P render_text.cmake
execute_process(COMMAND ${GROFF} -k -man -Tutf8 -P-cbou ${PAGE}
                OUTPUT_VARIABLE text RESULT_VARIABLE status)
if(NOT status EQUAL 0 OR text STREQUAL "")
  message(FATAL_ERROR "groff could not render ${PAGE}")
endif()
string(REGEX REPLACE "^\n+" "" text "${text}")
string(REGEX REPLACE "\n\n\n+" "\n\n" text "${text}")
string(REPLACE "\n" "\r\n" text "${text}")
string(ASCII 239 187 191 bom)
file(WRITE ${TEXT} "${bom}${text}")
