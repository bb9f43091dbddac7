# Fails unless every DLL a Windows program imports is there when it runs.
#   cmake -DOBJDUMP=x86_64-w64-mingw32-objdump -DEXECUTABLE=prog.exe -P check-imports.cmake
#     every DLL that prog.exe imports comes with Windows itself;
#   cmake -DOBJDUMP=... -DDIRECTORY=<unpacked package>/bin -P check-imports.cmake
#     every DLL that any .exe or .dll below that folder imports comes with Windows or lies in the
#     folder itself (where Windows looks first for the DLLs of a program started from there, and
#     of the plugins it loads).
cmake_minimum_required(VERSION 3.25)
set(system_dlls
    advapi32.dll comctl32.dll comdlg32.dll dwmapi.dll gdi32.dll imm32.dll kernel32.dll
    msvcrt.dll netapi32.dll ole32.dll oleaut32.dll setupapi.dll shell32.dll shlwapi.dll
    user32.dll userenv.dll uxtheme.dll version.dll winmm.dll ws2_32.dll wtsapi32.dll
    d3d9.dll d3d11.dll d3d12.dll dxgi.dll dwrite.dll d2d1.dll mpr.dll authz.dll shcore.dll
    crypt32.dll bcrypt.dll ncrypt.dll secur32.dll)

# The DLL names one file imports, as written in its import table.
function(fw_imports_of file out_var)
  execute_process(COMMAND ${OBJDUMP} -p ${file} OUTPUT_VARIABLE dump RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "${OBJDUMP} -p ${file} failed (${result})")
  endif()
  string(REGEX MATCHALL "DLL Name: [^\r\n]+" lines "${dump}")
  if(NOT lines)
    message(FATAL_ERROR "${file}: no import table found")
  endif()
  list(TRANSFORM lines REPLACE "DLL Name: " "")
  set(${out_var} ${lines} PARENT_SCOPE)
endfunction()

set(allowed ${system_dlls})
if(DIRECTORY)
  file(GLOB shipped RELATIVE ${DIRECTORY} ${DIRECTORY}/*.dll)
  list(TRANSFORM shipped TOLOWER)
  list(APPEND allowed ${shipped})
  file(GLOB_RECURSE files ${DIRECTORY}/*.exe ${DIRECTORY}/*.dll)
  set(lacking "neither Windows nor ${DIRECTORY} has")
elseif(EXECUTABLE)
  set(files ${EXECUTABLE})
  set(lacking "Windows does not have")
else()
  message(FATAL_ERROR "name EXECUTABLE or DIRECTORY")
endif()

set(missing "")
foreach(file IN LISTS files)
  fw_imports_of(${file} dlls)
  foreach(dll IN LISTS dlls)
    string(TOLOWER "${dll}" lower)
    if(NOT lower IN_LIST allowed AND NOT lower MATCHES "^api-ms-win-")
      list(APPEND missing "${file}: ${dll}")
    endif()
  endforeach()
  message(STATUS "${file} imports ${dlls}")
endforeach()
if(missing)
  list(JOIN missing "\n  " text)
  message(FATAL_ERROR "DLLs that ${lacking}:\n  ${text}")
endif()
