# Cross build for 32-bit ARM Linux (Debian armhf) against a sysroot made by
# scripts/fetch-armhf-sysroot.sh; every program built here runs through
# qemu-arm with that sysroot as its root for the dynamic loader.
#
#   cmake --preset armhf             (sysroot in build-sysroot/armhf)
#   -DQUILLET_ARMHF_SYSROOT=/path    (another sysroot)
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)
set(QUILLET_TRIPLE arm-linux-gnueabihf)

if(NOT QUILLET_ARMHF_SYSROOT)
  get_filename_component(QUILLET_ARMHF_SYSROOT "${CMAKE_CURRENT_LIST_DIR}/../build-sysroot/armhf" ABSOLUTE)
endif()
if(NOT EXISTS "${QUILLET_ARMHF_SYSROOT}/usr/include/apr-1.0/apr.h")
  message(FATAL_ERROR "No armhf sysroot at ${QUILLET_ARMHF_SYSROOT}: run "
                      "scripts/fetch-armhf-sysroot.sh ${QUILLET_ARMHF_SYSROOT}")
endif()
# try_compile projects read this file again; hand them the same sysroot.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES QUILLET_ARMHF_SYSROOT)

set(CMAKE_C_COMPILER ${QUILLET_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${QUILLET_TRIPLE}-g++)
set(CMAKE_SYSROOT "${QUILLET_ARMHF_SYSROOT}")

# Libraries, headers and package files come from the sysroot only; the build
# tools (pkg-config, qemu-arm) are the host's.
set(CMAKE_FIND_ROOT_PATH "${QUILLET_ARMHF_SYSROOT}")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_LIBRARY_ARCHITECTURE ${QUILLET_TRIPLE})

# pkg-config reads the sysroot's .pc files and prefixes their paths with it;
# the host's own .pc files (64-bit APR) are never seen.
set(ENV{PKG_CONFIG_LIBDIR}
    "${QUILLET_ARMHF_SYSROOT}/usr/lib/${QUILLET_TRIPLE}/pkgconfig:${QUILLET_ARMHF_SYSROOT}/usr/share/pkgconfig")
set(ENV{PKG_CONFIG_SYSROOT_DIR} "${QUILLET_ARMHF_SYSROOT}")
set(ENV{PKG_CONFIG_PATH} "")

find_program(QUILLET_QEMU_ARM qemu-arm REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR "${QUILLET_QEMU_ARM};-L;${QUILLET_ARMHF_SYSROOT}")
