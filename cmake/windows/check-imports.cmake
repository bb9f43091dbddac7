# Fails unless every DLL that EXECUTABLE imports comes with Windows itself.
cmake_minimum_required(VERSION 3.25)
#   cmake -DOBJDUMP=x86_64-w64-mingw32-objdump -DEXECUTABLE=prog.exe -P check-imports.cmake
set(system_dlls
    advapi32.dll comctl32.dll comdlg32.dll dwmapi.dll gdi32.dll imm32.dll kernel32.dll
    msvcrt.dll netapi32.dll ole32.dll oleaut32.dll setupapi.dll shell32.dll shlwapi.dll
    user32.dll userenv.dll uxtheme.dll version.dll winmm.dll ws2_32.dll wtsapi32.dll
    d3d9.dll d3d11.dll d3d12.dll dxgi.dll dwrite.dll d2d1.dll mpr.dll authz.dll shcore.dll
    crypt32.dll bcrypt.dll ncrypt.dll secur32.dll)
execute_process(COMMAND ${OBJDUMP} -p ${EXECUTABLE} OUTPUT_VARIABLE dump RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "${OBJDUMP} -p ${EXECUTABLE} failed (${result})")
endif()
string(REGEX MATCHALL "DLL Name: [^\r\n]+" lines "${dump}")
if(NOT lines)
  message(FATAL_ERROR "${EXECUTABLE}: no import table found")
endif()
set(foreign "")
foreach(line ${lines})
  string(REPLACE "DLL Name: " "" dll "${line}")
  string(TOLOWER "${dll}" lower)
  if(NOT lower IN_LIST system_dlls AND NOT lower MATCHES "^api-ms-win-")
    list(APPEND foreign ${dll})
  endif()
  message(STATUS "imports ${dll}")
endforeach()
if(foreign)
  message(FATAL_ERROR "${EXECUTABLE} needs DLLs that Windows does not have: ${foreign}")
endif()
