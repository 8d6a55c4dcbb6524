# The program decoder and runner shared by the libFuzzer targets and the
# corpus replay of the ordinary test suite.
add_library(kmrsim_fuzz_program STATIC ${CMAKE_CURRENT_LIST_DIR}/program.cpp ${CMAKE_CURRENT_LIST_DIR}/calls.cpp
                                       ${CMAKE_CURRENT_LIST_DIR}/invalid.cpp)
set_target_properties(kmrsim_fuzz_program PROPERTIES CXX_STANDARD 20 CXX_STANDARD_REQUIRED ON)
target_include_directories(kmrsim_fuzz_program PUBLIC ${CMAKE_CURRENT_LIST_DIR} ${PROJECT_SOURCE_DIR}/tests)
target_link_libraries(kmrsim_fuzz_program PRIVATE kmrsim_warnings PUBLIC kmrsim)
