# The example programs: exact output, and the flat example linked without
# the masked entry points.
if(TARGET example_flat)
  add_test(NAME example_flat_output
           COMMAND ${CMAKE_COMMAND} -DPROGRAM=$<TARGET_FILE:example_flat>
                   -DEXPECTED=${CMAKE_CURRENT_SOURCE_DIR}/examples/example_flat.expected
                   -P ${CMAKE_CURRENT_SOURCE_DIR}/examples/check_output.cmake)
  add_test(NAME example_flat_links_no_masked_object
           COMMAND ${CMAKE_COMMAND} -DPROGRAM=$<TARGET_FILE:example_flat> -DNM=${CMAKE_NM}
                   -P ${CMAKE_CURRENT_SOURCE_DIR}/examples/check_no_masked.cmake)
endif()
