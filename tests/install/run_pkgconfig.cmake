# Runs in script mode (cmake -P): installs BUILD_DIR into WORK_DIR/prefix,
# then builds two programs with the plain compiler drivers, every kmrsim
# flag coming from pkg-config, and runs them:
#   C_COMPILER main.c $(pkg-config --cflags --libs kmrsim)        (c11/)
#   CXX_COMPILER -std=c++17 main.cpp $(pkg-config ...)             (consumer/)
# kmrsim.pc must sit in <prefix>/LIBDIR/pkgconfig and carry VERSION.
# Optional: CONFIG, LINK_FLAGS (added to both links).
foreach(var BUILD_DIR SOURCE_DIR WORK_DIR PKG_CONFIG C_COMPILER CXX_COMPILER LIBDIR VERSION)
  if(NOT ${var})
    message(FATAL_ERROR "run_pkgconfig.cmake needs -D${var}=...")
  endif()
endforeach()

include(${CMAKE_CURRENT_LIST_DIR}/../cmake/run_step.cmake)

function(pkg_config result)
  execute_process(COMMAND ${PKG_CONFIG} ${ARGN} kmrsim RESULT_VARIABLE rc OUTPUT_VARIABLE out
                  ERROR_VARIABLE err OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "pkg-config ${ARGN} kmrsim failed (${rc}): ${err}")
  endif()
  set(${result} "${out}" PARENT_SCOPE)
endfunction()

set(prefix ${WORK_DIR}/prefix)
file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR})

set(config_args)
if(CONFIG)
  set(config_args --config ${CONFIG})
endif()
run_step("install" ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix} ${config_args})

set(pc_dir ${prefix}/${LIBDIR}/pkgconfig)
if(NOT EXISTS ${pc_dir}/kmrsim.pc)
  message(FATAL_ERROR "kmrsim.pc is not installed in ${pc_dir}")
endif()
# Only the freshly installed tree, whatever else the machine has.
set(ENV{PKG_CONFIG_PATH} ${pc_dir})
set(ENV{PKG_CONFIG_LIBDIR} ${pc_dir})

pkg_config(version --modversion)
if(NOT version STREQUAL VERSION)
  message(FATAL_ERROR "kmrsim.pc says version '${version}', the project is ${VERSION}")
endif()
pkg_config(flags --cflags --libs)
message("pkg-config --cflags --libs kmrsim: ${flags}")
separate_arguments(flags UNIX_COMMAND "${flags}")
separate_arguments(link_flags UNIX_COMMAND "${LINK_FLAGS}")

run_step("C build" ${C_COMPILER} -std=c11 -Wall -Wextra -Werror -pedantic ${SOURCE_DIR}/c11/main.c ${flags}
         ${link_flags} -o ${WORK_DIR}/app_c)
run_step("C run" ${WORK_DIR}/app_c)
run_step("C++ build" ${CXX_COMPILER} -std=c++17 -Wall -Wextra -Werror ${SOURCE_DIR}/consumer/main.cpp ${flags}
         ${link_flags} -o ${WORK_DIR}/app_cxx)
run_step("C++ run" ${WORK_DIR}/app_cxx)
message("pkg-config consumers ok")
