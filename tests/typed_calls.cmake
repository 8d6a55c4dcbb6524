# The typed calls of kmr_cproto.h, compiled as strict C11: every call of
# every family against the entry point it issues.
add_executable(typed_calls_c ${CMAKE_CURRENT_SOURCE_DIR}/typed_calls/typed_calls.c)
set_target_properties(typed_calls_c PROPERTIES C_STANDARD 11 C_STANDARD_REQUIRED ON C_EXTENSIONS OFF
                                               LINKER_LANGUAGE CXX)
target_compile_options(typed_calls_c PRIVATE -pedantic)
target_link_libraries(typed_calls_c PRIVATE kmrsim_warnings kmrsim kmr_api)
add_test(NAME typed_calls_c COMMAND typed_calls_c)
