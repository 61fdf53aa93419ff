# SPDX-License-Identifier: MIT
# Run by cpack on the staged tree of each package, before packing.

# Reproducible packages: every timestamp is the latest changelog entry's,
# unless SOURCE_DATE_EPOCH is set.
if(NOT DEFINED ENV{SOURCE_DATE_EPOCH})
  set(ENV{SOURCE_DATE_EPOCH} "${CPACK_VERDIX_RELEASED}")
endif()

# Packages hold manual pages and the changelog compressed, as distributions
# ship them; a page that is a link to another becomes a link to the other's
# compressed file. gzip -n leaves out names and times.
# (find, not a glob, which would read brackets in the build path as a
# pattern.)
execute_process(COMMAND find . -name *.1 -o -path */doc/verdix/changelog
  WORKING_DIRECTORY "${CPACK_TEMPORARY_INSTALL_DIRECTORY}"
  OUTPUT_VARIABLE pages OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE failed)
if(failed OR NOT pages)
  message(FATAL_ERROR "no manual pages in ${CPACK_TEMPORARY_INSTALL_DIRECTORY}")
endif()
string(REPLACE "\n" ";" pages "${pages}")
foreach(page IN LISTS pages)
  set(page "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/${page}")
  if(IS_SYMLINK "${page}")
    file(READ_SYMLINK "${page}" target)
    file(REMOVE "${page}")
    file(CREATE_LINK "${target}.gz" "${page}.gz" SYMBOLIC)
  else()
    execute_process(COMMAND gzip -9nf "${page}" RESULT_VARIABLE failed)
    if(failed)
      message(FATAL_ERROR "cannot compress ${page}")
    endif()
  endif()
endforeach()

# The .deb carries lintian's overrides for it.
if(CPACK_GENERATOR STREQUAL "DEB")
  set(overrides
    "${CPACK_TEMPORARY_INSTALL_DIRECTORY}${CPACK_PACKAGING_INSTALL_PREFIX}/share/lintian/overrides")
  file(MAKE_DIRECTORY "${overrides}")
  configure_file("${CPACK_VERDIX_LINTIAN_OVERRIDES}" "${overrides}/verdix"
    COPYONLY)
endif()

# Whoever builds them, with whatever umask, packages hold folders 0755 and
# files 0644, or 0755 where they are executable, all of that one time.
foreach(command IN ITEMS "chmod;-R;u+w,go-w,a+rX;."
    "find;.;-exec;touch;-h;-d;@$ENV{SOURCE_DATE_EPOCH};{};+")
  execute_process(COMMAND ${command}
    WORKING_DIRECTORY "${CPACK_TEMPORARY_DIRECTORY}" RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "failed in ${CPACK_TEMPORARY_DIRECTORY}: ${command}")
  endif()
endforeach()
