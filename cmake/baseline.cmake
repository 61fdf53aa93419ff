# cmake/baseline.cmake: with VERDIX_BASELINE, build verdix and empty against the baseline C library.
# CMakeLists.txt includes it; the ci and cross presets set VERDIX_BASELINE.
# That is the C library of packaging/facts/baseline.lock, its headers first,
# as Debian's cross compilers read theirs; the suite checks that verdix
# needs no glibc symbol newer than VERDIX_GLIBC_BASELINE.
option(VERDIX_BASELINE "Build verdix against the C library of packaging/facts/baseline.lock")
set(VERDIX_GLIBC_BASELINE 2.17)
if(VERDIX_BASELINE)
  set(sysroot ${PROJECT_BINARY_DIR}/sysroot)
  execute_process(COMMAND ${PROJECT_SOURCE_DIR}/packaging/pack/unpack-baseline
    ${CMAKE_SYSTEM_PROCESSOR} ${sysroot} RESULT_VARIABLE failed)
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-multiarch
    OUTPUT_VARIABLE multiarch OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(failed OR NOT multiarch)
    message(FATAL_ERROR "No baseline C library for ${CMAKE_SYSTEM_PROCESSOR}")
  endif()
  set(lib ${sysroot}/usr/lib/${multiarch})
  foreach(target IN ITEMS verdix empty)
    target_compile_options(${target} PRIVATE --sysroot=${sysroot}
      -isystem${sysroot}/usr/include/${multiarch} -isystem${sysroot}/usr/include)
    target_link_options(${target} PRIVATE --sysroot=${sysroot} -B${lib} -L${lib}
      -L${sysroot}/lib/${multiarch})
  endforeach()
endif()
