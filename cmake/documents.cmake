# cmake/documents.cmake: the manual pages and the copyright file, as installed.
# CMakeLists.txt includes it; it reads verdix.1, LICENSE, debian/control and debian/copyright.in.
# The manual has the changelog's date, and verdix-static's is a link; the
# copyright file has the licence's own words and the glibc of verdix-static.
file(READ verdix.1 page)
string(REPLACE "$Mdocdate$" "${VERDIX_DATE}" page "${page}")
file(WRITE ${PROJECT_BINARY_DIR}/verdix.1 "${page}")
file(CREATE_LINK verdix.1 ${PROJECT_BINARY_DIR}/verdix-static.1 SYMBOLIC)
file(STRINGS LICENSE copyright LIMIT_COUNT 1 REGEX "^Copyright")
file(STRINGS packaging/pack/debian/control contact LIMIT_COUNT 1 REGEX "^Maintainer: ")
file(READ LICENSE licence)
string(REGEX REPLACE "^.*\n\n(Permission)" "\\1" licence "${licence}")
string(STRIP "${licence}" licence)
string(REPLACE "\n\n" "\n.\n" licence "${licence}")
string(REPLACE "\n" "\n " licence "${licence}")
string(REPLACE "Copyright (c) " "" copyright "${copyright}")
string(REPLACE "Maintainer: " "" contact "${contact}")
set(glibc ${VERDIX_GLIBC})
configure_file(packaging/pack/debian/copyright.in copyright @ONLY)
