# cmake/cross.cmake: the toolchain of a cross build, on Debian or Ubuntu, for the machine that VERDIX_ARCH names, run under qemu-user.
# The cross preset names it; it reads VERDIX_ARCH (a variable, else the environment) and packaging/facts/architectures.
if(NOT VERDIX_ARCH)
  set(VERDIX_ARCH "$ENV{VERDIX_ARCH}")
endif()
# The compiler's test projects read this file too, and need the same name.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES VERDIX_ARCH)
execute_process(COMMAND ${CMAKE_CURRENT_LIST_DIR}/../packaging/facts/architectures "${VERDIX_ARCH}"
  OUTPUT_VARIABLE row RESULT_VARIABLE unknown)
if(NOT VERDIX_ARCH OR unknown)
  message(FATAL_ERROR "cross.cmake: VERDIX_ARCH names no machine of packaging/facts/architectures: '${VERDIX_ARCH}'")
endif()
string(REGEX MATCHALL "[^ \n]+" row "${row}")
list(GET row 3 triplet)
list(GET row 4 qemu)

set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR ${VERDIX_ARCH})
set(CMAKE_CXX_COMPILER ${triplet}-g++)
# (For verdix-static, which links the machine's libc6-dev.)
execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-multiarch
  OUTPUT_VARIABLE VERDIX_STATIC_MULTIARCH OUTPUT_STRIP_TRAILING_WHITESPACE)
# qemu-ARCH-static up to Debian 13, qemu-ARCH later; -L, for the loader.
find_program(VERDIX_EMULATOR NAMES qemu-${qemu}-static qemu-${qemu} REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR ${VERDIX_EMULATOR} -L /usr/${triplet})
