# (Included after kernels.cmake, whose test programs it also checks.)
# Programs run with every check of the checker on. Each checked copy is
# built from the program's own sources and settings plus a constructor that
# switches the checks on.

# Makes checked_<program> from <program>; sets `checked` to its name, or to
# nothing when the program is not part of this build.
function(add_checked_copy program)
  set(checked "" PARENT_SCOPE)
  if(NOT TARGET ${program})
    return()
  endif()
  get_target_property(sources ${program} SOURCES)
  get_target_property(source_dir ${program} SOURCE_DIR)
  set(full_sources "")
  foreach(src ${sources})
    if(IS_ABSOLUTE ${src})
      list(APPEND full_sources ${src})
    else()
      list(APPEND full_sources ${source_dir}/${src})
    endif()
  endforeach()
  add_executable(checked_${program} ${full_sources} ${CMAKE_CURRENT_SOURCE_DIR}/checker/check_everything.c)
  foreach(property LINK_LIBRARIES INCLUDE_DIRECTORIES COMPILE_DEFINITIONS COMPILE_OPTIONS C_STANDARD CXX_STANDARD
                   LINKER_LANGUAGE)
    get_target_property(value ${program} ${property})
    if(value)
      set_property(TARGET checked_${program} PROPERTY ${property} ${value})
    endif()
  endforeach()
  set(checked checked_${program} PARENT_SCOPE)
endfunction()

# The example programs and the worked kernels: same output, no finding.
set(checked_programs example_flat example_vec)
foreach(name ${KMR_KERNEL_NAMES})
  list(APPEND checked_programs kernel_${name}_flat kernel_${name}_vec)
endforeach()
foreach(program ${checked_programs})
  add_checked_copy(${program})
  if(checked)
    add_test(NAME ${program}_checked
             COMMAND ${CMAKE_COMMAND} -DPLAIN=$<TARGET_FILE:${program}> -DCHECKED=$<TARGET_FILE:${checked}>
                     -P ${CMAKE_CURRENT_SOURCE_DIR}/checker/run_checked.cmake)
  endif()
endforeach()

# Test programs that write their inputs through scratchpad pointers and
# check results computed from them: with every check on they still pass,
# and the checker finds nothing (the program's own stores count as writes).
foreach(program vector_expr_test vector_views_test kernels_test)
  add_checked_copy(${program})
  if(checked)
    add_test(NAME ${program}_checked
             COMMAND ${CMAKE_COMMAND} -DPROGRAM=$<TARGET_FILE:${checked}>
                     -P ${CMAKE_CURRENT_SOURCE_DIR}/checker/run_checked_tests.cmake)
  endif()
endforeach()
