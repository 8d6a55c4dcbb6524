# Checks the program output quoted on a documentation page against the
# program. On PAGE, every fenced block right after a line
#
#     <!-- output of NAME -->
#
# quotes what PROGRAM prints: each of its lines must be a line of the
# program's standard output, in the same order; consecutive quoted lines
# must be consecutive in the output, and a line "..." stands for any number
# of omitted lines. The page must have at least one such block.
cmake_minimum_required(VERSION 3.20)

include(${CMAKE_CURRENT_LIST_DIR}/../cmake/text_lines.cmake)

execute_process(COMMAND ${PROGRAM} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${PROGRAM} exited with ${rc}:\n${err}")
endif()
to_lines("${out}" out_lines)
list(LENGTH out_lines n_out)

file(READ ${PAGE} page)
to_lines("${page}" page_lines)

set(blocks 0)
set(state none)  # none, marker (marker seen), block (inside a quoted block)
set(lineno 0)
foreach(line IN LISTS page_lines)
  math(EXPR lineno "${lineno} + 1")
  if(state STREQUAL "none")
    if(line STREQUAL "<!-- output of ${NAME} -->")
      set(state marker)
    endif()
  elseif(state STREQUAL "marker")
    if(NOT line MATCHES "^```")
      message(FATAL_ERROR "${PAGE}:${lineno}: a fenced block must follow the marker for ${NAME}")
    endif()
    set(state block)
    set(pos 0)          # where the next quoted line is looked for
    set(anywhere TRUE)  # whether it may come later than pos
    math(EXPR blocks "${blocks} + 1")
  elseif(line MATCHES "^```")
    set(state none)
  elseif(line STREQUAL "...")
    set(anywhere TRUE)
  else()
    set(found -1)
    set(i ${pos})
    while(i LESS n_out)
      list(GET out_lines ${i} candidate)
      if(candidate STREQUAL line)
        set(found ${i})
        break()
      endif()
      if(NOT anywhere)
        break()
      endif()
      math(EXPR i "${i} + 1")
    endwhile()
    if(found EQUAL -1)
      string(REPLACE "${LBRACKET}" "[" shown "${line}")
      string(REPLACE "${RBRACKET}" "]" shown "${shown}")
      message(FATAL_ERROR "${PAGE}:${lineno}: ${NAME} does not print this line "
                          "(there, in this order):\n${shown}\nIt printed:\n${out}")
    endif()
    math(EXPR pos "${found} + 1")
    set(anywhere FALSE)
  endif()
endforeach()
if(blocks EQUAL 0)
  message(FATAL_ERROR "${PAGE} quotes no output of ${NAME} (no line \"<!-- output of ${NAME} -->\")")
endif()
