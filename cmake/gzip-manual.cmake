# Packages hold manual pages compressed, as distributions ship them; a page
# that is a link to another becomes a link to the other's compressed file.
# gzip -n leaves out names and times, so the packages are reproducible.
file(GLOB_RECURSE pages "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*.1")
foreach(page IN LISTS pages)
  if(IS_SYMLINK "${page}")
    file(READ_SYMLINK "${page}" target)
    file(REMOVE "${page}")
    file(CREATE_LINK "${target}.gz" "${page}.gz" SYMBOLIC)
  else()
    execute_process(COMMAND gzip -9nf "${page}" COMMAND_ERROR_IS_FATAL ANY)
  endif()
endforeach()
