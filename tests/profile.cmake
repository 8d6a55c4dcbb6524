# The profiling calls. profile_test checks call sites against its own
# source lines, so it carries debug information in every build type.
target_compile_options(profile_test PRIVATE -g)

# A kernel built with debug information and profiled: callgrind_annotate
# must show its hottest source line, and tools/kmrsim-plot must draw its
# statistics JSON (the plotted series are checked against the JSON).
add_executable(profile_hot_kernel ${CMAKE_CURRENT_SOURCE_DIR}/profile/hot_kernel.c)
set_target_properties(profile_hot_kernel PROPERTIES C_STANDARD 11 C_STANDARD_REQUIRED ON C_EXTENSIONS OFF
                                                    LINKER_LANGUAGE CXX)
target_compile_options(profile_hot_kernel PRIVATE -g -pedantic)
target_link_libraries(profile_hot_kernel PRIVATE kmrsim_warnings kmrsim kmr_api)

find_program(KMRSIM_CALLGRIND_ANNOTATE callgrind_annotate)
if(KMRSIM_CALLGRIND_ANNOTATE)
  add_test(NAME profile_callgrind_names_hottest_line
           COMMAND ${CMAKE_COMMAND} -DPROGRAM=$<TARGET_FILE:profile_hot_kernel>
                   -DANNOTATE=${KMRSIM_CALLGRIND_ANNOTATE} -DWORK_DIR=${CMAKE_CURRENT_BINARY_DIR}/profile/callgrind
                   -P ${CMAKE_CURRENT_SOURCE_DIR}/profile/check_callgrind.cmake)
  set_tests_properties(profile_callgrind_names_hottest_line PROPERTIES TIMEOUT 300)
else()
  message(WARNING "callgrind_annotate not found (scripts/deps.sh test installs valgrind): "
                  "the call-site profile is not checked with it")
endif()

add_test(NAME profile_plot_draws_the_statistics
         COMMAND ${CMAKE_COMMAND} -DPROGRAM=$<TARGET_FILE:profile_hot_kernel>
                 -DPLOT=${PROJECT_SOURCE_DIR}/tools/kmrsim-plot -DWORK_DIR=${CMAKE_CURRENT_BINARY_DIR}/profile/plot
                 -P ${CMAKE_CURRENT_SOURCE_DIR}/profile/check_plot.cmake)
set_tests_properties(profile_plot_draws_the_statistics PROPERTIES TIMEOUT 300)
