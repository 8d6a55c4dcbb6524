# Documentation snippets. Every page docs/**/*.md is one test, doc_<page>
# (subdirectories joined with "_"), that compiles, links and runs the page's
# c and cpp code blocks against this build's libraries and compares what
# they print with the page's output blocks (docs/run_snippets.cmake has the
# rules). The pages are read when the test runs, so editing one needs no
# reconfiguration; adding one does, and the glob below notices it.
#
# In a sanitizer build the libraries are instrumented, so the snippets are
# built with the same sanitizers.
if(NOT TARGET kmrsim OR NOT TARGET kmr_api)
  return()
endif()

set(KMRSIM_DOC_COMPILE_FLAGS "")
set(KMRSIM_DOC_LINK_FLAGS "")
if(KMRSIM_SANITIZE)
  set(KMRSIM_DOC_COMPILE_FLAGS "-fsanitize=address,undefined|-fno-omit-frame-pointer|-fno-sanitize-recover=undefined")
  set(KMRSIM_DOC_LINK_FLAGS "-fsanitize=address,undefined")
endif()

# Lists are passed with "|" between the elements. The simulator and the host
# API object call each other, so kmrsim is named again after kmr_api.
set(KMRSIM_DOC_ARGS
  "-DC_COMPILER=${CMAKE_C_COMPILER}"
  "-DCXX_COMPILER=${CMAKE_CXX_COMPILER}"
  "-DINCLUDE_DIRS=${KMRAPI_DIR}"
  "-DLIBRARIES=$<TARGET_FILE:kmrsim>|$<TARGET_FILE:kmr_api>|$<TARGET_FILE:kmrsim>"
  "-DCOMPILE_FLAGS=${KMRSIM_DOC_COMPILE_FLAGS}"
  "-DLINK_FLAGS=${KMRSIM_DOC_LINK_FLAGS}")

file(GLOB_RECURSE KMRSIM_DOC_PAGES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/docs/*.md)
foreach(page ${KMRSIM_DOC_PAGES})
  file(RELATIVE_PATH rel ${PROJECT_SOURCE_DIR}/docs ${page})
  string(REGEX REPLACE "\\.md$" "" name "${rel}")
  string(REPLACE "/" "_" name "${name}")
  add_test(NAME doc_${name}
    COMMAND ${CMAKE_COMMAND} "-DPAGE=${page}" "-DPAGE_NAME=docs/${rel}"
      "-DWORK_DIR=${CMAKE_CURRENT_BINARY_DIR}/docs/${name}" ${KMRSIM_DOC_ARGS}
      -P ${CMAKE_CURRENT_SOURCE_DIR}/docs/run_snippets.cmake)
  set_tests_properties(doc_${name} PROPERTIES TIMEOUT 900 LABELS docs)
endforeach()

# The runner itself, on two fixture pages: one where everything must pass
# (C strictness, semicolons, brackets and backslashes in output, stderr
# blocks, blocks that are not run), one with a failure of every kind, each
# of which must be reported with its line.
set(KMRSIM_DOC_FIXTURES ${CMAKE_CURRENT_SOURCE_DIR}/docs/fixtures)
add_test(NAME snippet_runner_passes
  COMMAND ${CMAKE_COMMAND} "-DPAGE=${KMRSIM_DOC_FIXTURES}/passing.md" "-DPAGE_NAME=passing.md"
    "-DWORK_DIR=${CMAKE_CURRENT_BINARY_DIR}/docs/runner_passes" ${KMRSIM_DOC_ARGS}
    -DEXPECT_SUCCESS=ON "-DEXPECT=passing.md: 4 snippet(s) passed"
    -P ${CMAKE_CURRENT_SOURCE_DIR}/docs/check_runner.cmake)
add_test(NAME snippet_runner_reports
  COMMAND ${CMAKE_COMMAND} "-DPAGE=${KMRSIM_DOC_FIXTURES}/failing.md" "-DPAGE_NAME=failing.md"
    "-DWORK_DIR=${CMAKE_CURRENT_BINARY_DIR}/docs/runner_reports" ${KMRSIM_DOC_ARGS}
    -DEXPECT_SUCCESS=OFF
    "-DEXPECT=failing.md:3: the snippet does not compile|failing.md:11: the snippet does not compile|failing.md:15: the snippet exited with '3'|failing.md:19: standard output differs from the output block at line 30|  -expected|  +printed|failing.md:37: this output block does not follow|failing.md:41: standard output differs from the output block at line 45|  -nothing is printed|failing.md:49: the code block opened here is never closed"
    -P ${CMAKE_CURRENT_SOURCE_DIR}/docs/check_runner.cmake)
set_tests_properties(snippet_runner_passes snippet_runner_reports PROPERTIES TIMEOUT 300 LABELS docs)
