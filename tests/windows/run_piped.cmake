# Runs a Windows program under its emulator with standard input read from a
# file and standard output written to one, as a shell's redirections would.
#   cmake -DEMULATOR=wine -DWINEPREFIX=dir -DPROGRAM=x.exe -DIN=in -DOUT=out
#         "-DARGS=a;b" -P run_piped.cmake
cmake_minimum_required(VERSION 3.20)
execute_process(COMMAND ${CMAKE_COMMAND} -E env WINEPREFIX=${WINEPREFIX} WINEDEBUG=-all
                        ${EMULATOR} ${PROGRAM} ${ARGS}
                INPUT_FILE ${IN} OUTPUT_FILE ${OUT} RESULT_VARIABLE rc ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${PROGRAM} ${ARGS} exit ${rc}: ${err}")
endif()
