# Installation and the Debian package.
include(GNUInstallDirs)

install(TARGETS morvane RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(TARGETS morvane_window RUNTIME DESTINATION ${MORVANE_WINDOW_FOLDER})
# A stripped install (the package's) also drops the compilers' notes.
install(CODE "
    if(CMAKE_INSTALL_DO_STRIP)
        execute_process(COMMAND \"${CMAKE_STRIP}\" --remove-section=.comment
            \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/morvane\"
            \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${MORVANE_WINDOW_FOLDER}/morvane_window\"
            COMMAND_ERROR_IS_FATAL ANY)
    endif()")
add_subdirectory(data)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME morvane)
set(CPACK_PACKAGE_VENDOR "The Morvane developers")
set(CPACK_PACKAGE_CONTACT "The Morvane developers <support@morvane.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "divide a large file into chunks and glue them back")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
    "Morvane divides a large file into numbered chunk files plus one division\n"
    "header file, and glues the chunks back into a file that is byte for byte\n"
    "the original. It is a small desktop program with a single window.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://morvane.example/updates")
# The Qt 6 runtime libraries the program links to, as dpkg-shlibdeps finds them.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The window is laid out for DejaVu Sans and its condensed face.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-dejavu-core, fonts-dejavu-extra")
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
include(CPack)
