# fw_add_gtest(NAME <name> SOURCES <file>... [LIBRARIES <target>...])
#
# One GoogleTest executable: linked with GoogleTest, GoogleMock and gtest_main besides the given
# libraries, told where the sources and the built programs are (FW_SOURCE_DIR, FW_BIN_DIR), and
# its tests discovered one by one for ctest. Discovery runs the executable through
# CMAKE_CROSSCOMPILING_EMULATOR where one is set (a cross build).
include_guard(GLOBAL)
include(GoogleTest)

function(fw_add_gtest)
  cmake_parse_arguments(PARSE_ARGV 0 arg "" "NAME" "SOURCES;LIBRARIES")
  if(NOT arg_NAME OR NOT arg_SOURCES)
    message(FATAL_ERROR "fw_add_gtest needs NAME and SOURCES")
  endif()
  add_executable(${arg_NAME} ${arg_SOURCES})
  target_link_libraries(${arg_NAME} PRIVATE ${arg_LIBRARIES} GTest::gtest GTest::gmock
                                            GTest::gtest_main)
  target_compile_definitions(${arg_NAME} PRIVATE
    FW_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
    FW_BIN_DIR="${CMAKE_RUNTIME_OUTPUT_DIRECTORY}")
  gtest_discover_tests(${arg_NAME} DISCOVERY_TIMEOUT 60)
endfunction()
