# cmake -DBUILD_DIR=... -DPREFIX=... -DLIBDIR=... -DWORK_DIR=... -DCXX=... -P InstallTest.cmake
# Installs the build tree BUILD_DIR, configured for PREFIX, as its users do, with nothing but
# cmake --install: once with --prefix into WORK_DIR/prefix, once under DESTDIR at PREFIX. The two
# trees must hold the same files, byte for byte, and the first must serve its users
# (InstalledTree.cmake).
include(${CMAKE_CURRENT_LIST_DIR}/InstalledTree.cmake)

file(REMOVE_RECURSE "${WORK_DIR}")
run("${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix "${WORK_DIR}/prefix")
set(ENV{DESTDIR} "${WORK_DIR}/destdir")
run("${CMAKE_COMMAND}" --install "${BUILD_DIR}")
unset(ENV{DESTDIR})

file(GLOB_RECURSE installed RELATIVE "${WORK_DIR}/prefix" "${WORK_DIR}/prefix/*")
file(GLOB_RECURSE under_destdir RELATIVE "${WORK_DIR}/destdir${PREFIX}" "${WORK_DIR}/destdir${PREFIX}/*")
if(NOT installed OR NOT installed STREQUAL under_destdir)
  message(FATAL_ERROR "--prefix installed [${installed}], DESTDIR [${under_destdir}]")
endif()
foreach(file ${installed})
  run("${CMAKE_COMMAND}" -E compare_files "${WORK_DIR}/prefix/${file}" "${WORK_DIR}/destdir${PREFIX}/${file}")
endforeach()

check_installed_tree("${WORK_DIR}/prefix" "${LIBDIR}" "${WORK_DIR}" "${CXX}")
