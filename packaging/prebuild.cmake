# SPDX-License-Identifier: MIT
# Run by cpack on the staged install tree of each package, before packing.

# Reproducible packages: every timestamp is the latest changelog entry's,
# unless SOURCE_DATE_EPOCH is set.
if(NOT DEFINED ENV{SOURCE_DATE_EPOCH})
  set(ENV{SOURCE_DATE_EPOCH} "${CPACK_VERDIX_RELEASED}")
endif()

# Packages hold manual pages and the changelog compressed, as distributions
# ship them; a page that is a link to another becomes a link to the other's
# compressed file. gzip -n leaves out names and times.
file(GLOB_RECURSE pages "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*.1"
  "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*/changelog")
foreach(page IN LISTS pages)
  if(IS_SYMLINK "${page}")
    file(READ_SYMLINK "${page}" target)
    file(REMOVE "${page}")
    file(CREATE_LINK "${target}.gz" "${page}.gz" SYMBOLIC)
  else()
    execute_process(COMMAND gzip -9nf "${page}" COMMAND_ERROR_IS_FATAL ANY)
  endif()
endforeach()

# The .deb carries lintian's overrides for it.
if(CPACK_GENERATOR STREQUAL "DEB")
  set(overrides
    "${CPACK_TEMPORARY_INSTALL_DIRECTORY}${CPACK_PACKAGING_INSTALL_PREFIX}/share/lintian/overrides")
  file(MAKE_DIRECTORY "${overrides}")
  file(COPY_FILE "${CPACK_VERDIX_LINTIAN_OVERRIDES}" "${overrides}/verdix")
endif()
