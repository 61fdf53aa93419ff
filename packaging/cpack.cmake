# SPDX-License-Identifier: MIT
# Read by cpack before it makes each package. The packages are made
# reproducible by prebuild.cmake and postbuild.cmake, which an older cpack
# would not run: refuse rather than make packages that differ by builder.
if(CMAKE_VERSION VERSION_LESS 3.19)
  message(FATAL_ERROR "Packing verdix needs CPack 3.19 or later, for its "
    "pre- and post-build scripts; this is CPack ${CMAKE_VERSION}.")
endif()

# rpmbuild cannot work in a folder whose path has a blank, and CPack reads
# the path of the folder it packs as a glob pattern, so that brackets in it
# leave a package empty. A package for such a folder is made in a folder of
# its own under /tmp, and put where it belongs.
if(CPACK_PACKAGE_DIRECTORY MATCHES "[] *?[]")
  string(MD5 key "${CPACK_PACKAGE_DIRECTORY}")
  set(CPACK_OUTPUT_FILE_PREFIX "${CPACK_PACKAGE_DIRECTORY}")
  set(CPACK_PACKAGE_DIRECTORY "/tmp/verdix-cpack-${key}")
endif()
