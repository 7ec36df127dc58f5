# How the tool is linked. One run of quillet does little work, so what it
# costs is mostly the dynamic loader's: by default libstdc++, libgcc and APR
# are linked in statically, and only libc and the platform log library are
# loaded at run time. -DQUILLET_STATIC_RUNTIME=OFF links them all dynamically.
option(QUILLET_STATIC_RUNTIME "Link libstdc++, libgcc and APR into quillet statically" ON)

if(QUILLET_STATIC_RUNTIME)
  find_library(QUILLET_APR_ARCHIVE NAMES libapr-1.a
    HINTS ${APR_STATIC_LIBRARY_DIRS} ${APR_LIBRARY_DIRS} REQUIRED)
  # What the archive needs in turn, as `pkg-config --static apr-1` lists it.
  set(QUILLET_APR_ARCHIVE_DEPS ${APR_STATIC_LIBRARIES})
  list(REMOVE_ITEM QUILLET_APR_ARCHIVE_DEPS apr-1)
endif()

# Links `target` with APR and the C++ runtime the way quillet is linked.
function(quillet_link_runtime target)
  if(QUILLET_STATIC_RUNTIME)
    # --as-needed drops the archive's dependencies that the program never
    # calls; -lc ahead of the driver's -lm binds APR's one libm function
    # (modf, also in libc) to libc, so libm is not loaded either.
    target_include_directories(${target} PRIVATE ${APR_INCLUDE_DIRS})
    target_compile_options(${target} PRIVATE ${APR_CFLAGS_OTHER})
    target_link_options(${target} PRIVATE -static-libstdc++ -static-libgcc LINKER:--as-needed)
    target_link_libraries(${target} PRIVATE ${QUILLET_APR_ARCHIVE} ${QUILLET_APR_ARCHIVE_DEPS} -Wl,-lc)
  else()
    target_link_libraries(${target} PRIVATE PkgConfig::APR)
  endif()
endfunction()
