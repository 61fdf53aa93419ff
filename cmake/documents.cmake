# cmake/documents.cmake: the manual pages, as installed.
# CMakeLists.txt includes it; it reads verdix.1 and VERDIX_DATE.
# The manual has the changelog's date, and verdix-static's is a link.
file(READ verdix.1 page)
string(REPLACE "$Mdocdate$" "${VERDIX_DATE}" page "${page}")
file(WRITE ${PROJECT_BINARY_DIR}/verdix.1 "${page}")
file(CREATE_LINK verdix.1 ${PROJECT_BINARY_DIR}/verdix-static.1 SYMBOLIC)
