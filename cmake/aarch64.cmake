# Cross build for 64-bit Arm Linux with Debian's aarch64 toolchain; test programs run
# under qemu-aarch64 (user mode) with the arm64 libraries of the multiarch tree.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)
set(CMAKE_FIND_ROOT_PATH /usr/aarch64-linux-gnu /usr/lib/aarch64-linux-gnu)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)
find_program(KALDRO_QEMU NAMES qemu-aarch64-static qemu-aarch64 REQUIRED)
# The programs must run with one C library. The arm64 libraries the tests link
# (GoogleTest, OpenSSL, GMP) bring the multiarch libc6:arm64, whose loader is
# /lib/ld-linux-aarch64.so.1; the cross toolchain's own loader under /usr/aarch64-linux-gnu
# would find that newer libc.so.6 through the multiarch paths, and a loader and libc of
# different builds hang in the first pthread_create. The multiarch root is taken when it
# is there.
if(EXISTS /lib/ld-linux-aarch64.so.1)
  set(KALDRO_QEMU_ROOT /)
else()
  set(KALDRO_QEMU_ROOT /usr/aarch64-linux-gnu)
endif()
set(CMAKE_CROSSCOMPILING_EMULATOR ${KALDRO_QEMU} -L ${KALDRO_QEMU_ROOT})
