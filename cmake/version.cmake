# cmake/version.cmake: VERDIX_VERSION, and the date as VERDIX_EPOCH and VERDIX_DATE, from the changelog's newest entry.
# CMakeLists.txt includes it before project(); the changelog is their one source.
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS changelog verdix.1)
file(STRINGS changelog heading LIMIT_COUNT 1 REGEX "^verdix \\(")
file(STRINGS changelog signature LIMIT_COUNT 1 REGEX "^ -- ")
string(REGEX REPLACE "^verdix \\(([^)]*)\\).*" "\\1" VERDIX_VERSION "${heading}")
string(REGEX REPLACE "^ -- .*>  " "" date "${signature}")
execute_process(COMMAND ${CMAKE_COMMAND} -E env LC_ALL=C
  date -u -d "${date}" "+%s;%B %-d, %Y" OUTPUT_VARIABLE date
  OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "changelog: cannot read the date of ${heading}")
endif()
list(GET date 0 VERDIX_EPOCH)
list(GET date 1 VERDIX_DATE)
