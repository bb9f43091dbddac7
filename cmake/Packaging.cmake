# Debian packages with CPack, from the install components: fwupdater (component "cli": the
# command line, the device catalogue, its manual page and bash completion) and fwupdater-gui
# (component "gui": the window, its desktop file, icons, metainfo and manual page).
# `cpack -G DEB` in a Release build tree makes them; scripts/check-packages builds and checks them.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME fwupdater)
set(CPACK_PACKAGE_VENDOR "Kerrow Ltd")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT ${FW_PACKAGE_MAINTAINER})
set(CPACK_PACKAGE_HOMEPAGE_URL ${FW_HOMEPAGE_URL})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL cli)
if(TARGET fwupdater-gui)
  list(APPEND CPACK_COMPONENTS_ALL gui)
endif()
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${FW_PACKAGE_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# The libraries' packages come from dpkg-shlibdeps and are added to the dependencies below.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)

set(CPACK_DEBIAN_CLI_PACKAGE_NAME fwupdater)
# The card commands find cards through UDisks2 and format them with mkfs.fat.
set(CPACK_DEBIAN_CLI_PACKAGE_DEPENDS "udisks2, dosfstools")
set(CPACK_COMPONENT_CLI_DESCRIPTION
    "firmware update packer for field recorders' MMC cards\n"
    "Writes firmware updates for the НУБРА-7 recorders into the card data file of\n"
    "their MMC card from Intel HEX files, checked against the memory map of the\n"
    "device in the device catalogue; lists, verifies and extracts the entries,\n"
    "creates card data files, prepares and ejects cards.\n"
    "\n"
    "This package holds the command-line tool fwupdater and the device catalogue.")

set(CPACK_DEBIAN_GUI_PACKAGE_NAME fwupdater-gui)
# Qt's translations, for the Russian texts of Qt's own buttons and dialogs.
set(CPACK_DEBIAN_GUI_PACKAGE_DEPENDS "fwupdater (= ${PROJECT_VERSION}), qt6-translations-l10n")
set(CPACK_COMPONENT_GUI_DESCRIPTION
    "firmware update packer for field recorders' MMC cards (window)\n"
    "Writes firmware updates for the НУБРА-7 recorders into the card data file of\n"
    "their MMC card and shows the card's entries; prepares and ejects cards.\n"
    "\n"
    "This package holds the desktop application fwupdater-gui.")

include(CPack)
