# 64-bit ARM boards: cmake -DCMAKE_TOOLCHAIN_FILE=<this> -DTOVRIMAX_SYSROOT=<target root>
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(TOVRIMAX_TRIPLET aarch64-linux-gnu)
set(TOVRIMAX_QEMU qemu-aarch64)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
