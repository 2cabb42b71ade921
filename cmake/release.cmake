# The release zip (CPack, ZIP) and its tests, for the preset `release`:
#   cmake --build --preset release --target package   (scripts/release.sh)
# gives build/release/Kelvane-<version>-win32.zip with one folder inside.
if(NOT WIN32)
  message(FATAL_ERROR "KELVANE_RELEASE needs the mingw-w64 toolchain: use the preset release")
endif()

# The text files get CRLF line ends, so Notepad on any Windows shows them right.
set(staged ${PROJECT_BINARY_DIR}/release-files)
foreach(backend hardware journal ftdi hidrelay)
  configure_file(${PROJECT_SOURCE_DIR}/driver/examples/${backend}/KorvPortDll.cfg
                 ${staged}/examples/${backend}/KorvPortDll.cfg @ONLY NEWLINE_STYLE CRLF)
endforeach()
configure_file(${PROJECT_SOURCE_DIR}/LICENSE ${staged}/LICENSE.txt @ONLY NEWLINE_STYLE CRLF)
configure_file(${PROJECT_SOURCE_DIR}/docs/release/README.txt ${staged}/README.txt @ONLY NEWLINE_STYLE CRLF)

install(FILES $<TARGET_FILE:Kelvane> $<TARGET_FILE:KorvPortDll> ${staged}/README.txt ${staged}/LICENSE.txt
        DESTINATION .)
install(DIRECTORY ${staged}/examples DESTINATION .)
# Every page of the guide, including those other outputs add beside it.
install(DIRECTORY ${PROJECT_SOURCE_DIR}/docs/guide/ DESTINATION guide)

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME Kelvane)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(KELVANE_RELEASE_NAME Kelvane-${PROJECT_VERSION}-win32)
set(CPACK_PACKAGE_FILE_NAME ${KELVANE_RELEASE_NAME})
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR})
include(CPack)

# The zip as a user meets it, and the floor of its binaries (run inside one
# Wine session on a display, as scripts/test.sh does).
enable_testing()
set(KELVANE_RELEASE_ZIP ${PROJECT_BINARY_DIR}/${KELVANE_RELEASE_NAME}.zip)
add_test(NAME release.zip-dry-run
         COMMAND bash ${PROJECT_SOURCE_DIR}/tests/release/zip_test.sh ${KELVANE_RELEASE_ZIP} ${KELVANE_PROGRAM_DIR})
add_test(NAME release.import-check-names-what-is-missing
         COMMAND bash ${PROJECT_SOURCE_DIR}/tests/release/import_check_test.sh $<TARGET_FILE:Kelvane>)
