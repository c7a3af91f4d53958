# 32-bit ARM boards (ARMv7, hard float): cmake -DCMAKE_TOOLCHAIN_FILE=<this>
# -DTOVRIMAX_SYSROOT=<target root>
set(CMAKE_SYSTEM_PROCESSOR arm)
set(TOVRIMAX_TRIPLET arm-linux-gnueabihf)
set(TOVRIMAX_QEMU qemu-arm)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
