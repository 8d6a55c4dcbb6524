# Runs in script mode (cmake -P). Compares the entry points of LISTING with
# the entry-point symbols (kmrsim_[..._]<n>D_<mode>) that LIBRARY defines,
# both ways, and the typed calls of LISTING with the static inline
# functions that kmr_cproto.h (in INCLUDE_DIR) defines once preprocessed
# by C_COMPILER.
foreach(var LISTING LIBRARY NM C_COMPILER INCLUDE_DIR)
  if(NOT ${var})
    message(FATAL_ERROR "check_symbols.cmake needs -D${var}=...")
  endif()
endforeach()
include(${CMAKE_CURRENT_LIST_DIR}/listing.cmake)
read_listing(${LISTING} listed_entries listed_typed)

# Reports the names in one list and not the other, both ways.
function(compare what listed actual)
  set(missing ${actual})
  if(listed)
    list(REMOVE_ITEM missing ${listed})
  endif()
  set(extra ${listed})
  if(actual)
    list(REMOVE_ITEM extra ${actual})
  endif()
  list(LENGTH listed n)
  list(LENGTH actual a)
  if(missing OR extra OR n EQUAL 0)
    message(FATAL_ERROR "${what}: ${n} listed, ${a} defined\n"
                        "  defined but not listed: ${missing}\n  listed but not defined: ${extra}")
  endif()
  message("${what}: ${n} listed, all defined, none missing")
endfunction()

execute_process(COMMAND ${NM} -g --defined-only -P ${LIBRARY} RESULT_VARIABLE rc OUTPUT_VARIABLE symbols
                ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "nm failed on ${LIBRARY}: ${err}")
endif()
string(REGEX MATCHALL "(^|\n)kmrsim_[a-z_]*[0-9]D_[A-Z]+ T" defined "${symbols}")
list(TRANSFORM defined REPLACE "^\n?(kmrsim_[A-Za-z0-9_]+) T$" "\\1")
compare("entry points" "${listed_entries}" "${defined}")

execute_process(COMMAND ${C_COMPILER} -E -P -x c -I${INCLUDE_DIR} ${INCLUDE_DIR}/kmr_cproto.h
                RESULT_VARIABLE rc OUTPUT_VARIABLE preprocessed ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "preprocessing kmr_cproto.h failed: ${err}")
endif()
string(REGEX MATCHALL "static inline (__attribute__\\(\\([a-z_]+\\)\\) )?[^(;{}]*[ *]kmr_[A-Za-z0-9_]+ *\\("
       typed "${preprocessed}")
list(TRANSFORM typed REPLACE "^.*[ *](kmr_[A-Za-z0-9_]+) *\\($" "\\1")
compare("typed calls" "${listed_typed}" "${typed}")

# The documentation page lists the same names: every row is a typed call and
# the entry point it issues.
if(PAGE)
  file(STRINGS ${PAGE} rows REGEX "^\\| `kmr_")
  set(page_typed)
  set(page_entries)
  foreach(row ${rows})
    string(REGEX REPLACE "^\\| `(kmr_[A-Za-z0-9_]+)` \\| `(kmrsim_[A-Za-z0-9_]+)` .*" "\\1;\\2" names "${row}")
    list(GET names 0 t)
    list(GET names 1 e)
    list(APPEND page_typed ${t})
    list(APPEND page_entries ${e})
  endforeach()
  list(REMOVE_DUPLICATES page_entries)
  compare("entry points on ${PAGE}" "${page_entries}" "${defined}")
  compare("typed calls on ${PAGE}" "${page_typed}" "${typed}")
endif()
