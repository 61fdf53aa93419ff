# cmake/static.cmake: how verdix-static and empty-static link, and which C library they carry.
# CMakeLists.txt includes it; it reads VERDIX_STATIC_MULTIARCH (from cross.cmake) and dpkg's database.
# Static PIEs where the C library can make them, with packed relocations,
# to start faster; a link warning, such as glibc's for functions that need
# the shared library, fails the build. They link the machine's libc6-dev,
# through multiarch in a cross build: the archive's current C library, not
# the cross toolchain's frozen copy. VERDIX_STATIC_LIBC is that libc.a,
# and VERDIX_GLIBC its Debian source version.
include(CheckLinkerFlag)
set(static_include "")
set(static_lib "")
if(VERDIX_STATIC_MULTIARCH)
  set(static_include -isystem/usr/include/${VERDIX_STATIC_MULTIARCH} -isystem/usr/include)
  set(static_lib -B/usr/lib/${VERDIX_STATIC_MULTIARCH} -L/usr/lib/${VERDIX_STATIC_MULTIARCH})
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

execute_process(COMMAND ${CMAKE_CXX_COMPILER} ${static_lib} -print-file-name=libc.a
  OUTPUT_VARIABLE VERDIX_STATIC_LIBC OUTPUT_STRIP_TRAILING_WHITESPACE)
get_filename_component(libc "${VERDIX_STATIC_LIBC}" REALPATH)
execute_process(COMMAND dpkg-query -S ${libc} OUTPUT_VARIABLE owner ERROR_QUIET)
string(REGEX REPLACE ": .*" "" owner "${owner}")
execute_process(COMMAND dpkg-query -W "-f=\${source:Package} \${source:Version}, \${Built-Using},"
  ${owner} OUTPUT_VARIABLE sources ERROR_QUIET)
if(owner AND sources MATCHES "glibc[ (=]* ([^ ),]+)")
  set(VERDIX_GLIBC ${CMAKE_MATCH_1})
else()
  set(VERDIX_GLIBC unknown)
  message(WARNING "No Debian package owns ${libc}: verdix-static cannot be packed")
endif()
