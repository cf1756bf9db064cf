cmake_minimum_required(VERSION 3.20)
# Installs a finished build into a fresh prefix and builds the C example host
# against it twice, through the CMake package and through pkg-config, then
# runs both on the sample and judges their outputs with qpdf and pdftotext.
#   cmake -DBUILD=dir -DWORK=dir -DEXAMPLE=examples/c-host -DSAMPLE=sample.pdf
#         -DQPDF=qpdf -DPDFTOTEXT=pdftotext [-DPKG_CONFIG=pkg-config -DCC=cc]
#         [-DTOOLCHAIN=file -DEMULATOR=wine] -P check_installed_package.cmake

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    string(REPLACE ";" " " command "${ARGN}")
    message(FATAL_ERROR "${command}: exit ${rc}\n${out}${err}")
  endif()
endfunction()

file(REMOVE_RECURSE ${WORK})
set(prefix ${WORK}/prefix)
run(${CMAKE_COMMAND} --install ${BUILD} --prefix ${prefix})

if(TOOLCHAIN)
  set(library bin/tarvello-folimark.dll)
  set(exe .exe)
else()
  set(library lib/libtarvello-folimark.so)
  set(exe "")
endif()
if(TOOLCHAIN)
  set(man_page "")
else()
  set(man_page share/man/man1/folimark-stamp.1)
endif()
foreach(file include/folimark.h ${library} bin/folimark-stamp${exe} lib/cmake/folimark/folimark-config.cmake
             lib/cmake/folimark/folimark-config-version.cmake lib/pkgconfig/folimark.pc
             share/doc/folimark/LICENSE ${man_page})
  if(NOT EXISTS ${prefix}/${file})
    message(FATAL_ERROR "the installed package lacks ${file}")
  endif()
endforeach()

# Where the programs find the library at run time: beside it on Windows
# (Wine's search path), in the prefix's lib folder elsewhere.
if(TOOLCHAIN)
  set(run_env WINEPATH=${prefix}/bin WINEPREFIX=${WINEPREFIX} WINEDEBUG=-all)
  # A cross toolchain looks for packages in its own sysroot only: the
  # package folder is named directly.
  set(configure_extra -DCMAKE_TOOLCHAIN_FILE=${TOOLCHAIN} -Dfolimark_DIR=${prefix}/lib/cmake/folimark)
else()
  set(run_env LD_LIBRARY_PATH=${prefix}/lib)
  set(configure_extra "")
endif()

# Stamps the sample with a built example and checks the result.
function(check_example program label)
  set(out ${WORK}/${label}.pdf)
  run(${CMAKE_COMMAND} -E env ${run_env} ${EMULATOR} ${program} ${SAMPLE} ${out} "Package ${label}")
  run(${QPDF} --check ${out})
  # The turned text in the decompressed content, the date in the page text.
  execute_process(COMMAND ${QPDF} --qdf --object-streams=disable ${out} - OUTPUT_VARIABLE qdf)
  string(FIND "${qdf}" "(Package ${label}) Tj" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "${label}: the text stamp is not in the output")
  endif()
  string(TIMESTAMP today "%d.%m.%Y")
  execute_process(COMMAND ${PDFTOTEXT} ${out} - OUTPUT_VARIABLE text)
  string(FIND "${text}" "${today}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "${label}: the date ${today} is not in the output:\n${text}")
  endif()
  message(STATUS "${label}: stamped and valid")
endfunction()

# Through find_package(folimark).
run(${CMAKE_COMMAND} -S ${EXAMPLE} -B ${WORK}/cmake-example -DCMAKE_PREFIX_PATH=${prefix}
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_C_FLAGS=-Werror ${configure_extra})
run(${CMAKE_COMMAND} --build ${WORK}/cmake-example)
check_example(${WORK}/cmake-example/stamp_example${exe} cmake)

# Through pkg-config.
if(PKG_CONFIG AND CC)
  execute_process(COMMAND ${CMAKE_COMMAND} -E env PKG_CONFIG_PATH=${prefix}/lib/pkgconfig
                          PKG_CONFIG_LIBDIR=${prefix}/lib/pkgconfig
                          ${PKG_CONFIG} --cflags --libs folimark
                  RESULT_VARIABLE rc OUTPUT_VARIABLE flags OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "pkg-config does not know folimark")
  endif()
  separate_arguments(flags UNIX_COMMAND "${flags}")
  run(${CC} -std=c99 -Wall -Wextra -pedantic -Werror ${EXAMPLE}/stamp_example.c ${flags}
      -o ${WORK}/pkg-config-example${exe})
  check_example(${WORK}/pkg-config-example${exe} pkg-config)
endif()
