# cmake -DSOURCE_DIR=... -DWORK_DIR=... -DVERSION=... -DMULTIARCH=... -DCXX=... -P PackageTest.cmake
# Builds this machine's Debian packages as make package does (the source package of the work tree, then
# the binaries from it), checks what each holds, unpacks them and checks the tree they make as
# InstalledTree.cmake does.
include(${CMAKE_CURRENT_LIST_DIR}/InstalledTree.cmake)

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

# The tool depends on the virtual package, never the stand-in's.
run(dpkg-deb -f "${WORK_DIR}/quillet_${VERSION}-1_${arch}.deb" Depends)
set(depends "${out}")
if(NOT depends MATCHES "(^|, )libquorlithpub(,|\n)" OR depends MATCHES "standin")
  message(FATAL_ERROR "quillet must depend on libquorlithpub:\n${depends}")
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
# It finds the log library through the loader's path, never an rpath.
check_installed_tree("${root}/usr" "lib/${MULTIARCH}" "${WORK_DIR}" "${CXX}")
