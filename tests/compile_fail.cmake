# Compile-fail checks of the vector library's static rules: every
# tests/compile_fail/*.cpp compiles as it is and fails to compile, with the
# diagnostic its "// expect-error: " line names, when KMR_COMPILE_FAIL is
# defined (see compile_fail/run.cmake).
file(GLOB KMRSIM_COMPILE_FAIL_CASES CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/compile_fail/*.cpp)
foreach(case ${KMRSIM_COMPILE_FAIL_CASES})
  get_filename_component(name ${case} NAME_WE)
  add_test(NAME compile_fail_${name}
           COMMAND ${CMAKE_COMMAND} -DCXX=${CMAKE_CXX_COMPILER} -DSOURCE=${case} -DINCLUDE=${KMRAPI_DIR}
                   -P ${CMAKE_CURRENT_SOURCE_DIR}/compile_fail/run.cmake)
endforeach()
