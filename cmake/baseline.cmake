# cmake/baseline.cmake: with VERDIX_BASELINE, build verdix and empty against the baseline C library unpacked there.
# CMakeLists.txt includes it; the release's build-machines unpacks the library and names the folder.
# Its headers come first, as Debian's cross compilers read theirs; the
# suite checks that verdix needs no glibc symbol newer than
# VERDIX_GLIBC_BASELINE.
set(VERDIX_BASELINE "" CACHE PATH "A folder with the baseline C library, to build verdix against")
set(VERDIX_GLIBC_BASELINE 2.17)
if(VERDIX_BASELINE)
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-multiarch
    OUTPUT_VARIABLE multiarch OUTPUT_STRIP_TRAILING_WHITESPACE)
  set(lib ${VERDIX_BASELINE}/usr/lib/${multiarch})
  if(NOT multiarch OR NOT EXISTS ${lib}/libc.so)
    message(FATAL_ERROR "VERDIX_BASELINE: no C library for ${multiarch} in ${VERDIX_BASELINE}")
  endif()
  foreach(target IN ITEMS verdix empty)
    target_compile_options(${target} PRIVATE --sysroot=${VERDIX_BASELINE}
      -isystem${VERDIX_BASELINE}/usr/include/${multiarch} -isystem${VERDIX_BASELINE}/usr/include)
    target_link_options(${target} PRIVATE --sysroot=${VERDIX_BASELINE} -B${lib} -L${lib}
      -L${VERDIX_BASELINE}/lib/${multiarch})
  endforeach()
endif()
