# cmake -DBUILD_DIR=... -DWORK_DIR=... -DVERSION=... [-DEMULATOR=a,b,c] -P PackageTest.cmake
#
# Builds the Debian package of the build with cpack, lists its contents,
# checks its control fields, unpacks it and runs the unpacked tool.
string(REPLACE "," ";" EMULATOR "${EMULATOR}")

include(${CMAKE_CURRENT_LIST_DIR}/RunCommand.cmake)

file(REMOVE_RECURSE "${WORK_DIR}")
run(cpack --config "${BUILD_DIR}/CPackConfig.cmake" -B "${WORK_DIR}")
file(GLOB deb "${WORK_DIR}/*.deb")
list(LENGTH deb count)
if(NOT count EQUAL 1)
  message(FATAL_ERROR "expected one package in ${WORK_DIR}, found: ${deb}")
endif()

run(dpkg-deb -c "${deb}")
message(STATUS "${deb}:\n${out}")
foreach(file usr/bin/quillet usr/lib/libquillet_expr.a usr/include/quillet/CExprUtil.h
             usr/lib/cmake/quillet/quilletConfig.cmake usr/lib/pkgconfig/quillet.pc
             usr/share/man/man1/quillet.1)
  if(NOT out MATCHES " \\./${file}\n")
    message(FATAL_ERROR "${file} is missing from the package")
  endif()
endforeach()
run(dpkg-deb -f "${deb}" Version Depends)
message(STATUS "${out}")
if(NOT out MATCHES "Version: ${VERSION}\n" OR NOT out MATCHES "Depends: [^\n]*libc6 ")
  message(FATAL_ERROR "wrong control fields:\n${out}")
endif()

run(dpkg-deb -x "${deb}" "${WORK_DIR}/root")
set(quillet "${WORK_DIR}/root/usr/bin/quillet")
run(${EMULATOR} "${quillet}" -v)
if(NOT out STREQUAL "Current version of ${quillet} is ${VERSION} \n")
  message(FATAL_ERROR "unpacked quillet -v printed: ${out}")
endif()
run(${EMULATOR} "${quillet}" -s "1 + 2")
