# cmake/hardening.cmake: the flags that harden every build and keep it reproducible.
# CMakeLists.txt includes it; it reads the compiler's defaults.
# Folders are mapped to ".", the build folder last, to win when inside the
# source; without exception tables, never needed, 32-bit ARM's verdix
# needs no libgcc_s.
include(CheckCXXCompilerFlag)
include(CheckCXXSourceCompiles)
add_compile_options(-fstack-protector-strong -fno-plt -fno-exceptions
  "-ffile-prefix-map=${PROJECT_SOURCE_DIR}=."
  "-ffile-prefix-map=${PROJECT_BINARY_DIR}=.")
add_link_options(LINKER:-z,relro LINKER:-z,now LINKER:-z,noexecstack
  LINKER:--as-needed)
# Stack clash and control-flow protection where the compiler has them for
# its target (clang only warns of a flag that means nothing there).
set(CMAKE_REQUIRED_FLAGS -Werror)
foreach(flag IN ITEMS -fstack-clash-protection -fcf-protection
    -mbranch-protection=standard)
  string(MAKE_C_IDENTIFIER "HAVE${flag}" have)
  check_cxx_compiler_flag(${flag} ${have})
  if(${have})
    add_compile_options(${flag})
  endif()
endforeach()
unset(CMAKE_REQUIRED_FLAGS)
# An optimised build is fortified at level 2, unless the compiler already
# uses a level, by default or from the flags given: that one is kept.
set(configs ${CMAKE_CONFIGURATION_TYPES} ${CMAKE_BUILD_TYPE})
list(REMOVE_DUPLICATES configs)
foreach(config IN LISTS configs)
  set(CMAKE_TRY_COMPILE_CONFIGURATION ${config})
  unset(NO_FORTIFY_LEVEL_${config} CACHE)
  check_cxx_source_compiles("#if !defined(__OPTIMIZE__) || defined(_FORTIFY_SOURCE)
#error no level to add
#endif
int main() { return 0; }" NO_FORTIFY_LEVEL_${config})
  if(NO_FORTIFY_LEVEL_${config})
    add_compile_options($<$<CONFIG:${config}>:-D_FORTIFY_SOURCE=2>)
  endif()
endforeach()
unset(CMAKE_TRY_COMPILE_CONFIGURATION)
