# Cutting a text into a CMake list of lines and back. CMake lists are
# ";"-separated and treat "\" and square brackets specially, so those
# characters are swapped for control characters (which never occur in the
# texts the tests read) before the text is cut, and swapped back by
# from_line.
string(ASCII 1 SEMI)
string(ASCII 2 LBRACKET)
string(ASCII 3 RBRACKET)
string(ASCII 4 BACKSLASH)

function(to_lines text out_var)
  string(REPLACE "\\" "${BACKSLASH}" text "${text}")
  string(REPLACE ";" "${SEMI}" text "${text}")
  string(REPLACE "[" "${LBRACKET}" text "${text}")
  string(REPLACE "]" "${RBRACKET}" text "${text}")
  string(REPLACE "\n" ";" text "${text}")
  set(${out_var} "${text}" PARENT_SCOPE)
endfunction()

function(from_line line out_var)
  string(REPLACE "${BACKSLASH}" "\\" line "${line}")
  string(REPLACE "${SEMI}" ";" line "${line}")
  string(REPLACE "${LBRACKET}" "[" line "${line}")
  string(REPLACE "${RBRACKET}" "]" line "${line}")
  set(${out_var} "${line}" PARENT_SCOPE)
endfunction()
