# Runs in script mode (cmake -P): compiles, links and runs every snippet of
# one documentation page and compares what it prints with the page.
#
# A snippet is a fenced code block (fences of three or more backticks at the
# start of a line) whose info string is `c` or `cpp`. It is a complete
# program: C is compiled as strict C11, C++ as C++17, both with warnings as
# errors, linked against LIBRARIES and run in WORK_DIR; it must exit with
# status 0. A block with info string `output` that follows the snippet
# (blank lines allowed, nothing else) holds the exact standard output; a
# block `stderr` holds the exact standard error the same way, except that
# "..." in one of its lines stands for any text. Every line of such a block
# stands for one line of output ending in a newline.
#
# Every snippet of the page is tried; the failures are then reported
# together, each with the page, the snippet's line number and what went
# wrong, and the script fails.
#
# Variables (lists are separated by "|"):
#   PAGE          the Markdown file
#   PAGE_NAME     the name failures are reported under (default: PAGE)
#   WORK_DIR      where sources, objects and programs are written
#   C_COMPILER, CXX_COMPILER
#   INCLUDE_DIRS  header directories
#   LIBRARIES     static libraries, in link order
#   COMPILE_FLAGS, LINK_FLAGS  extra flags (sanitizers)
cmake_minimum_required(VERSION 3.20)

foreach(var PAGE WORK_DIR C_COMPILER CXX_COMPILER)
  if(NOT ${var})
    message(FATAL_ERROR "run_snippets.cmake needs -D${var}=...")
  endif()
endforeach()
if(NOT PAGE_NAME)
  set(PAGE_NAME ${PAGE})
endif()
foreach(var INCLUDE_DIRS LIBRARIES COMPILE_FLAGS LINK_FLAGS)
  string(REPLACE "|" ";" ${var} "${${var}}")
endforeach()

set(include_flags)
foreach(dir ${INCLUDE_DIRS})
  list(APPEND include_flags -I${dir})
endforeach()

include(${CMAKE_CURRENT_LIST_DIR}/../cmake/text_lines.cmake)

# Number of lines of a text in which every line ends in a newline (a last
# line without one counts too).
function(count_lines text lines out_var)
  list(LENGTH lines n)
  if(text MATCHES "\n$")
    math(EXPR n "${n} - 1")
  endif()
  set(${out_var} ${n} PARENT_SCOPE)
endfunction()

# Whether an actual standard error matches a stderr block: line for line,
# where "..." in a block line stands for any text (addresses and call sites
# that differ from run to run).
function(stderr_matches expected actual out_var)
  to_lines("${expected}" exp_lines)
  to_lines("${actual}" act_lines)
  count_lines("${expected}" "${exp_lines}" n_exp)
  count_lines("${actual}" "${act_lines}" n_act)
  set(${out_var} FALSE PARENT_SCOPE)
  if(NOT n_exp EQUAL n_act OR NOT actual MATCHES "(^|\n)$")
    return()
  endif()
  set(i 0)
  while(i LESS n_exp)
    list(GET exp_lines ${i} e)
    list(GET act_lines ${i} a)
    from_line("${e}" e)
    from_line("${a}" a)
    string(FIND "${e}" "..." wild)
    if(wild EQUAL -1)
      if(NOT e STREQUAL a)
        return()
      endif()
    else()
      string(REGEX REPLACE "([][\\^$.|?*+(){}])" "\\\\\\1" pattern "${e}")
      string(REPLACE "\\.\\.\\." ".*" pattern "${pattern}")
      if(NOT a MATCHES "^${pattern}$")
        return()
      endif()
    endif()
    math(EXPR i "${i} + 1")
  endwhile()
  set(${out_var} TRUE PARENT_SCOPE)
endfunction()

# A positional comparison of two texts, line by line: equal lines are shown
# indented, differing ones as "-" (expected) and "+" (actual). Outputs are
# short, so this is enough to see what changed.
function(describe_difference expected actual out_var)
  to_lines("${expected}" exp_lines)
  to_lines("${actual}" act_lines)
  count_lines("${expected}" "${exp_lines}" n_exp)
  count_lines("${actual}" "${act_lines}" n_act)
  set(report "  --- expected\n  +++ actual\n")
  set(i 0)
  while(i LESS n_exp OR i LESS n_act)
    set(e "")
    set(a "")
    if(i LESS n_exp)
      list(GET exp_lines ${i} e)
      from_line("${e}" e)
    endif()
    if(i LESS n_act)
      list(GET act_lines ${i} a)
      from_line("${a}" a)
    endif()
    if(i LESS n_exp AND i LESS n_act AND e STREQUAL a)
      string(APPEND report "   ${e}\n")
    else()
      if(i LESS n_exp)
        string(APPEND report "  -${e}\n")
      endif()
      if(i LESS n_act)
        string(APPEND report "  +${a}\n")
      endif()
    endif()
    math(EXPR i "${i} + 1")
  endwhile()
  if(NOT actual STREQUAL "" AND NOT actual MATCHES "\n$")
    string(APPEND report "  (the actual output does not end in a newline)\n")
  endif()
  set(${out_var} "${report}" PARENT_SCOPE)
endfunction()

set(failures "")
set(snippet_count 0)

function(fail line what)
  set(failures "${failures}${PAGE_NAME}:${line}: ${what}\n" PARENT_SCOPE)
endfunction()

# Runs one compiler or linker step; on failure records its output and sets
# ok to FALSE in the caller.
macro(build_step step_line what)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE step_rc OUTPUT_VARIABLE step_out ERROR_VARIABLE step_out)
  if(NOT step_rc EQUAL 0)
    fail(${step_line} "the snippet does not ${what}:\n${step_out}")
    set(ok FALSE)
  endif()
endmacro()

# Builds and runs the pending snippet (variables snip_*), then forgets it.
macro(finish_snippet)
  if(snip_line)
    math(EXPR snippet_count "${snippet_count} + 1")
    set(ok TRUE)
    set(base "${WORK_DIR}/L${snip_line}")
    if(snip_lang STREQUAL "c")
      set(src "${base}.c")
      set(compile ${C_COMPILER} -std=c11 -Wall -Wextra -Werror -pedantic)
    else()
      set(src "${base}.cpp")
      set(compile ${CXX_COMPILER} -std=c++17 -Wall -Wextra -Werror)
    endif()
    file(WRITE "${src}" "${snip_code}")
    build_step(${snip_line} "compile" ${compile} ${COMPILE_FLAGS} ${include_flags} -c "${src}" -o "${base}.o")
    if(ok)
      build_step(${snip_line} "link" ${CXX_COMPILER} ${LINK_FLAGS} "${base}.o" ${LIBRARIES} -o "${base}")
    endif()
    if(ok)
      execute_process(COMMAND "${base}" WORKING_DIRECTORY "${WORK_DIR}" TIMEOUT 60 RESULT_VARIABLE run_rc
                      OUTPUT_VARIABLE run_out ERROR_VARIABLE run_err)
      if(NOT run_rc STREQUAL "0")
        fail(${snip_line} "the snippet exited with '${run_rc}' (${src}); standard error:\n${run_err}")
      else()
        if(snip_has_output AND NOT run_out STREQUAL snip_output)
          describe_difference("${snip_output}" "${run_out}" diff)
          fail(${snip_line} "standard output differs from the output block at line ${snip_output_line}:\n${diff}")
        endif()
        set(err_ok TRUE)
        if(snip_has_stderr)
          stderr_matches("${snip_stderr}" "${run_err}" err_ok)
        endif()
        if(NOT err_ok)
          describe_difference("${snip_stderr}" "${run_err}" diff)
          fail(${snip_line} "standard error differs from the stderr block at line ${snip_stderr_line}:\n${diff}")
        endif()
      endif()
    endif()
  endif()
  set(snip_line "")
  set(snip_has_output FALSE)
  set(snip_has_stderr FALSE)
endmacro()

file(REMOVE_RECURSE "${WORK_DIR}")
file(MAKE_DIRECTORY "${WORK_DIR}")
file(READ "${PAGE}" page_text)
to_lines("${page_text}" page_lines)

set(lineno 0)
set(in_block FALSE)
set(snip_line "")
set(snip_has_output FALSE)
set(snip_has_stderr FALSE)
foreach(raw IN LISTS page_lines)
  math(EXPR lineno "${lineno} + 1")
  from_line("${raw}" line)
  if(NOT in_block)
    if(line MATCHES "^(```+)[ \t]*([^ \t`]*)")
      string(LENGTH "${CMAKE_MATCH_1}" fence_len)
      set(block_info "${CMAKE_MATCH_2}")
      set(block_line ${lineno})
      set(block_text "")
      set(in_block TRUE)
    elseif(NOT line MATCHES "^[ \t]*$")
      # Prose between a snippet and a block detaches the block.
      finish_snippet()
    endif()
    continue()
  endif()

  if(line MATCHES "^(```+)[ \t]*$")
    string(LENGTH "${CMAKE_MATCH_1}" close_len)
    if(NOT close_len LESS fence_len)
      set(in_block FALSE)
      if(block_info STREQUAL "c" OR block_info STREQUAL "cpp")
        finish_snippet()
        set(snip_line ${block_line})
        set(snip_lang ${block_info})
        set(snip_code "${block_text}")
      elseif(block_info STREQUAL "output" OR block_info STREQUAL "stderr")
        if(NOT snip_line)
          fail(${block_line} "this ${block_info} block does not follow a c or cpp snippet")
        elseif(block_info STREQUAL "output")
          if(snip_has_output)
            fail(${block_line} "a second output block for the snippet at line ${snip_line}")
          endif()
          set(snip_has_output TRUE)
          set(snip_output "${block_text}")
          set(snip_output_line ${block_line})
        else()
          if(snip_has_stderr)
            fail(${block_line} "a second stderr block for the snippet at line ${snip_line}")
          endif()
          set(snip_has_stderr TRUE)
          set(snip_stderr "${block_text}")
          set(snip_stderr_line ${block_line})
        endif()
      else()
        finish_snippet()
      endif()
      continue()
    endif()
  endif()
  string(APPEND block_text "${line}\n")
endforeach()

finish_snippet()
if(in_block)
  fail(${block_line} "the code block opened here is never closed")
endif()

# Printed as they are: FATAL_ERROR would re-wrap the compiler messages and
# the comparisons.
if(NOT failures STREQUAL "")
  message("${failures}")
  message(FATAL_ERROR "${PAGE_NAME}: failures above (${snippet_count} snippet(s) on the page)")
endif()
message(STATUS "${PAGE_NAME}: ${snippet_count} snippet(s) passed")
