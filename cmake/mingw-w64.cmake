# Cross-build for 64-bit Windows with Debian's mingw-w64 (POSIX thread model).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
# Qt for Windows (CMAKE_PREFIX_PATH names it) is searched like the mingw root. The roots are
# compared as written, so "a/../b" is made "b" first.
foreach(prefix IN LISTS CMAKE_PREFIX_PATH)
  get_filename_component(prefix "${prefix}" REALPATH)
  list(APPEND CMAKE_FIND_ROOT_PATH ${prefix})
endforeach()
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# The host's CMake packages (CLI11, GTest) would bring the host's /usr/include along.
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# How the GCC runtime is linked (statically, except for programs that link Qt) is the project's
# choice: the top CMakeLists.txt.
