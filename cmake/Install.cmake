# Install layout, the CMake package quillet::expr, quillet.pc and the man
# page. Under the prefix /usr the libraries go to lib/<multiarch triplet>
# (GNUInstallDirs); debian/ splits the install into the Debian packages.
#
#   bin/quillet                                   component quillet
#   share/man/man1/quillet.1
#   bin/quillet-check                             component check
#   share/man/man1/quillet-check.1
#   lib/libquillet_expr.a                         component dev
#   include/quillet/CExprUtil.h, CCompiledExpr.h
#   lib/cmake/quillet/, lib/pkgconfig/quillet.pc
#   lib/libquorlithpub.so, include/quorlith.h     component quorlithpub (the stand-in only)
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)
set(QUILLET_INCLUDEDIR ${CMAKE_INSTALL_INCLUDEDIR}/quillet)
set(QUILLET_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/quillet)

# No rpath: the installed tool finds the log library, the platform's or the
# stand-in, through the loader's ordinary search path. It is copied as linked
# for the build tree (CMakeLists.txt), then its run path removed; DESTDIR and
# --prefix count as for the copy.
install(TARGETS quillet RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT quillet)
install(CODE "file(RPATH_REMOVE FILE \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/$<TARGET_FILE_NAME:quillet>\")"
  COMPONENT quillet)
install(FILES man/quillet.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT quillet)
install(TARGETS quillet-check RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT check)
install(FILES man/quillet-check.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT check)

set_target_properties(quillet_expr PROPERTIES EXPORT_NAME expr)
install(TARGETS quillet_expr EXPORT quilletTargets
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT dev
  INCLUDES DESTINATION ${QUILLET_INCLUDEDIR})
install(FILES expr/CExprUtil.h expr/CCompiledExpr.h DESTINATION ${QUILLET_INCLUDEDIR} COMPONENT dev)
# Users of the library link the platform's logging library with it, found by
# name wherever the system keeps it (quilletConfig.cmake defines the target).
target_link_libraries(quillet_expr INTERFACE $<INSTALL_INTERFACE:quillet::quorlithpub>)

if(NOT QUILLET_PLATFORM_LOG_LIBRARY)
  install(TARGETS quorlithpub LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT quorlithpub)
  install(FILES platform/quorlith.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT quorlithpub)
endif()

install(EXPORT quilletTargets NAMESPACE quillet:: DESTINATION ${QUILLET_CMAKEDIR} COMPONENT dev)
configure_package_config_file(cmake/quilletConfig.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/quilletConfig.cmake INSTALL_DESTINATION ${QUILLET_CMAKEDIR})
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/quilletConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/quilletConfig.cmake
  ${CMAKE_CURRENT_BINARY_DIR}/quilletConfigVersion.cmake DESTINATION ${QUILLET_CMAKEDIR} COMPONENT dev)

# quillet.pc names its prefix relative to its own folder, so it stays valid
# wherever the tree is installed or unpacked.
file(RELATIVE_PATH pc_to_prefix /${CMAKE_INSTALL_LIBDIR}/pkgconfig /)
string(REGEX REPLACE "/$" "" pc_to_prefix "${pc_to_prefix}")
configure_file(cmake/quillet.pc.in ${CMAKE_CURRENT_BINARY_DIR}/quillet.pc @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/quillet.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT dev)
