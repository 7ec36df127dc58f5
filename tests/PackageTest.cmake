# cmake -DSOURCE_DIR=... -DWORK_DIR=... -DVERSION=... -DMULTIARCH=... -DCXX=... -P PackageTest.cmake
# Builds this machine's Debian packages as make package does (the source package of the work tree, then
# the binaries from it), checks what each holds, unpacks them and runs there the tool and
# examples/eval_expression.cpp built with pkg-config and by tests/consumer.
macro(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "failed (${status}): ${ARGN}\n${out}${err}")
  endif()
endmacro()

set(root "${WORK_DIR}/root")
set(dir "usr/lib/${MULTIARCH}")
file(REMOVE_RECURSE "${WORK_DIR}")
execute_process(COMMAND dpkg --print-architecture OUTPUT_VARIABLE arch OUTPUT_STRIP_TRAILING_WHITESPACE)
run("${SOURCE_DIR}/scripts/build-debs.sh" "${WORK_DIR}" ${arch})
foreach(file "quillet_${VERSION}-1.dsc" "quillet_${VERSION}-1.debian.tar.xz" "quillet_${VERSION}.orig.tar.gz")
  if(NOT EXISTS "${WORK_DIR}/${file}")
    message(FATAL_ERROR "no source package: ${file} is missing")
  endif()
endforeach()

# Each package, of the project's version, with files it must hold; the
# stand-in in its own package only, the libraries in multiarch folders.
foreach(files "quillet;usr/bin/quillet;usr/share/man/man1/quillet.1.gz;usr/share/doc/quillet/copyright"
              "quillet-check;usr/bin/quillet-check;usr/share/man/man1/quillet-check.1.gz"
              "libquillet-dev;${dir}/libquillet_expr.a;${dir}/cmake/quillet/quilletConfig.cmake;${dir}/pkgconfig/quillet.pc"
              "libquorlithpub-standin;${dir}/libquorlithpub.so;usr/include/quorlith.h")
  list(POP_FRONT files package)
  set(deb "${WORK_DIR}/${package}_${VERSION}-1_${arch}.deb")
  run(dpkg-deb -c "${deb}")
  string(REGEX REPLACE "[^\n]* \\./([^\n]*)\n" "\\1;" held "${out}")
  list(REMOVE_ITEM files ${held})
  if(files OR (NOT package MATCHES "standin" AND out MATCHES "quorlith"))
    message(FATAL_ERROR "${package} lacks '${files}' or holds the stand-in:\n${out}")
  endif()
  run(dpkg-deb -x "${deb}" "${root}")
endforeach()

# The tool depends on the virtual package, never the stand-in's, and finds the
# log library through the loader's path, never an rpath.
run(dpkg-deb -f "${WORK_DIR}/quillet_${VERSION}-1_${arch}.deb" Depends)
set(depends "${out}")
run(readelf -d "${root}/usr/bin/quillet")
if(NOT depends MATCHES "(^|, )libquorlithpub(,|\n)" OR depends MATCHES "standin" OR out MATCHES "R(UN)?PATH")
  message(FATAL_ERROR "quillet must depend on libquorlithpub and have no rpath:\n${depends}${out}")
endif()
# The checker depends on no log library and leaves the device package as it was.
run(dpkg-deb -f "${WORK_DIR}/quillet-check_${VERSION}-1_${arch}.deb" Depends)
if(out MATCHES "quorlith" OR NOT out MATCHES "libz3" OR depends MATCHES "z3|quillet-check")
  message(FATAL_ERROR "quillet-check must depend on Z3 alone, quillet not on it:\n${out}${depends}")
endif()
file(WRITE "${WORK_DIR}/rules" "# range {$1} 7 8\n{$1} == 7\n")
run("${root}/usr/bin/quillet-check" "${WORK_DIR}/rules")
if(NOT out STREQUAL "${WORK_DIR}/rules:2: true [{$1}=7]; false [{$1}=8]; fails never\n")
  message(FATAL_ERROR "unexpected output of quillet-check:\n${out}")
endif()
# It names what it links statically: APR, of the version installed here, and the compiler's runtime.
run(dpkg-deb -f "${WORK_DIR}/quillet_${VERSION}-1_${arch}.deb" Static-Built-Using)
set(static "${out}")
run(dpkg-query -W "-f=apr (= \${source:Version})" libapr1-dev)
string(FIND "${static}" "${out}" apr)
if(apr EQUAL -1 OR NOT static MATCHES "gcc-[0-9]+ \\(= [^)]+\\)")
  message(FATAL_ERROR "Static-Built-Using must name ${out} and gcc-N: ${static}")
endif()
set(ENV{LD_LIBRARY_PATH} "${root}/${dir}")
set(ENV{PKG_CONFIG_PATH} "${root}/${dir}/pkgconfig")
run(pkg-config --cflags --libs quillet)
separate_arguments(flags UNIX_COMMAND "${out}")
run("${CXX}" -std=c++17 "${SOURCE_DIR}/examples/eval_expression.cpp" ${flags} -o "${WORK_DIR}/by-pkg-config")
run("${CMAKE_COMMAND}" -S "${CMAKE_CURRENT_LIST_DIR}/consumer" -B "${WORK_DIR}/consumer"
    -DCMAKE_PREFIX_PATH=${root}/usr -DCMAKE_CXX_COMPILER=${CXX})
run("${CMAKE_COMMAND}" --build "${WORK_DIR}/consumer")

# Each program verifies the expression, logging through the unpacked stand-in
# (records compared with their line numbers as '#'); the examples evaluate it.
set(trace "[5 ETrace] ALARM_MANAGER CExprUtil.cpp:#: ")
string(REPEAT "${trace}token analysis success \n${trace}syntax analysis success \n${trace}Valid expression : ({$1} + 2) * 3 \n" 3 verdicts)
foreach(program "${root}/usr/bin/quillet;-s" "${WORK_DIR}/by-pkg-config" "${WORK_DIR}/consumer/consumer")
  run(${program} "({$1} + 2) * 3" 1=5)
  string(APPEND outputs "${out}")
  string(APPEND logs "${err}")
endforeach()
string(REGEX REPLACE "(CExprUtil.cpp:)[0-9]+" "\\1#" logs "${logs}")
if(NOT outputs STREQUAL "postfix: {$1} 2 + 3 *\nvalue: 21\npostfix: {$1} 2 + 3 *\nvalue: 21\n" OR NOT logs STREQUAL verdicts)
  message(FATAL_ERROR "unexpected output:\n${outputs}${logs}")
endif()
