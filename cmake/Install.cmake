# Install layout, the CMake package quillet::expr, quillet.pc, the man page
# and the Debian package (make package).
#
#   bin/quillet
#   lib/libquillet_expr.a, lib/libquorlithpub.so (the stand-in only)
#   include/quillet/CExprUtil.h, include/quillet/quorlith.h (the stand-in only)
#   lib/cmake/quillet/quilletConfig.cmake, lib/pkgconfig/quillet.pc
#   share/man/man1/quillet.1
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)
set(QUILLET_INCLUDEDIR ${CMAKE_INSTALL_INCLUDEDIR}/quillet)
set(QUILLET_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/quillet)

# The installed tree may be moved: programs find their libraries beside them.
file(RELATIVE_PATH bin_to_lib /${CMAKE_INSTALL_BINDIR} /${CMAKE_INSTALL_LIBDIR})
set_target_properties(quillet PROPERTIES INSTALL_RPATH "$ORIGIN/${bin_to_lib}")

install(TARGETS quillet RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
set_target_properties(quillet_expr PROPERTIES EXPORT_NAME expr)
install(TARGETS quillet_expr EXPORT quilletTargets
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  INCLUDES DESTINATION ${QUILLET_INCLUDEDIR})
install(FILES expr/CExprUtil.h DESTINATION ${QUILLET_INCLUDEDIR})

# Users of the library link the platform's logging library with it: the
# installed stand-in when it is the one in use, else libquorlithpub.so from
# the target system's library path.
if(QUILLET_PLATFORM_LOG_LIBRARY)
  target_link_libraries(quillet_expr INTERFACE $<INSTALL_INTERFACE:quorlithpub>)
else()
  install(TARGETS quorlithpub EXPORT quilletTargets
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
    INCLUDES DESTINATION ${QUILLET_INCLUDEDIR})
  install(FILES platform/quorlith.h DESTINATION ${QUILLET_INCLUDEDIR})
  target_link_libraries(quillet_expr INTERFACE $<INSTALL_INTERFACE:quillet::quorlithpub>)
endif()

install(EXPORT quilletTargets NAMESPACE quillet:: DESTINATION ${QUILLET_CMAKEDIR})
configure_package_config_file(cmake/quilletConfig.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/quilletConfig.cmake INSTALL_DESTINATION ${QUILLET_CMAKEDIR})
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/quilletConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/quilletConfig.cmake
  ${CMAKE_CURRENT_BINARY_DIR}/quilletConfigVersion.cmake DESTINATION ${QUILLET_CMAKEDIR})

# quillet.pc names its prefix relative to its own folder, so it stays valid
# wherever the tree is installed or unpacked.
file(RELATIVE_PATH pc_to_prefix /${CMAKE_INSTALL_LIBDIR}/pkgconfig /)
string(REGEX REPLACE "/$" "" pc_to_prefix "${pc_to_prefix}")
configure_file(cmake/quillet.pc.in ${CMAKE_CURRENT_BINARY_DIR}/quillet.pc @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/quillet.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

install(FILES man/quillet.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# Debian package; its version is the project's, as is the text of -v.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quillet)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "quillet developers <quillet@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "verifies and evaluates integer expression strings")
set(CPACK_DEBIAN_PACKAGE_SECTION devel)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
if(CMAKE_CROSSCOMPILING)
  # dpkg-shlibdeps reads the host's dpkg database, which holds no package of
  # the target. These are the packages of the libraries the binaries need,
  # with the versions of the newest symbols they use (GLIBC_2.34, GCC_3.5,
  # GLIBCXX_3.4.21; APR as the native package computes it).
  set(CPACK_DEBIAN_PACKAGE_DEPENDS
      "libapr1 (>= 1.2.7), libc6 (>= 2.34), libgcc-s1 (>= 3.5), libstdc++6 (>= 5.2)")
else()
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_LIBRARY_OUTPUT_DIRECTORY})
endif()
include(CPack)
