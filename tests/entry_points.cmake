# The generated listing kmr_entry_points.h, checked against what it lists:
#   entry_points_match_library: every kmrsim_* entry point in the listing
#     is a defined symbol of libkmrsim.a, every entry point the library
#     defines is in the listing, and every typed call that kmr_cproto.h
#     defines is in the listing.
#   entry_points_compile: a C11 program that includes kmr_api.h and then
#     the listing compiles with -Werror, takes the address of every listed
#     function, links against the libraries and runs; the same source
#     compiles as C++17.
set(KMRSIM_LISTING ${KMRSIM_GENERATED_INCLUDE_DIR}/kmr_entry_points.h)

add_test(NAME entry_points_match_library
  COMMAND ${CMAKE_COMMAND}
    "-DLISTING=${KMRSIM_LISTING}"
    "-DLIBRARY=$<TARGET_FILE:kmrsim>"
    "-DNM=${CMAKE_NM}"
    "-DC_COMPILER=${CMAKE_C_COMPILER}"
    "-DINCLUDE_DIR=${KMRAPI_DIR}"
    "-DPAGE=${KMRSIM_ENTRY_POINTS_PAGE}"
    -P ${CMAKE_CURRENT_SOURCE_DIR}/entry_points/check_symbols.cmake)

set(KMRSIM_LISTING_LINK_FLAGS "")
if(KMRSIM_SANITIZE)
  set(KMRSIM_LISTING_LINK_FLAGS "-fsanitize=address,undefined")
endif()
add_test(NAME entry_points_compile
  COMMAND ${CMAKE_COMMAND}
    "-DLISTING=${KMRSIM_LISTING}"
    "-DINCLUDE_DIR=${KMRAPI_DIR}"
    "-DLIBRARIES=$<TARGET_FILE:kmrsim> $<TARGET_FILE:kmr_api> ${KMRSIM_CXX_RUNTIME_FLAGS}"
    "-DLINK_FLAGS=${KMRSIM_LISTING_LINK_FLAGS}"
    "-DC_COMPILER=${CMAKE_C_COMPILER}"
    "-DCXX_COMPILER=${CMAKE_CXX_COMPILER}"
    "-DWORK_DIR=${CMAKE_CURRENT_BINARY_DIR}/entry_points_compile"
    -P ${CMAKE_CURRENT_SOURCE_DIR}/entry_points/check_compiles.cmake)
set_tests_properties(entry_points_compile PROPERTIES PASS_REGULAR_EXPRESSION "listing ok")
