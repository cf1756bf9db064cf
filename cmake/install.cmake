# cmake --install: the header, the library (on Windows the DLL in bin, its
# import library and definition file in lib), the tool, a CMake package, a
# pkg-config file, the tool's manual page and the licence.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)
target_include_directories(folimark INTERFACE $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
install(TARGETS folimark EXPORT folimark-targets
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(FILES include/folimark.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(FILES LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR})
if(WIN32)
  install(FILES src/abi/folimark.def DESTINATION ${CMAKE_INSTALL_LIBDIR}
    RENAME tarvello-folimark.def)
endif()
install(TARGETS folimark-stamp RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(NOT CMAKE_CROSSCOMPILING)
  # A build of the library and the tool alone does not make the page.
  install(FILES ${PROJECT_BINARY_DIR}/tools/folimark-stamp.1 OPTIONAL
    DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()
if(NOT WIN32 AND NOT APPLE)
  # The installed tool finds the library beside it, wherever the prefix is.
  set_target_properties(folimark-stamp PROPERTIES INSTALL_RPATH "$ORIGIN/../${CMAKE_INSTALL_LIBDIR}")
endif()

set(folimark_package_dir ${CMAKE_INSTALL_LIBDIR}/cmake/folimark)
install(EXPORT folimark-targets NAMESPACE folimark:: DESTINATION ${folimark_package_dir})
configure_package_config_file(cmake/folimark-config.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/folimark-config.cmake INSTALL_DESTINATION ${folimark_package_dir})
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/folimark-config-version.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/folimark-config.cmake
  ${CMAKE_CURRENT_BINARY_DIR}/folimark-config-version.cmake DESTINATION ${folimark_package_dir})
# The pkg-config file finds the prefix from its own place, so that the package
# works wherever --prefix puts it.
if(IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}")
  set(FOLIMARK_PC_PREFIX "${CMAKE_INSTALL_PREFIX}")
else()
  file(RELATIVE_PATH folimark_pc_up "/prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/prefix")
  string(REGEX REPLACE "/$" "" folimark_pc_up "${folimark_pc_up}")
  set(FOLIMARK_PC_PREFIX "\${pcfiledir}/${folimark_pc_up}")
endif()
configure_file(cmake/folimark.pc.in ${CMAKE_CURRENT_BINARY_DIR}/folimark.pc @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/folimark.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
