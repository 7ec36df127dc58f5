# include()d by the tests that install quillet (PackageTest.cmake, InstallTest.cmake).
#
# run(COMMAND...): runs it; any exit status but 0 fails the test with its output.
# check_installed_tree(PREFIX LIBDIR WORK_DIR CXX): the tree installed at PREFIX, its
# libraries in PREFIX/LIBDIR, as its users take it. The tool carries no rpath;
# examples/eval_expression.cpp is built against the tree with pkg-config
# quillet and with find_package(quillet) (tests/consumer), in WORK_DIR; the
# tool and both programs then verify and evaluate an expression, logging
# through the tree's stand-in.
macro(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "failed (${status}): ${ARGN}\n${out}${err}")
  endif()
endmacro()

function(check_installed_tree prefix libdir work_dir cxx)
  run(readelf -d "${prefix}/bin/quillet")
  if(out MATCHES "R(UN)?PATH")
    message(FATAL_ERROR "the installed quillet has an rpath:\n${out}")
  endif()

  set(ENV{LD_LIBRARY_PATH} "${prefix}/${libdir}")
  set(ENV{PKG_CONFIG_PATH} "${prefix}/${libdir}/pkgconfig")
  run(pkg-config --cflags --libs quillet)
  separate_arguments(flags UNIX_COMMAND "${out}")
  get_filename_component(source_dir "${CMAKE_CURRENT_FUNCTION_LIST_DIR}" DIRECTORY)
  run("${cxx}" -std=c++17 "${source_dir}/examples/eval_expression.cpp" ${flags} -o "${work_dir}/by-pkg-config")
  run("${CMAKE_COMMAND}" -S "${CMAKE_CURRENT_FUNCTION_LIST_DIR}/consumer" -B "${work_dir}/consumer"
      -DCMAKE_PREFIX_PATH=${prefix} -DCMAKE_CXX_COMPILER=${cxx})
  run("${CMAKE_COMMAND}" --build "${work_dir}/consumer")

  # Records compared with their line numbers as '#'; the examples also evaluate.
  set(trace "[5 ETrace] ALARM_MANAGER CExprUtil.cpp:#: ")
  string(REPEAT "${trace}token analysis success \n${trace}syntax analysis success \n${trace}Valid expression : ({$1} + 2) * 3 \n" 3 verdicts)
  foreach(program "${prefix}/bin/quillet;-s" "${work_dir}/by-pkg-config" "${work_dir}/consumer/consumer")
    run(${program} "({$1} + 2) * 3" 1=5)
    string(APPEND outputs "${out}")
    string(APPEND logs "${err}")
  endforeach()
  string(REGEX REPLACE "(CExprUtil.cpp:)[0-9]+" "\\1#" logs "${logs}")
  if(NOT outputs STREQUAL "postfix: {$1} 2 + 3 *\nvalue: 21\npostfix: {$1} 2 + 3 *\nvalue: 21\n" OR NOT logs STREQUAL verdicts)
    message(FATAL_ERROR "unexpected output:\n${outputs}${logs}")
  endif()
endfunction()
