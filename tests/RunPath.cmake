# Fails unless every program in BIN_DIR finds its shared libraries only
# relative to itself: each RUNPATH or RPATH entry is $ORIGIN or starts with
# $ORIGIN/. An empty entry is the working directory, any other path one that
# whoever runs the program may not control.
file(GLOB programs ${BIN_DIR}/*)
if(NOT programs)
  message(FATAL_ERROR "no programs in ${BIN_DIR}")
endif()
foreach(program ${programs})
  execute_process(COMMAND readelf -d ${program} OUTPUT_VARIABLE dynamic RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "readelf -d ${program} failed")
  endif()
  string(REGEX MATCHALL "Library r(un)?path: \\[[^]\n]*\\]" paths "${dynamic}")
  foreach(path ${paths})
    string(REGEX REPLACE "^Library r(un)?path: \\[(.*)\\]$" "\\2" path "${path}")
    # Split on ':' by hand: a CMake list would drop empty entries.
    string(REPLACE ":" ";<entry>" entries "<entry>${path}")
    foreach(entry ${entries})
      string(REGEX REPLACE "^<entry>" "" entry "${entry}")
      if(NOT entry MATCHES "^\\$ORIGIN(/|$)")
        message(FATAL_ERROR "${program}: run path [${path}] holds the entry '${entry}'")
      endif()
    endforeach()
  endforeach()
endforeach()
