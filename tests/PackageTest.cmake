# cmake -DSOURCE_DIR=... -DWORK_DIR=... -DVERSION=... -DMULTIARCH=... -DCXX=... -P PackageTest.cmake
# Builds this machine's Debian packages as make package does, checks what each holds, unpacks
# them and runs the tool and tests/consumer (built with find_package and with pkg-config) there.
macro(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "failed (${status}): ${ARGN}\n${out}${err}")
  endif()
endmacro()

set(root "${WORK_DIR}/root")
set(dir "usr/lib/${MULTIARCH}")
file(REMOVE_RECURSE "${WORK_DIR}")
run(dpkg --print-architecture)
string(STRIP "${out}" arch)
run("${SOURCE_DIR}/scripts/build-debs.sh" "${WORK_DIR}" ${arch})

# Each package, of the project's version, with files it must hold; the
# stand-in in its own package only, the libraries in multiarch folders.
foreach(row "quillet|usr/bin/quillet|usr/share/man/man1/quillet.1.gz|usr/share/doc/quillet/copyright"
            "libquillet-dev|${dir}/libquillet_expr.a|${dir}/cmake/quillet/quilletConfig.cmake|${dir}/pkgconfig/quillet.pc"
            "libquorlithpub-standin|${dir}/libquorlithpub.so|usr/include/quorlith.h")
  string(REPLACE "|" ";" files "${row}")
  list(POP_FRONT files package)
  run(dpkg-deb -c "${WORK_DIR}/${package}_${VERSION}-1_${arch}.deb")
  foreach(file IN LISTS files)
    if(NOT out MATCHES " \\./${file}\n")
      message(FATAL_ERROR "${file} is missing from ${package}:\n${out}")
    endif()
  endforeach()
  if(NOT package MATCHES "standin" AND out MATCHES "quorlith")
    message(FATAL_ERROR "${package} holds the stand-in:\n${out}")
  endif()
  run(dpkg-deb -x "${WORK_DIR}/${package}_${VERSION}-1_${arch}.deb" "${root}")
endforeach()
run(dpkg-deb -f "${WORK_DIR}/quillet_${VERSION}-1_${arch}.deb" Depends)
if(NOT out MATCHES "(^|, )libquorlithpub(,|\n)" OR out MATCHES "standin")
  message(FATAL_ERROR "quillet must depend on the virtual libquorlithpub: ${out}")
endif()

# The tool finds the log library through the loader's path, never an rpath.
run(readelf -d "${root}/usr/bin/quillet")
if(out MATCHES "R(UN)?PATH")
  message(FATAL_ERROR "the packaged quillet has an rpath:\n${out}")
endif()
set(ENV{LD_LIBRARY_PATH} "${root}/${dir}")
set(ENV{PKG_CONFIG_PATH} "${root}/${dir}/pkgconfig")
run(pkg-config --cflags --libs quillet)
separate_arguments(flags UNIX_COMMAND "${out}")
run("${CXX}" -std=c++17 "${CMAKE_CURRENT_LIST_DIR}/consumer/consumer.cpp" ${flags} -o "${WORK_DIR}/by-pkg-config")
run("${CMAKE_COMMAND}" -S "${CMAKE_CURRENT_LIST_DIR}/consumer" -B "${WORK_DIR}/consumer"
    -DCMAKE_PREFIX_PATH=${root}/usr -DCMAKE_CXX_COMPILER=${CXX})
run("${CMAKE_COMMAND}" --build "${WORK_DIR}/consumer")

# Each program logs the verdict through the unpacked stand-in; the consumers
# ignore their arguments and print ({$1} + 2) * 3 for {$1} = 5.
foreach(program "${root}/usr/bin/quillet" "${WORK_DIR}/by-pkg-config" "${WORK_DIR}/consumer/consumer")
  run("${program}" -s "({$1} + 2) * 3")
  string(APPEND outputs "${out}")
  string(APPEND logs "${err}")
endforeach()
string(REPEAT "ALARM_MANAGER [^\n]*Valid expression.*" 3 verdicts)
if(NOT outputs STREQUAL "21\n21\n" OR NOT logs MATCHES "${verdicts}")
  message(FATAL_ERROR "unexpected output:\n${outputs}${logs}")
endif()
