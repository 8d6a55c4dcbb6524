# Install-tree checks: each test installs this build into a private prefix
# under the build tree, then configures, builds and runs a small project
# against it through find_package(kmrsim CONFIG REQUIRED).
#   install_consumer: a C++ program linking kmrsim::kmrsim.
#   install_c11:      a C11 program (-Wall -Wextra -Werror -pedantic) using
#                     the flat interface through kmr_api.h.
# In a sanitizer build the installed libraries are instrumented, so the
# consumers are linked with the same sanitizer runtime.
set(KMRSIM_CONSUMER_LINK_FLAGS "")
if(KMRSIM_SANITIZE)
  set(KMRSIM_CONSUMER_LINK_FLAGS "-fsanitize=address,undefined")
endif()

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
      -P ${CMAKE_CURRENT_SOURCE_DIR}/install/run_consumer.cmake)
  set_tests_properties(install_${consumer} PROPERTIES TIMEOUT 300
                       PASS_REGULAR_EXPRESSION "consumer ok")
endforeach()
