# Fails unless the list names holds exactly the names of the file expected
# (one per line), in any order.
function(expect_exported_names names expected)
  list(SORT names)
  file(STRINGS ${expected} wanted)
  list(SORT wanted)
  if(NOT names STREQUAL wanted)
    message(FATAL_ERROR "exported names differ.\n  found:    ${names}\n  expected: ${wanted}")
  endif()
  message(STATUS "exports: ${names}")
endfunction()
