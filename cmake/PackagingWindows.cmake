# The Windows package: a ZIP of fwupdater.exe with the device catalogue beside it and the README
# as text. The executables link the GCC runtime and winpthreads statically (cmake/mingw-w64.cmake),
# and a test reads fwupdater.exe's import table to hold them to the DLLs Windows itself has.
install(FILES ${PROJECT_SOURCE_DIR}/examples/DEV_LIST.dat DESTINATION bin)
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION . RENAME README.txt)

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME FirmwareUpdater)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_SYSTEM_NAME win64)
set(CPACK_PACKAGE_FILE_NAME ${CPACK_PACKAGE_NAME}-${PROJECT_VERSION}-win64)
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
include(CPack)

if(FW_BUILD_TESTS)
  find_program(FW_MINGW_OBJDUMP x86_64-w64-mingw32-objdump REQUIRED)
  add_test(NAME package.fwupdater_imports_only_system_dlls
           COMMAND ${CMAKE_COMMAND} -DOBJDUMP=${FW_MINGW_OBJDUMP}
                   -DEXECUTABLE=$<TARGET_FILE:fwupdater>
                   -P ${PROJECT_SOURCE_DIR}/cmake/windows/check-imports.cmake)
endif()
