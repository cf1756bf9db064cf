# Reads the PE headers of the DLL and the tool with objdump: the DLL exports
# exactly the expected names, undecorated, and both import only DLLs that
# every Windows installation has (and the tool, the folimark DLL).
# The DLL also carries its version information.
#   cmake -DOBJDUMP=objdump -DDLL=x.dll -DTOOL=y.exe -DEXPECTED=names.txt -DVERSION=x.y.z
#         -P check_pe_image.cmake
cmake_minimum_required(VERSION 3.20)

# The names of the DLLs a PE file imports.
function(imported_dlls file result)
  execute_process(COMMAND ${OBJDUMP} -p ${file} OUTPUT_VARIABLE out RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "objdump failed on ${file}")
  endif()
  string(REGEX MATCHALL "DLL Name: [^\n]+" lines "${out}")
  set(names "")
  foreach(line IN LISTS lines)
    string(REGEX REPLACE "DLL Name: *" "" name "${line}")
    string(TOLOWER "${name}" name)
    list(APPEND names "${name}")
  endforeach()
  set(${result} "${names}" PARENT_SCOPE)
endfunction()

function(expect_only_system_dlls file allowed)
  imported_dlls(${file} dlls)
  foreach(dll IN LISTS dlls)
    if(NOT dll IN_LIST allowed)
      message(SEND_ERROR "${file} imports ${dll}, which Windows does not provide")
    endif()
  endforeach()
  message(STATUS "${file} imports: ${dlls}")
endfunction()

# bcrypt.dll gives random bytes; Windows has it since Vista.
set(system_dlls kernel32.dll msvcrt.dll bcrypt.dll)
expect_only_system_dlls(${DLL} "${system_dlls}")
expect_only_system_dlls(${TOOL} "${system_dlls};tarvello-folimark.dll")

# The export table lists each name after its ordinal: "[   0] folimark_init".
execute_process(COMMAND ${OBJDUMP} -p ${DLL} OUTPUT_VARIABLE out)
string(FIND "${out}" "[Ordinal/Name Pointer] Table" start)
if(start EQUAL -1)
  message(FATAL_ERROR "${DLL} has no export name table")
endif()
string(SUBSTRING "${out}" ${start} -1 table)
string(FIND "${table}" "\n\n" end)
string(SUBSTRING "${table}" 0 ${end} table)
string(REGEX MATCHALL "\n\t\\[ *[0-9]+\\] [^\n]+" entries "${table}")
set(names "")
foreach(entry IN LISTS entries)
  string(REGEX REPLACE "^\n\t\\[ *[0-9]+\\] " "" name "${entry}")
  list(APPEND names "${name}")
endforeach()
include(${CMAKE_CURRENT_LIST_DIR}/../expect_exported_names.cmake)
expect_exported_names("${names}" ${EXPECTED})
get_filename_component(dll_name ${DLL} NAME)
if(NOT dll_name STREQUAL "tarvello-folimark.dll")
  message(FATAL_ERROR "the DLL is called ${dll_name}")
endif()

# The version resource holds its texts in UTF-16; only the two wanted ones
# are kept (other bytes of the file read as text would upset CMake's lists).
string(REPLACE "." "\\." version_pattern "${VERSION}")
file(STRINGS ${DLL} texts ENCODING UTF-16LE REGEX "^(tarvello-folimark\\.dll|${version_pattern})$")
foreach(wanted IN ITEMS "tarvello-folimark.dll" "${VERSION}")
  if(NOT wanted IN_LIST texts)
    message(FATAL_ERROR "the version information of ${DLL} lacks \"${wanted}\"")
  endif()
endforeach()
