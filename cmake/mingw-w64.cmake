# Cross-compiles for 64-bit Windows with Debian's mingw-w64, posix thread
# variant (Qt's threads need it). Qt comes from the tree that
# tools/windows/build-deps.sh builds; pass -DSTROBIX_QT_WINDOWS=<tree> or set
# the same name in the environment.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(_mingw x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${_mingw}-gcc-posix)
set(CMAKE_CXX_COMPILER ${_mingw}-g++-posix)
set(CMAKE_RC_COMPILER ${_mingw}-windres)

if(NOT STROBIX_QT_WINDOWS AND DEFINED ENV{STROBIX_QT_WINDOWS})
    set(STROBIX_QT_WINDOWS "$ENV{STROBIX_QT_WINDOWS}")
endif()
if(NOT STROBIX_QT_WINDOWS)
    set(STROBIX_QT_WINDOWS /var/cache/strobix-windows/qt5-mingw64)
endif()
set(STROBIX_QT_WINDOWS "${STROBIX_QT_WINDOWS}" CACHE PATH "Qt 5 tree built for Windows")
# The static libsodium that build-deps.sh builds beside it.
if(NOT STROBIX_SODIUM_WINDOWS)
    set(STROBIX_SODIUM_WINDOWS /var/cache/strobix-windows/libsodium-mingw64)
endif()
set(STROBIX_SODIUM_WINDOWS "${STROBIX_SODIUM_WINDOWS}" CACHE PATH "libsodium built for Windows")
# try_compile projects re-read this file; they need the same trees.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES STROBIX_QT_WINDOWS STROBIX_SODIUM_WINDOWS)

set(CMAKE_FIND_ROOT_PATH /usr/${_mingw} ${STROBIX_QT_WINDOWS} ${STROBIX_SODIUM_WINDOWS})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(Qt5_DIR ${STROBIX_QT_WINDOWS}/lib/cmake/Qt5 CACHE PATH "")
