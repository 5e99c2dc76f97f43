# Cross-compiling Dirshift for 64-bit Windows with MinGW-w64 from a Linux host.
# The posix threading flavour of the compiler is used: GoogleTest needs std::mutex,
# which GCC 12's win32 flavour lacks. Everything is linked statically, so no
# threading DLL ships with the program.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(_mingw_prefix x86_64-w64-mingw32)
find_program(_mingw_cxx NAMES ${_mingw_prefix}-g++-posix ${_mingw_prefix}-g++ REQUIRED)
find_program(_mingw_cc NAMES ${_mingw_prefix}-gcc-posix ${_mingw_prefix}-gcc REQUIRED)
find_program(_mingw_rc NAMES ${_mingw_prefix}-windres REQUIRED)

set(CMAKE_C_COMPILER ${_mingw_cc})
set(CMAKE_CXX_COMPILER ${_mingw_cxx})
set(CMAKE_RC_COMPILER ${_mingw_rc})

set(CMAKE_FIND_ROOT_PATH /usr/${_mingw_prefix})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# Test executables are Windows programs: CTest runs them through Wine.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../tools/wine-run)
