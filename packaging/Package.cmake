# The Debian package of the program: bash scripts/package.sh builds it with CPack.
# Included from the top CMakeLists after the program target exists.

set(OEKAKI_MAINTAINER "Oekaki Maintainers <oekaki@example.org>" CACHE STRING
    "Maintainer field of the Debian package: name <address>")
target_compile_definitions(oekaki PRIVATE OEKAKI_VERSION="${PROJECT_VERSION}")
# As Debian builds its own packages: read-only relocations, bound at start.
target_link_options(oekaki PRIVATE -Wl,-z,relro -Wl,-z,now)

set(OEKAKI_PACKAGING_DIR ${CMAKE_CURRENT_LIST_DIR})
set(OEKAKI_PACKAGING_OUT ${CMAKE_BINARY_DIR}/packaging)

# The icon in the sizes desktops look for, exported from the code that draws it.
set(OEKAKI_ICON_SIZES 16 22 24 32 48 64 128 256)
add_executable(oekaki_export_icons ${OEKAKI_PACKAGING_DIR}/ExportIcons.cpp
                                   ${CMAKE_SOURCE_DIR}/core/settings/ProgramIcon.cpp)
target_include_directories(oekaki_export_icons PRIVATE ${CMAKE_SOURCE_DIR})
target_link_libraries(oekaki_export_icons PRIVATE Qt6::Gui)
set(oekaki_icon_files)
foreach(n ${OEKAKI_ICON_SIZES})
  list(APPEND oekaki_icon_files ${OEKAKI_PACKAGING_OUT}/icons/${n}x${n}/apps/oekaki.png)
endforeach()
add_custom_command(OUTPUT ${oekaki_icon_files}
  COMMAND ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen
          $<TARGET_FILE:oekaki_export_icons> ${OEKAKI_PACKAGING_OUT}/icons ${OEKAKI_ICON_SIZES}
  DEPENDS oekaki_export_icons
  COMMENT "Exporting the program icon"
  VERBATIM)

# Manual page and changelog, compressed as Debian wants them (no time stamp inside).
configure_file(${OEKAKI_PACKAGING_DIR}/oekaki.1 ${OEKAKI_PACKAGING_OUT}/oekaki.1 @ONLY)
configure_file(${OEKAKI_PACKAGING_DIR}/changelog ${OEKAKI_PACKAGING_OUT}/changelog @ONLY)
add_custom_command(OUTPUT ${OEKAKI_PACKAGING_OUT}/oekaki.1.gz ${OEKAKI_PACKAGING_OUT}/changelog.gz
  COMMAND gzip -9nkf oekaki.1 changelog
  DEPENDS ${OEKAKI_PACKAGING_OUT}/oekaki.1 ${OEKAKI_PACKAGING_OUT}/changelog
  WORKING_DIRECTORY ${OEKAKI_PACKAGING_OUT}
  VERBATIM)
add_custom_target(oekaki_package_files ALL
  DEPENDS ${oekaki_icon_files} ${OEKAKI_PACKAGING_OUT}/oekaki.1.gz ${OEKAKI_PACKAGING_OUT}/changelog.gz)

install(TARGETS oekaki RUNTIME DESTINATION bin)
install(FILES ${OEKAKI_PACKAGING_DIR}/oekaki.desktop DESTINATION share/applications)
foreach(n ${OEKAKI_ICON_SIZES})
  install(FILES ${OEKAKI_PACKAGING_OUT}/icons/${n}x${n}/apps/oekaki.png
          DESTINATION share/icons/hicolor/${n}x${n}/apps)
endforeach()
install(FILES ${OEKAKI_PACKAGING_OUT}/oekaki.1.gz DESTINATION share/man/man1)
install(FILES ${OEKAKI_PACKAGING_DIR}/copyright ${OEKAKI_PACKAGING_OUT}/changelog.gz
        DESTINATION share/doc/oekaki)
# Packaging takes what is built and never starts a build of everything itself.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY TRUE)

execute_process(COMMAND dpkg --print-architecture OUTPUT_VARIABLE oekaki_deb_arch
                OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME oekaki)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT ${OEKAKI_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${OEKAKI_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "paint pictures together through one Firebird database")
set(CPACK_PACKAGE_DESCRIPTION
    "お絵描きソフト is a painting program for a workgroup that shares one Firebird\n"
    "database server. Every point of every stroke is stored at once, and every open\n"
    "painting window draws what the other PCs stored, so several people can draw one\n"
    "picture together and continue it later from any PC. The interface is Japanese.\n"
    "\n"
    "The database server itself runs on one PC of the workgroup only and is not a\n"
    "dependency of this package.")
string(REPLACE ";" "" CPACK_PACKAGE_DESCRIPTION "${CPACK_PACKAGE_DESCRIPTION}")
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
if(oekaki_deb_arch)
  set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${oekaki_deb_arch})
endif()
# The libraries, found from what the program links: Qt 6, the Firebird client library and
# libwebp's libwebpmux3 and libwebp7 for the timelapse (check-package.sh checks them).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Beyond the libraries: the Japanese font and Qt's Japanese dialogs. The X11 platform
# plugin comes with libqt6gui6, which the libraries already bring in.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-ipafont-gothic, qt6-translations-l10n")
# An empty server name opens the database file itself, through Firebird's embedded engine.
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "firebird3.0-server-core")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
include(CPack)

if(OEKAKI_TESTS)
  string(REPLACE ";" " " oekaki_icon_size_words "${OEKAKI_ICON_SIZES}")
  add_test(NAME package_deb
           COMMAND bash ${OEKAKI_PACKAGING_DIR}/check-package.sh
                   ${CMAKE_BINARY_DIR} ${PROJECT_VERSION} "${oekaki_icon_size_words}")
  set_tests_properties(package_deb PROPERTIES LABELS package TIMEOUT 120)
endif()
