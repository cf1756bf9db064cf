# Lists the dynamic symbols a shared library defines and compares them with
# the expected names (one per line).
execute_process(COMMAND nm -D --defined-only ${LIB} OUTPUT_VARIABLE out RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "nm failed on ${LIB}")
endif()
string(REGEX MATCHALL "[^\n]+" lines "${out}")
set(names "")
foreach(line IN LISTS lines)
  string(REGEX REPLACE "^[0-9a-fA-F]* *[A-Za-z] +" "" name "${line}")
  list(APPEND names "${name}")
endforeach()
include(${CMAKE_CURRENT_LIST_DIR}/expect_exported_names.cmake)
expect_exported_names("${names}" ${EXPECTED})
