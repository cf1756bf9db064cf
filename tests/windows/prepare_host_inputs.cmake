# Fills the Windows host's work folder: the sample PDF (also under a name
# outside the ANSI code pages, with a folder for its output), and pictures made by
# Ghostscript (a PNG with transparency, a JPEG). Old outputs are removed.
#   cmake -DWORK=dir -DSAMPLE=sample.pdf -DGS=gs -P prepare_host_inputs.cmake
cmake_minimum_required(VERSION 3.20)
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})
file(COPY_FILE ${SAMPLE} ${WORK}/sample.pdf)
# A name and a folder outside any ANSI code page.
file(COPY_FILE ${SAMPLE} "${WORK}/Größe-日本.pdf")
file(MAKE_DIRECTORY "${WORK}/dossier-é")

# A red square on a transparent background, and a blue and yellow picture.
set(drawing "1 0 0 setrgbcolor 4 4 24 24 rectfill showpage")
execute_process(COMMAND ${GS} -q -dSAFER -dNOPAUSE -dBATCH -sDEVICE=pngalpha -r72 -g32x32
                        -sOutputFile=${WORK}/picture.png -c "${drawing}"
                RESULT_VARIABLE png_rc)
set(drawing "0 0 1 setrgbcolor 0 0 40 30 rectfill 1 1 0 setrgbcolor 10 5 20 20 rectfill showpage")
execute_process(COMMAND ${GS} -q -dSAFER -dNOPAUSE -dBATCH -sDEVICE=jpeg -r72 -g40x30
                        -sOutputFile=${WORK}/picture.jpg -c "${drawing}"
                RESULT_VARIABLE jpg_rc)
if(NOT png_rc EQUAL 0 OR NOT jpg_rc EQUAL 0)
  message(FATAL_ERROR "Ghostscript could not make the pictures (${png_rc}, ${jpg_rc})")
endif()
