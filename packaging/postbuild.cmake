# SPDX-License-Identifier: MIT
# Run by cpack after packing, to make a package the same whoever builds it.
# CMake before 4.3 takes the modes of the members of a .deb from the files
# it wrote, so from the builder's umask, and the owner of the entries of a
# tarball from the builder.

foreach(package IN LISTS CPACK_PACKAGE_FILES)
  if(package MATCHES "\\.deb$")
    # The .deb's members again, in their order, with ar's deterministic
    # mode: owner 0, mode 0644 and time 0 for each.
    set(members "${CPACK_TOPLEVEL_DIRECTORY}/deb-members")
    file(REMOVE_RECURSE "${members}")
    file(MAKE_DIRECTORY "${members}")
    execute_process(COMMAND ar t "${package}" OUTPUT_VARIABLE names
      RESULT_VARIABLE failed OUTPUT_STRIP_TRAILING_WHITESPACE)
    string(REPLACE "\n" ";" names "${names}")
    if(NOT failed)
      execute_process(COMMAND ar x "${package}" WORKING_DIRECTORY "${members}"
        RESULT_VARIABLE failed)
    endif()
    if(NOT failed)
      file(REMOVE "${package}")
      execute_process(COMMAND ar qcD "${package}" ${names}
        WORKING_DIRECTORY "${members}" RESULT_VARIABLE failed)
    endif()
  elseif(package MATCHES "\\.tar\\.gz$")
    # The tarball again from the same staged tree, every entry owned by
    # root, in name order, with the one timestamp of the pre-build script.
    get_filename_component(top "${CPACK_TEMPORARY_DIRECTORY}" NAME)
    get_filename_component(staged "${CPACK_TEMPORARY_DIRECTORY}" DIRECTORY)
    execute_process(
      COMMAND tar -C "${staged}" --sort=name --format=gnu --owner=0
        --group=0 --numeric-owner --mtime=@$ENV{SOURCE_DATE_EPOCH} -cf - ${top}
      COMMAND gzip -9n
      OUTPUT_FILE "${package}" RESULTS_VARIABLE failed)
    if(failed STREQUAL "0;0")
      set(failed 0)
    endif()
  endif()
  if(failed)
    message(FATAL_ERROR "cannot make ${package} again: ${failed}")
  endif()
endforeach()
