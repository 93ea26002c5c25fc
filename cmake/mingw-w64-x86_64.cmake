# Cross-compiles QxWebHelper for 64-bit Windows with Debian's MinGW-w64 and links it statically,
# so that the program needs no DLL beyond the system's. Its libcurl and minizip come from the cache
# that tools/windows/build_deps.sh fills (QXWEB_WIN_DEPS); zlib from libz-mingw-w64-dev.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(QX_MINGW_TRIPLET x86_64-w64-mingw32)

# The win32 thread model: the program starts its one thread with CreateThread and uses no
# std::thread, so nothing pulls in winpthread. The test helpers do use std::thread; a build of
# the tests passes -DQXWEB_MINGW_THREADS=posix (winpthread, linked statically like the rest).
if(NOT QXWEB_MINGW_THREADS)
  set(QXWEB_MINGW_THREADS win32)
endif()
set(QXWEB_MINGW_THREADS "${QXWEB_MINGW_THREADS}" CACHE STRING "MinGW-w64 thread model: win32 or posix")
set(CMAKE_C_COMPILER ${QX_MINGW_TRIPLET}-gcc-${QXWEB_MINGW_THREADS})
set(CMAKE_CXX_COMPILER ${QX_MINGW_TRIPLET}-g++-${QXWEB_MINGW_THREADS})
set(CMAKE_RC_COMPILER ${QX_MINGW_TRIPLET}-windres)

if(NOT QXWEB_WIN_DEPS)
  if(DEFINED ENV{QXWEB_WIN_DEPS})
    set(QXWEB_WIN_DEPS "$ENV{QXWEB_WIN_DEPS}")
  else()
    set(QXWEB_WIN_DEPS "$ENV{HOME}/.cache/qxweb-win-deps")
  endif()
endif()
set(QXWEB_WIN_DEPS "${QXWEB_WIN_DEPS}" CACHE PATH "Cache folder of the Windows dependencies")
# try_compile projects read this file again; hand the folder on to them.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES QXWEB_WIN_DEPS QXWEB_MINGW_THREADS)

# Headers, libraries and packages only from the target's folders; programs from the host.
set(CMAKE_FIND_ROOT_PATH /usr/${QX_MINGW_TRIPLET} ${QXWEB_WIN_DEPS})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(ENV{PKG_CONFIG_LIBDIR} "${QXWEB_WIN_DEPS}/lib/pkgconfig:/usr/${QX_MINGW_TRIPLET}/lib/pkgconfig")
set(ENV{PKG_CONFIG_PATH} "")

# libz-mingw-w64-dev ships both libz.a and the import library of zlib1.dll: take the static one.
set(ZLIB_USE_STATIC_LIBS ON)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
