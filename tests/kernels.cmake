# The worked kernels (examples/kernels). In a build without the examples
# the kernel library is built here for the tests alone.
if(NOT TARGET kmr_kernels)
  add_subdirectory(${PROJECT_SOURCE_DIR}/examples/kernels ${PROJECT_BINARY_DIR}/examples/kernels)
endif()

# The kernel functions against their references, and flat against library.
add_executable(kernels_test ${CMAKE_CURRENT_SOURCE_DIR}/kernels/kernels_test.cpp)
set_target_properties(kernels_test PROPERTIES CXX_STANDARD 20 CXX_STANDARD_REQUIRED ON)
target_link_libraries(kernels_test PRIVATE kmrsim_warnings kmr_kernels GTest::gtest GTest::gtest_main)
gtest_discover_tests(kernels_test DISCOVERY_TIMEOUT 60)

# The library test of the Q15 FIR calls the kernel's block functions.
target_link_libraries(vector_kernels_test PRIVATE kmr_kernels)

# The programs: each runs and passes its reference check, the flat and the
# library program print the same (threshold: the same result line; its
# statistics differ by design, see docs/kernels/threshold.md), a build whose
# kernel gives a wrong result fails with an "Error: " line, and the output
# quoted on the kernel's page is what the program prints.
if(NOT TARGET kernel_fir_flat)
  return()
endif()
foreach(name ${KMR_KERNEL_NAMES})
  foreach(variant flat vec)
    add_test(NAME kernel_${name}_${variant} COMMAND kernel_${name}_${variant})
    add_test(NAME kernel_${name}_${variant}_page_output
             COMMAND ${CMAKE_COMMAND} -DPROGRAM=$<TARGET_FILE:kernel_${name}_${variant}>
                     -DNAME=kernel_${name}_${variant} -DPAGE=${PROJECT_SOURCE_DIR}/docs/kernels/${name}.md
                     -P ${CMAKE_CURRENT_SOURCE_DIR}/kernels/check_page_output.cmake)
  endforeach()

  set(lines "")
  if(name STREQUAL "threshold")
    set(lines -DLINES=1)
  endif()
  add_test(NAME kernel_${name}_flat_and_vec_agree
           COMMAND ${CMAKE_COMMAND} -DFIRST=$<TARGET_FILE:kernel_${name}_flat>
                   -DSECOND=$<TARGET_FILE:kernel_${name}_vec> ${lines}
                   -P ${CMAKE_CURRENT_SOURCE_DIR}/kernels/compare_programs.cmake)

  add_executable(kernel_${name}_wrong ${PROJECT_SOURCE_DIR}/examples/kernels/${name}/${name}_main.c
                                      ${CMAKE_CURRENT_SOURCE_DIR}/kernels/wrong_results.c)
  set_target_properties(kernel_${name}_wrong PROPERTIES C_STANDARD 11 C_STANDARD_REQUIRED ON C_EXTENSIONS OFF
                                                        LINKER_LANGUAGE CXX)
  target_compile_definitions(kernel_${name}_wrong PRIVATE KERNEL=${name}_wrong)
  target_link_libraries(kernel_${name}_wrong PRIVATE kmrsim_warnings kmr_kernels)
  add_test(NAME kernel_${name}_reports_a_wrong_result
           COMMAND ${CMAKE_COMMAND} -DPROGRAM=$<TARGET_FILE:kernel_${name}_wrong> -DMESSAGE=${name}:
                   -P ${CMAKE_CURRENT_SOURCE_DIR}/kernels/expect_error.cmake)
endforeach()
