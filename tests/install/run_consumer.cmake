# Runs in script mode (cmake -P): installs BUILD_DIR into WORK_DIR/prefix,
# then configures, builds and runs the project in SOURCE_DIR against it.
# Optional: C_COMPILER, CXX_COMPILER, CONFIG, LINK_FLAGS (for the
# consumer's link), CXX_FLAGS (the consumer's CMAKE_CXX_FLAGS).
foreach(var BUILD_DIR SOURCE_DIR WORK_DIR GENERATOR)
  if(NOT ${var})
    message(FATAL_ERROR "run_consumer.cmake needs -D${var}=...")
  endif()
endforeach()

include(${CMAKE_CURRENT_LIST_DIR}/../cmake/run_step.cmake)

set(prefix ${WORK_DIR}/prefix)
set(build ${WORK_DIR}/build)
file(REMOVE_RECURSE ${WORK_DIR})

set(config_args)
if(CONFIG)
  set(config_args --config ${CONFIG})
endif()
run_step("install" ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix} ${config_args})

set(configure_args -S ${SOURCE_DIR} -B ${build} -G ${GENERATOR} --no-warn-unused-cli
    -DCMAKE_PREFIX_PATH=${prefix})
if(CONFIG)
  list(APPEND configure_args -DCMAKE_BUILD_TYPE=${CONFIG})
endif()
if(C_COMPILER)
  list(APPEND configure_args -DCMAKE_C_COMPILER=${C_COMPILER})
endif()
if(CXX_COMPILER)
  list(APPEND configure_args -DCMAKE_CXX_COMPILER=${CXX_COMPILER})
endif()
if(LINK_FLAGS)
  list(APPEND configure_args -DCMAKE_EXE_LINKER_FLAGS=${LINK_FLAGS})
endif()
if(CXX_FLAGS)
  list(APPEND configure_args -DCMAKE_CXX_FLAGS=${CXX_FLAGS})
endif()
run_step("configure" ${CMAKE_COMMAND} ${configure_args})
run_step("build" ${CMAKE_COMMAND} --build ${build} ${config_args})

# Single- and multi-configuration generators put the program in different places.
find_program(app NAMES app PATHS ${build} ${build}/${CONFIG} NO_DEFAULT_PATH)
if(NOT app)
  message(FATAL_ERROR "the consumer program was not built")
endif()
run_step("run" ${app})
