# Windows resources of an executable: version information from project(VERSION), the
# application icon made from src/gui/icons/fwupdater-gui.png (icotool, from icoutils) and a
# manifest (asInvoker, UTF-8 active code page, long paths; per-monitor DPI awareness for a window).
#   fw_add_windows_resources(TARGET DESCRIPTION "..." [GUI])
set(fw_windows_resources_dir ${CMAKE_CURRENT_LIST_DIR}/windows)

function(fw_add_windows_resources target)
  if(NOT WIN32)
    return()
  endif()
  cmake_parse_arguments(PARSE_ARGV 1 arg "GUI" "DESCRIPTION" "")
  find_program(FW_ICOTOOL icotool REQUIRED)
  set(icon ${CMAKE_BINARY_DIR}/windows/fwupdater.ico)
  set(png ${PROJECT_SOURCE_DIR}/src/gui/icons/fwupdater-gui.png)
  if(NOT TARGET fw_windows_icon)
    add_custom_command(OUTPUT ${icon}
                       COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/windows
                       COMMAND ${FW_ICOTOOL} -c -o ${icon} ${png}
                       DEPENDS ${png} VERBATIM)
    add_custom_target(fw_windows_icon DEPENDS ${icon})
  endif()

  set(FW_RC_TARGET ${target})
  set(FW_RC_FILE_NAME ${target}.exe)
  set(FW_RC_DESCRIPTION "${arg_DESCRIPTION}")
  set(FW_RC_ICON ${icon})
  set(FW_VERSION_MINOR 0)
  set(FW_VERSION_PATCH 0)
  if(PROJECT_VERSION_MINOR)
    set(FW_VERSION_MINOR ${PROJECT_VERSION_MINOR})
  endif()
  if(PROJECT_VERSION_PATCH)
    set(FW_VERSION_PATCH ${PROJECT_VERSION_PATCH})
  endif()
  set(FW_RC_DPI "")
  if(arg_GUI)
    set(FW_RC_DPI "\n      <dpiAwareness xmlns=\"http://schemas.microsoft.com/SMI/2016/WindowsSettings\">PerMonitorV2</dpiAwareness>")
  endif()
  set(FW_RC_MANIFEST ${CMAKE_BINARY_DIR}/windows/${target}.manifest)
  configure_file(${fw_windows_resources_dir}/fwupdater.manifest.in ${FW_RC_MANIFEST} @ONLY)
  configure_file(${fw_windows_resources_dir}/fwupdater.rc.in
                 ${CMAKE_BINARY_DIR}/windows/${target}.rc @ONLY)
  target_sources(${target} PRIVATE ${CMAKE_BINARY_DIR}/windows/${target}.rc)
  set_source_files_properties(${CMAKE_BINARY_DIR}/windows/${target}.rc PROPERTIES
                              OBJECT_DEPENDS "${icon};${FW_RC_MANIFEST}")
  add_dependencies(${target} fw_windows_icon)
endfunction()
