# Runs the profiled kernel, then callgrind_annotate on its call-site
# profile, and checks that the annotated source shows the kernel's hottest
# line (the one marked HOTTEST) with the largest cycle count, and that the
# function list names the kernel's function in its file.
#   PROGRAM     the kernel (writes the profile to its first argument)
#   ANNOTATE    callgrind_annotate
#   WORK_DIR    where the files go
include(${CMAKE_CURRENT_LIST_DIR}/../cmake/run_step.cmake)
include(${CMAKE_CURRENT_LIST_DIR}/../cmake/text_lines.cmake)

file(MAKE_DIRECTORY ${WORK_DIR})
set(profile ${WORK_DIR}/callgrind.out.hot_kernel)
run_step("the profiled kernel" ${PROGRAM} ${profile} ${WORK_DIR}/hot_kernel.json)

execute_process(COMMAND ${ANNOTATE} --auto=yes --show=Cyc1 --sort=Cyc1 ${profile}
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "callgrind_annotate failed (${rc}):\n${err}")
endif()
file(WRITE ${WORK_DIR}/annotated.txt "${out}")

if(NOT out MATCHES "hot_kernel\\.c:smooth ")
  message(FATAL_ERROR "the function list does not name hot_kernel.c:smooth:\n${out}")
endif()

# Annotated source lines: "  8,064 (93.4%)      source text".
to_lines("${out}" lines)
set(best -1)
set(best_text "")
foreach(line IN LISTS lines)
  from_line("${line}" line)
  if(line MATCHES "^ *([0-9,]+) \\( *[0-9.]+%\\)  (.*)$")
    set(text "${CMAKE_MATCH_2}")
    string(REPLACE "," "" count "${CMAKE_MATCH_1}")
    # Lines of the function list end with "file:function [object]".
    if(NOT text MATCHES "hot_kernel\\.c:" AND NOT text MATCHES "events annotated|PROGRAM TOTALS")
      if(count GREATER best)
        set(best ${count})
        set(best_text "${text}")
      endif()
    endif()
  endif()
endforeach()
if(best LESS_EQUAL 0)
  message(FATAL_ERROR "no annotated source line with a cost:\n${out}")
endif()
if(NOT best_text MATCHES "kmr_2D_VVWWS\\(VADD, tmp, img, img \\+ 1\\); /\\* HOTTEST \\*/")
  message(FATAL_ERROR "the line with the most cycles (${best}) is not the hottest line: '${best_text}'\n${out}")
endif()
message(STATUS "hottest line: ${best} cycles on one lane: ${best_text}")
