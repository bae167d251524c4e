# Release package: VarnetBrowser-<version>-win64.zip holding the program, the players' README and the licence.
# The package needs the program only, so installing (and cpack) does not build the tests first.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)
install(TARGETS VarnetBrowser RUNTIME DESTINATION .)
install(FILES ${CMAKE_SOURCE_DIR}/docs/PLAYERS.md DESTINATION . RENAME README.txt)
install(FILES ${CMAKE_SOURCE_DIR}/LICENSE DESTINATION . RENAME LICENSE.txt)

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME VarnetBrowser)
set(CPACK_PACKAGE_VENDOR "The Varnet Server Browser developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Server browser for the Varnet modification of Quake II")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_FILE_NAME VarnetBrowser-${PROJECT_VERSION}-win64)
set(CPACK_RESOURCE_FILE_LICENSE ${CMAKE_SOURCE_DIR}/LICENSE)
# Unpacks into a folder of its own rather than into wherever the zip is opened.
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_STRIP_FILES ON)  # the debug information stays in the build tree
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/package)
include(CPack)
