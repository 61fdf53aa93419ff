# SPDX-License-Identifier: MIT
# Run by cpack after packing, to make a package the same whoever builds it.
# CMake before 4.3 takes the modes of the members of a .deb from the files
# it wrote, so from the builder's umask, and the owner of the entries of a
# tarball from the builder.

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "failed (${failed}): ${ARGN}")
  endif()
endfunction()

foreach(package IN LISTS CPACK_PACKAGE_FILES)
  if(package MATCHES "\\.deb$")
    # Its members again in their order, in ar's format as dpkg-deb writes
    # it: each a 60-byte header (name, time, owner, group, mode, size) and
    # its bytes, padded to an even length.
    set(members "${CPACK_TOPLEVEL_DIRECTORY}/deb-members")
    file(REMOVE_RECURSE "${members}")
    file(MAKE_DIRECTORY "${members}")
    execute_process(COMMAND ar t "${package}" OUTPUT_VARIABLE names
      RESULT_VARIABLE failed)
    if(failed)
      message(FATAL_ERROR "cannot list ${package}")
    endif()
    string(REGEX REPLACE "\n$" "" names "${names}")
    string(REPLACE "\n" ";" names "${names}")
    run(ar x "${package}" WORKING_DIRECTORY "${members}")
    file(WRITE "${members}/magic" "!<arch>\n")
    file(WRITE "${members}/pad" "\n")
    set(parts magic)
    foreach(name IN LISTS names)
      file(SIZE "${members}/${name}" size)
      set(header "")
      set(fields "${name};$ENV{SOURCE_DATE_EPOCH};0;0;100644;${size}")
      set(widths 16 12 6 6 8 10)
      foreach(field width IN ZIP_LISTS fields widths)
        string(LENGTH "${field}" length)
        math(EXPR blanks "${width} - ${length}")
        string(REPEAT " " ${blanks} fill)
        string(APPEND header "${field}${fill}")
      endforeach()
      file(WRITE "${members}/${name}.header" "${header}`\n")
      list(APPEND parts "${name}.header" "${name}")
      math(EXPR odd "${size} % 2")
      if(odd)
        list(APPEND parts pad)
      endif()
    endforeach()
    run(cat ${parts} WORKING_DIRECTORY "${members}" OUTPUT_FILE "${package}")
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
    if(NOT failed STREQUAL "0;0")
      message(FATAL_ERROR "cannot pack ${package} again: ${failed}")
    endif()
  endif()
endforeach()
