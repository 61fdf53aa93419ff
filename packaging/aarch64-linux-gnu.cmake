# SPDX-License-Identifier: MIT
# Cross build for 64-bit ARM on Debian or Ubuntu:
#   cmake -B out/arm64 --toolchain packaging/aarch64-linux-gnu.cmake
# It needs g++-aarch64-linux-gnu to build, qemu-user-static to run the
# executables (and so to test them), and the arm64 C library, libc6:arm64,
# for the .deb's dependencies.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-aarch64-static -L /usr/aarch64-linux-gnu)
