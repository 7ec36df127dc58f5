# cmake -DBUILD_DIR=... -DWORK_DIR=... -DSTAGE_DIR=... -DCXX=... [-DTOOLCHAIN=...]
#       [-DSYSROOT=...] [-DEMULATOR=a,b,c] -P InstallTest.cmake
#
# Installs the build into STAGE_DIR (DESTDIR, prefix /usr/local), then builds
# tests/consumer against it twice, with find_package(quillet) and with
# `pkg-config --cflags --libs quillet`, and runs both programs.
string(REPLACE "," ";" EMULATOR "${EMULATOR}")
set(prefix "${STAGE_DIR}/usr/local")

include(${CMAKE_CURRENT_LIST_DIR}/RunCommand.cmake)

# The consumer computes ({$1} + 2) * 3 with {$1} = 5 and logs the verdict.
function(expect_consumer_runs program)
  run(${EMULATOR} ${program})
  if(NOT out STREQUAL "21\n" OR NOT err MATCHES "ALARM_MANAGER [^\n]*Valid expression")
    message(FATAL_ERROR "${program}: unexpected output\n${out}${err}")
  endif()
  message(STATUS "${program}: ${out}")
endfunction()

file(REMOVE_RECURSE "${STAGE_DIR}" "${WORK_DIR}")
set(ENV{DESTDIR} "${STAGE_DIR}")
run("${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix /usr/local)
unset(ENV{DESTDIR})

# find_package
set(configure "${CMAKE_COMMAND}" -S "${CMAKE_CURRENT_LIST_DIR}/consumer" -B "${WORK_DIR}/find_package"
    -DCMAKE_PREFIX_PATH=${prefix} -DCMAKE_CXX_COMPILER=${CXX})
if(TOOLCHAIN)
  list(APPEND configure -DCMAKE_TOOLCHAIN_FILE=${TOOLCHAIN} -DQUILLET_ARMHF_SYSROOT=${SYSROOT})
endif()
run(${configure})
run("${CMAKE_COMMAND}" --build "${WORK_DIR}/find_package")
expect_consumer_runs("${WORK_DIR}/find_package/consumer")

# pkg-config. Against a sysroot, pkg-config prefixes every path outside it
# with the sysroot, which is why a cross build stages its install inside.
set(ENV{PKG_CONFIG_PATH} "${prefix}/lib/pkgconfig")
set(compile "${CXX}" -std=c++17)
if(SYSROOT)
  set(ENV{PKG_CONFIG_LIBDIR} "${SYSROOT}/usr/lib/arm-linux-gnueabihf/pkgconfig")
  set(ENV{PKG_CONFIG_SYSROOT_DIR} "${SYSROOT}")
  list(APPEND compile --sysroot=${SYSROOT})
endif()
run(pkg-config --cflags --libs quillet)
string(STRIP "${out}" flags)
separate_arguments(flags UNIX_COMMAND "${flags}")
file(MAKE_DIRECTORY "${WORK_DIR}/pkg-config")
run(${compile} "${CMAKE_CURRENT_LIST_DIR}/consumer/consumer.cpp" ${flags} -o "${WORK_DIR}/pkg-config/consumer")
set(ENV{LD_LIBRARY_PATH} "${prefix}/lib")
expect_consumer_runs("${WORK_DIR}/pkg-config/consumer")
