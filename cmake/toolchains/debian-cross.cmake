# Shared by the board toolchain files, which set TOVRIMAX_TRIPLET and TOVRIMAX_QEMU first.
# Compiles with Debian's cross compiler against a target root made by make-sysroot (given as
# TOVRIMAX_SYSROOT), runs Qt's code generators of this machine, and runs the board's programs
# (the unit tests) under user-mode qemu.
set(CMAKE_SYSTEM_NAME Linux)

set(TOVRIMAX_SYSROOT "" CACHE PATH "Target root made by cmake/toolchains/make-sysroot")
if(NOT TOVRIMAX_SYSROOT OR NOT EXISTS "${TOVRIMAX_SYSROOT}/usr/lib/${TOVRIMAX_TRIPLET}")
    message(FATAL_ERROR "TOVRIMAX_SYSROOT must name a ${TOVRIMAX_TRIPLET} target root; "
        "`./dev cross` makes one")
endif()
# compiler checks run in projects of their own, which read this file again
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES TOVRIMAX_SYSROOT)

set(CMAKE_C_COMPILER ${TOVRIMAX_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${TOVRIMAX_TRIPLET}-g++)
set(CMAKE_LIBRARY_ARCHITECTURE ${TOVRIMAX_TRIPLET})
set(CMAKE_SYSROOT ${TOVRIMAX_SYSROOT})

# libraries, headers and package configurations of the board only; programs of this machine
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(ENV{PKG_CONFIG_SYSROOT_DIR} ${CMAKE_SYSROOT})
set(ENV{PKG_CONFIG_LIBDIR}
    "${CMAKE_SYSROOT}/usr/lib/${TOVRIMAX_TRIPLET}/pkgconfig:${CMAKE_SYSROOT}/usr/share/pkgconfig")
unset(ENV{PKG_CONFIG_PATH})

# the unit tests name the loader in the target root (the board's own lives at
# /lib/ld-linux-*), so that qemu needs no library root that would hide this machine's "/"
file(GLOB TOVRIMAX_TEST_LOADER ${CMAKE_SYSROOT}/usr/lib/ld-linux-*.so.*)
set(CMAKE_CROSSCOMPILING_EMULATOR
    ${CMAKE_CURRENT_LIST_DIR}/qemu-run ${TOVRIMAX_QEMU} ${CMAKE_SYSROOT} ${TOVRIMAX_TRIPLET})
