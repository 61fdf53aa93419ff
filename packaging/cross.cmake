# SPDX-License-Identifier: MIT
# Cross build for an architecture of packaging/architectures, on Debian or
# Ubuntu, named by its machine in VERDIX_ARCH, a variable or else an
# environment variable:
#   cmake -B out/aarch64 --toolchain packaging/cross.cmake -DVERDIX_ARCH=aarch64
# It builds with the architecture's g++-TRIPLET and runs its executables, and
# so the suite, under qemu-user. (packaging/needs lists what is missing.)
if(NOT VERDIX_ARCH)
  set(VERDIX_ARCH "$ENV{VERDIX_ARCH}")
endif()
if(NOT VERDIX_ARCH)
  message(FATAL_ERROR "cross.cmake: say which architecture, e.g. -DVERDIX_ARCH=aarch64")
endif()
# The compiler's test projects read this file too, and need the same name.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES VERDIX_ARCH)

file(STRINGS ${CMAKE_CURRENT_LIST_DIR}/architectures rows REGEX "^${VERDIX_ARCH} ")
if(NOT rows)
  message(FATAL_ERROR "cross.cmake: ${VERDIX_ARCH} is not in packaging/architectures")
endif()
string(REGEX REPLACE " +" ";" row "${rows}")
list(GET row 3 triplet)
list(GET row 4 qemu)

set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR ${VERDIX_ARCH})
set(CMAKE_CXX_COMPILER ${triplet}-g++)
# Debian up to 13 names the emulator qemu-ARCH-static; later ones, whose
# qemu-user has static emulators only, qemu-ARCH. -L names the folder of the
# architecture's C library, for a dynamic executable's loader.
find_program(VERDIX_EMULATOR NAMES qemu-${qemu}-static qemu-${qemu} REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR ${VERDIX_EMULATOR} -L /usr/${triplet})
