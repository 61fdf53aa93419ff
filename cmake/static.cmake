# cmake/static.cmake: how verdix-static and empty-static link.
# CMakeLists.txt includes it; it reads the compiler and, in a cross build, the machine's multiarch folders.
# Static PIEs where the C library can make them, with packed relocations,
# to start faster; a link warning, such as glibc's for functions that need
# the shared library, fails the build. A cross build links the machine's
# libc.a from its multiarch folder where there is one (Debian's
# libc6-dev:ARCH): the archive's current C library, not the cross
# toolchain's frozen copy.
include(CheckLinkerFlag)
set(static_include "")
set(static_lib "")
if(CMAKE_CROSSCOMPILING)
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-multiarch
    OUTPUT_VARIABLE multiarch OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(multiarch AND EXISTS /usr/lib/${multiarch}/libc.a)
    set(static_include -isystem/usr/include/${multiarch} -isystem/usr/include)
    set(static_lib -B/usr/lib/${multiarch} -L/usr/lib/${multiarch})
  endif()
endif()
check_linker_flag(CXX LINKER:--fatal-warnings,-z,pack-relative-relocs
  HAVE_PACK_RELATIVE_RELOCS)
set(CMAKE_REQUIRED_FLAGS -fPIE)
set(CMAKE_REQUIRED_LINK_OPTIONS ${static_lib})
check_linker_flag(CXX -static-pie HAVE_STATIC_PIE)
unset(CMAKE_REQUIRED_FLAGS)
unset(CMAKE_REQUIRED_LINK_OPTIONS)
foreach(static IN ITEMS verdix-static empty-static)
  target_compile_options(${static} PRIVATE ${static_include})
  target_link_options(${static} PRIVATE ${static_lib} LINKER:--fatal-warnings)
  if(HAVE_STATIC_PIE)
    target_compile_options(${static} PRIVATE -fPIE)
    target_link_options(${static} PRIVATE -static-pie)
  else()
    target_link_options(${static} PRIVATE -static)
  endif()
  if(HAVE_PACK_RELATIVE_RELOCS)
    target_link_options(${static} PRIVATE LINKER:-z,pack-relative-relocs)
  endif()
endforeach()
