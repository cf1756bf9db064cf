# Judges the PDFs the Windows programs wrote, with the build machine's tools:
# each passes qpdf --check and shows its stamp to pdftotext and pdfimages.
#   cmake -DWORK=dir -DQPDF=qpdf -DPDFTOTEXT=pdftotext -DPDFIMAGES=pdfimages
#         [-DNATIVE_STAMP=folimark-stamp] -P check_host_outputs.cmake
# With NATIVE_STAMP, the build machine's own folimark-stamp must write the
# very same bytes as the Windows build of the tool did for the same stamps.
cmake_minimum_required(VERSION 3.20)
function(fail what)
  message(SEND_ERROR "${what}")
endfunction()

function(check_pdf name)
  execute_process(COMMAND ${QPDF} --check ${WORK}/${name}
                  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    fail("${name}: qpdf --check exit ${rc}\n${out}${err}")
  endif()
endfunction()

# Text of the given pages (first and last, 1-based) of a PDF.
function(page_text name first last result)
  # Raw order keeps a rotated stamp's letters together.
  execute_process(COMMAND ${PDFTOTEXT} -raw -f ${first} -l ${last} ${WORK}/${name} -
                  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    fail("${name}: pdftotext exit ${rc}: ${err}")
  endif()
  set(${result} "${out}" PARENT_SCOPE)
endfunction()

function(expect_text name first last needle)
  page_text(${name} ${first} ${last} text)
  string(FIND "${text}" "${needle}" at)
  if(at EQUAL -1)
    fail("${name}: pages ${first}-${last} do not show \"${needle}\":\n${text}")
  endif()
endfunction()

function(expect_no_text name first last needle)
  page_text(${name} ${first} ${last} text)
  string(FIND "${text}" "${needle}" at)
  if(NOT at EQUAL -1)
    fail("${name}: pages ${first}-${last} show \"${needle}\" but should not")
  endif()
endfunction()

# The image list must hold count lines of the given type, colour space and
# encoding.
function(expect_images name type color encoding count)
  execute_process(COMMAND ${PDFIMAGES} -list ${WORK}/${name}
                  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  string(REGEX MATCHALL "\n +[0-9]+ +[0-9]+ +${type} +[0-9]+ +[0-9]+ +${color} +[0-9]+ +[0-9]+ +${encoding}" found "\n${out}")
  list(LENGTH found n)
  if(NOT rc EQUAL 0 OR NOT n EQUAL count)
    fail("${name}: expected ${count} ${type} images encoded ${encoding}, found ${n}:\n${out}${err}")
  endif()
endfunction()

foreach(name text.pdf pages.pdf datetime.pdf datetime-format.pdf png.pdf jpg.pdf in-place.pdf
             cli-text.pdf cli-lines.pdf cli-datetime.pdf cli-png.pdf cli-jpg.pdf cli-piped.pdf
             "dossier-é/Größe-日本.pdf")
  if(NOT EXISTS ${WORK}/${name})
    fail("${name} was not written")
  else()
    check_pdf(${name})
  endif()
endforeach()
if(EXISTS ${WORK}/never-written.pdf)
  fail("a failed call left never-written.pdf")
endif()

expect_text(text.pdf 1 2 "Windows text")
expect_text(text.pdf 2 2 "second line")
expect_text(pages.pdf 2 2 "Listed page stamp")
expect_no_text(pages.pdf 1 1 "Listed page stamp")
expect_text(in-place.pdf 1 2 "Replaced in place")
expect_text(cli-text.pdf 2 2 "From the command line")
expect_text(cli-lines.pdf 2 2 "second line")
expect_text(cli-piped.pdf 1 1 "Piped")
expect_text("dossier-é/Größe-日本.pdf" 1 1 "Unicode path")

file(READ ${WORK}/expected-date.txt today)
expect_text(datetime.pdf 1 1 "${today}")
expect_text(datetime.pdf 2 2 "${today}")
expect_text(datetime-format.pdf 1 1 "${today}|")
expect_text(datetime-format.pdf 1 1 "|%Q")
expect_text(cli-datetime.pdf 1 1 "${today}")

# Two pages: the PNG with its transparency as a soft mask, the JPEG as is.
expect_images(png.pdf image rgb image 2)
expect_images(png.pdf smask gray image 2)
expect_images(jpg.pdf image rgb jpeg 2)
expect_images(cli-png.pdf smask gray image 2)
expect_images(cli-jpg.pdf image rgb jpeg 2)

# The same stamps made natively: byte for byte what Windows wrote.
function(expect_native_bytes name subject)
  execute_process(COMMAND ${NATIVE_STAMP} ${ARGN} sample.pdf ${WORK}/native/${name} "${subject}"
                  WORKING_DIRECTORY ${WORK} RESULT_VARIABLE rc ERROR_VARIABLE err)
  execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${WORK}/${name} ${WORK}/native/${name}
                  RESULT_VARIABLE differ)
  if(NOT rc EQUAL 0 OR NOT differ EQUAL 0)
    fail("${name}: the native build wrote different bytes (exit ${rc}) ${err}")
  endif()
endfunction()

if(DEFINED NATIVE_STAMP AND EXISTS "${NATIVE_STAMP}")
  file(MAKE_DIRECTORY ${WORK}/native)
  expect_native_bytes(cli-lines.pdf "Windows text\\nsecond line" text --size 20 --opacity 0.5
                      --rotation 30 --color 200,0,0 --x 72 --y 700)
  expect_native_bytes(cli-png.pdf picture.png image --x 300 --y 500 --scale 2 --opacity 0.8)
  expect_native_bytes(cli-jpg.pdf picture.jpg image --x 100 --y 100)
  expect_native_bytes(cli-text.pdf "From the command line" text --size 18 --color 0,120,0)
  expect_native_bytes(cli-piped.pdf "Piped" text)
else()
  message(STATUS "no native folimark-stamp given: the byte comparison is left out")
endif()
