# What a Qt program needs beside it on Windows, where windeployqt cannot run (a cross-build): the
# Qt DLLs, the platform and style plugins, the GCC runtime DLLs that Qt's DLLs were linked
# against, Qt's Russian texts and a qt.conf that makes the program's folder Qt's prefix. They are
# copied into the build's bin folder, so that the window and its tests run there under Wine, and
# installed into the Windows ZIP.
#   fw_add_qt_windows_runtime(TARGET_NAME [PROGRAM] [INSTALL] [QT_MODULES Core Gui ...]
#                             [PLUGINS ...])
# makes the custom target TARGET_NAME that copies them: the DLLs of QT_MODULES; PLUGINS, Qt
# plugin targets (Qt6::QWindowsIntegrationPlugin), into the folder their kind names (platforms/,
# styles/); with PROGRAM also the GCC runtime DLLs, Qt's texts and qt.conf (once per build).
set(fw_qt_windows_runtime_dir ${CMAKE_CURRENT_LIST_DIR}/windows)

# The DLLs of the compiler's runtime that Qt's DLLs import, found where the compiler keeps them.
function(fw_gcc_runtime_dlls out_var)
  set(dlls)
  foreach(name libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll)
    execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${name}
                    OUTPUT_VARIABLE path OUTPUT_STRIP_TRAILING_WHITESPACE)
    get_filename_component(path "${path}" REALPATH)
    if(NOT EXISTS "${path}")
      message(FATAL_ERROR "${CMAKE_CXX_COMPILER} does not know where ${name} is")
    endif()
    list(APPEND dlls ${path})
  endforeach()
  set(${out_var} ${dlls} PARENT_SCOPE)
endfunction()

function(fw_add_qt_windows_runtime target)
  cmake_parse_arguments(PARSE_ARGV 1 arg "PROGRAM;INSTALL" "" "QT_MODULES;PLUGINS")
  set(bin ${CMAKE_RUNTIME_OUTPUT_DIRECTORY})
  set(outputs)
  set(commands)
  set(depends)

  # One file into a folder below bin ("" for bin itself), and into the ZIP when asked. The GCC
  # runtime's DLLs come with their debugging sections (libstdc++ 24 MB, 4 MB without): those are
  # copied without them (STRIP).
  macro(fw_runtime_file source subdir)
    set(dest ${bin})
    set(install_dest bin)
    if(NOT "${subdir}" STREQUAL "")
      set(dest ${bin}/${subdir})
      set(install_dest bin/${subdir})
    endif()
    get_filename_component(file_name "${source}" NAME)
    set(copy ${CMAKE_COMMAND} -E copy_if_different ${source} ${dest}/${file_name})
    if("${ARGN}" STREQUAL "STRIP")
      set(copy ${CMAKE_STRIP} --strip-debug -o ${dest}/${file_name} ${source})
    endif()
    list(APPEND outputs ${dest}/${file_name})
    list(APPEND commands COMMAND ${CMAKE_COMMAND} -E make_directory ${dest} COMMAND ${copy})
    list(APPEND depends ${source})
    if(arg_INSTALL)
      install(FILES ${dest}/${file_name} DESTINATION ${install_dest} COMPONENT gui)
    endif()
  endmacro()

  foreach(module IN LISTS arg_QT_MODULES)
    get_target_property(dll Qt6::${module} IMPORTED_LOCATION_RELEASE)
    fw_runtime_file(${dll} "")
  endforeach()
  foreach(plugin IN LISTS arg_PLUGINS)
    get_target_property(dll ${plugin} IMPORTED_LOCATION_RELEASE)
    get_target_property(kind ${plugin} QT_PLUGIN_TYPE)
    fw_runtime_file(${dll} ${kind})
  endforeach()

  if(arg_PROGRAM)
    fw_gcc_runtime_dlls(runtime_dlls)
    foreach(dll IN LISTS runtime_dlls)
      fw_runtime_file(${dll} "" STRIP)
    endforeach()
    # Qt's standard buttons in Russian (the host's Qt translations are the same files). Without
    # them the window still runs, with those buttons in English.
    find_file(FW_QTBASE_RU_QM qtbase_ru.qm PATHS /usr/share/qt6/translations NO_DEFAULT_PATH
              NO_CMAKE_FIND_ROOT_PATH)
    if(FW_QTBASE_RU_QM)
      fw_runtime_file(${FW_QTBASE_RU_QM} translations)
    else()
      message(WARNING "qtbase_ru.qm not found (qt6-translations-l10n): Qt's buttons stay English")
    endif()
    fw_runtime_file(${fw_qt_windows_runtime_dir}/qt.conf "")
    # Qt is under the LGPL and linked dynamically: its licence texts go with it.
    if(arg_INSTALL)
      install(DIRECTORY ${Qt6_DIR}/../../../LICENSES/ DESTINATION licenses/Qt COMPONENT gui)
    endif()
  endif()

  add_custom_command(OUTPUT ${outputs} ${commands} DEPENDS ${depends} VERBATIM)
  add_custom_target(${target} DEPENDS ${outputs})
endfunction()
