# The fuzz targets' seed corpus, replayed as ordinary tests: the same
# program decoder and runner as the libFuzzer targets, with a main() that
# runs every input of tests/fuzz/corpus/<target>/.
include(${CMAKE_CURRENT_SOURCE_DIR}/fuzz/program.cmake)
foreach(target valid invalid)
  add_executable(kmrsim_fuzz_replay_${target} ${CMAKE_CURRENT_SOURCE_DIR}/fuzz/replay.cpp
                                              ${CMAKE_CURRENT_SOURCE_DIR}/fuzz/${target}_target.cpp)
  set_target_properties(kmrsim_fuzz_replay_${target} PROPERTIES CXX_STANDARD 20 CXX_STANDARD_REQUIRED ON)
  target_link_libraries(kmrsim_fuzz_replay_${target} PRIVATE kmrsim_warnings kmrsim_fuzz_program)
  add_test(NAME fuzz_corpus_${target}
           COMMAND kmrsim_fuzz_replay_${target} ${CMAKE_CURRENT_SOURCE_DIR}/fuzz/corpus/${target})
endforeach()
