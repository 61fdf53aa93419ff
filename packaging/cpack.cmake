# SPDX-License-Identifier: MIT
# Read by cpack before it makes each package. The packages are made
# reproducible by prebuild.cmake and postbuild.cmake, which an older cpack
# would not run: refuse rather than make packages that differ by builder.
if(CMAKE_VERSION VERSION_LESS 3.19)
  message(FATAL_ERROR "Packing verdix needs CPack 3.19 or later, for its "
    "pre- and post-build scripts; this is CPack ${CMAKE_VERSION}.")
endif()
