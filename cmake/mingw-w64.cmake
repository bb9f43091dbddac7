# Cross-build for 64-bit Windows with Debian's mingw-w64 (POSIX thread model).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
# Qt for Windows (CMAKE_PREFIX_PATH names it) is searched like the mingw root. Found files are
# compared with the roots as text: each prefix goes in with "a/../b" made "b", and once more with
# its links resolved, as find_package may name it either way.
foreach(prefix IN LISTS CMAKE_PREFIX_PATH)
  get_filename_component(normal "${prefix}" ABSOLUTE)
  get_filename_component(resolved "${prefix}" REALPATH)
  list(APPEND CMAKE_FIND_ROOT_PATH ${normal} ${resolved})
endforeach()
list(REMOVE_DUPLICATES CMAKE_FIND_ROOT_PATH)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# The host's CMake packages (CLI11, GTest) would bring the host's /usr/include along.
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# How the GCC runtime is linked (statically, except for programs that link Qt) is the project's
# choice: the top CMakeLists.txt.
