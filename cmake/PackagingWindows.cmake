# The Windows package: a ZIP of fwupdater.exe and fwupdater-gui.exe with the device catalogue
# beside them and the README as text. fwupdater.exe links the GCC runtime and winpthreads
# statically (the top CMakeLists.txt), and a test reads its import table to hold it to the DLLs
# Windows itself has; the window comes with Qt's DLLs, plugins and texts and the GCC runtime's
# DLLs (cmake/QtWindowsRuntime.cmake), and the smoke test of the ZIP (scripts/smoke-zip-wine)
# checks that every DLL anything in it imports is Windows' own or in the ZIP.
install(FILES ${PROJECT_SOURCE_DIR}/examples/DEV_LIST.dat DESTINATION bin)
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION . RENAME README.txt)

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME FirmwareUpdater)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_SYSTEM_NAME win64)
set(CPACK_PACKAGE_FILE_NAME ${CPACK_PACKAGE_NAME}-${PROJECT_VERSION}-win64)
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
# The executables without their debugging sections.
set(CPACK_STRIP_FILES ON)
include(CPack)

if(FW_BUILD_TESTS)
  find_program(FW_MINGW_OBJDUMP x86_64-w64-mingw32-objdump REQUIRED)
  add_test(NAME package.fwupdater_imports_only_system_dlls
           COMMAND ${CMAKE_COMMAND} -DOBJDUMP=${FW_MINGW_OBJDUMP}
                   -DEXECUTABLE=$<TARGET_FILE:fwupdater>
                   -P ${PROJECT_SOURCE_DIR}/cmake/windows/check-imports.cmake)
endif()
