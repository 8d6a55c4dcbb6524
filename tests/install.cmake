# Install-tree checks: each test installs this build into a private prefix
# under the build tree, then builds and runs small programs against it.
#   install_consumer:  a C++ project (find_package(kmrsim 1.0)) using
#                      Vector.hpp, with no language level of its own and
#                      -std=c++14 in its flags: the package must bring C++17.
#   install_c11:       a C-only project (project(... C)), strict C11, linked
#                      by the C driver: the package must bring the C++
#                      runtime; find_package(kmrsim 2.0) must fail.
#   install_pkgconfig: the same two programs built by the plain compiler
#                      drivers with the flags of pkg-config.
# In a sanitizer build the installed libraries are instrumented, so the
# consumers are linked with the same sanitizer runtime.
set(KMRSIM_CONSUMER_LINK_FLAGS "")
if(KMRSIM_SANITIZE)
  set(KMRSIM_CONSUMER_LINK_FLAGS "-fsanitize=address,undefined")
endif()

set(KMRSIM_CONSUMER_CXX_FLAGS_consumer "-std=c++14")
set(KMRSIM_CONSUMER_CXX_FLAGS_c11 "")

foreach(consumer consumer c11)
  add_test(NAME install_${consumer}
    COMMAND ${CMAKE_COMMAND}
      "-DBUILD_DIR=${PROJECT_BINARY_DIR}"
      "-DSOURCE_DIR=${CMAKE_CURRENT_SOURCE_DIR}/install/${consumer}"
      "-DWORK_DIR=${CMAKE_CURRENT_BINARY_DIR}/install_${consumer}"
      "-DGENERATOR=${CMAKE_GENERATOR}"
      "-DCONFIG=$<CONFIG>"
      "-DC_COMPILER=${CMAKE_C_COMPILER}"
      "-DCXX_COMPILER=${CMAKE_CXX_COMPILER}"
      "-DLINK_FLAGS=${KMRSIM_CONSUMER_LINK_FLAGS}"
      "-DCXX_FLAGS=${KMRSIM_CONSUMER_CXX_FLAGS_${consumer}}"
      -P ${CMAKE_CURRENT_SOURCE_DIR}/install/run_consumer.cmake)
  set_tests_properties(install_${consumer} PROPERTIES TIMEOUT 300
                       PASS_REGULAR_EXPRESSION "consumer ok")
endforeach()

# scripts/deps.sh installs pkg-config; without it the test is reported as
# not run rather than passed.
find_program(KMRSIM_PKG_CONFIG NAMES pkg-config pkgconf)
add_test(NAME install_pkgconfig
  COMMAND ${CMAKE_COMMAND}
    "-DBUILD_DIR=${PROJECT_BINARY_DIR}"
    "-DSOURCE_DIR=${CMAKE_CURRENT_SOURCE_DIR}/install"
    "-DWORK_DIR=${CMAKE_CURRENT_BINARY_DIR}/install_pkgconfig"
    "-DCONFIG=$<CONFIG>"
    "-DPKG_CONFIG=${KMRSIM_PKG_CONFIG}"
    "-DC_COMPILER=${CMAKE_C_COMPILER}"
    "-DCXX_COMPILER=${CMAKE_CXX_COMPILER}"
    "-DLIBDIR=${CMAKE_INSTALL_LIBDIR}"
    "-DVERSION=${PROJECT_VERSION}"
    "-DLINK_FLAGS=${KMRSIM_CONSUMER_LINK_FLAGS}"
    -P ${CMAKE_CURRENT_SOURCE_DIR}/install/run_pkgconfig.cmake)
set_tests_properties(install_pkgconfig PROPERTIES TIMEOUT 300
                     PASS_REGULAR_EXPRESSION "pkg-config consumers ok")
if(NOT KMRSIM_PKG_CONFIG)
  set_tests_properties(install_pkgconfig PROPERTIES DISABLED ON)
endif()
