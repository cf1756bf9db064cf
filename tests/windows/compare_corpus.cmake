cmake_minimum_required(VERSION 3.20)
# Stamps every file of a corpus with the Windows DLL (one corpus_host
# process under Wine) and with the native folimark-stamp, and requires the
# same result for each file: the same success or failure, the same bytes
# written, the same message. Documents encrypted with AES are written with
# fresh random IVs, so their outputs are compared as qpdf decrypts them
# (QPDF). MODE text stamps text onto each PDF of the folder CORPUS; MODE
# image stamps each PNG and JPEG of the folders CORPUS (a list) onto SAMPLE.
#   cmake -DMODE=text|image -DCORPUS=dirs [-DSAMPLE=pdf] -DWORK=dir
#         -DHOST=corpus_host.exe -DEMULATOR=wine -DWINEPREFIX=dir
#         -DNATIVE_STAMP=folimark-stamp [-DQPDF=qpdf] -P compare_corpus.cmake
if(NOT EXISTS "${NATIVE_STAMP}")
  message(STATUS "no native folimark-stamp at ${NATIVE_STAMP}: nothing to compare with")
  return()
endif()

file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK}/windows ${WORK}/native)
set(inputs "")
foreach(folder IN LISTS CORPUS)
  if(MODE STREQUAL "image")
    file(GLOB found LIST_DIRECTORIES false ${folder}/*.png ${folder}/*.jpeg ${folder}/*.jpg)
  else()
    file(GLOB found LIST_DIRECTORIES false ${folder}/*.pdf)
  endif()
  list(APPEND inputs ${found})
endforeach()
list(SORT inputs)
string(REPLACE ";" "\n" listing "${inputs}")
file(WRITE ${WORK}/inputs.txt "${listing}\n")

if(MODE STREQUAL "image")
  set(host_mode image ${SAMPLE})
else()
  set(host_mode text)
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -E env WINEPREFIX=${WINEPREFIX} WINEDEBUG=-all
                        ${EMULATOR} ${HOST} ${host_mode} inputs.txt windows results.txt
                WORKING_DIRECTORY ${WORK} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "corpus_host failed (${rc}): ${out}${err}")
endif()
file(STRINGS ${WORK}/results.txt results)

set(mismatches "")
set(stamped 0)
set(refused 0)
foreach(input result IN ZIP_LISTS inputs results)
  get_filename_component(name ${input} NAME)
  # Name, result and message, separated by tabs; a message may hold ';'.
  string(REGEX MATCH "^([^\t]*)\t([^\t]*)\t?(.*)$" fields "${result}")
  set(windows_name "${CMAKE_MATCH_1}")
  set(windows_rc "${CMAKE_MATCH_2}")
  set(windows_message "${CMAKE_MATCH_3}")
  if(NOT windows_name STREQUAL name)
    message(FATAL_ERROR "results out of step: ${windows_name} for ${name}")
  endif()

  if(MODE STREQUAL "image")
    set(output ${name}.pdf)
    set(native_command image --x 100 --y 100 --scale 0.5 --opacity 0.8 ${SAMPLE}
                       ${WORK}/native/${output} ${input})
  else()
    set(output ${name})
    set(native_command text --x 100 --y 100 --size 24 --opacity 0.5 --rotation 30
                       --color 200,0,0 ${input} ${WORK}/native/${output} FOLIMARK)
  endif()
  execute_process(COMMAND ${NATIVE_STAMP} ${native_command}
                  RESULT_VARIABLE native_rc ERROR_VARIABLE native_err
                  ERROR_STRIP_TRAILING_WHITESPACE)
  string(REGEX REPLACE "^folimark-stamp: " "" native_message "${native_err}")
  if(native_rc EQUAL 0)
    set(native_ok 1)
  else()
    set(native_ok 0)
  endif()

  if(NOT windows_rc STREQUAL native_ok)
    list(APPEND mismatches "${name}: Windows ${windows_rc} (${windows_message}), native ${native_ok} (${native_message})")
  elseif(native_ok)
    math(EXPR stamped "${stamped} + 1")
    execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${WORK}/windows/${output}
                            ${WORK}/native/${output}
                    RESULT_VARIABLE differ)
    set(encrypted "")
    if(NOT differ EQUAL 0 AND QPDF)
      file(STRINGS ${WORK}/native/${output} encrypted REGEX "/Encrypt" LIMIT_COUNT 1)
    endif()
    if(encrypted)
      # The same document under other IVs decrypts to the same file.
      foreach(side IN ITEMS windows native)
        execute_process(COMMAND ${QPDF} --decrypt --static-id --qdf --object-streams=disable
                                ${WORK}/${side}/${output} ${WORK}/${side}/${output}.decrypted
                        RESULT_VARIABLE decrypt_rc OUTPUT_QUIET ERROR_QUIET)
      endforeach()
      execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${WORK}/windows/${output}.decrypted
                              ${WORK}/native/${output}.decrypted
                      RESULT_VARIABLE differ)
    endif()
    if(NOT differ EQUAL 0)
      list(APPEND mismatches "${name}: the outputs differ")
    endif()
  else()
    math(EXPR refused "${refused} + 1")
    # Messages naming the output differ only in how its path was written.
    string(FIND "${native_message}" "${WORK}/native" names_output)
    if(names_output EQUAL -1 AND NOT windows_message STREQUAL native_message)
      list(APPEND mismatches "${name}: Windows says \"${windows_message}\", native \"${native_message}\"")
    endif()
  endif()
endforeach()

list(LENGTH inputs total)
message(STATUS "corpus: ${total} files, ${stamped} stamped alike, ${refused} refused alike")
if(mismatches)
  string(REPLACE ";" "\n  " listed "${mismatches}")
  message(FATAL_ERROR "Windows and native results differ:\n  ${listed}")
endif()
