# Debian's mingw-w64 cross compilers. MINGW_ARCH (i686, the shipped build, or x86_64) picks the target,
# MINGW_THREADS the variant: posix for the test builds (GoogleTest needs std::mutex and std::thread), win32
# for the shipped Launcher.exe, which starts no thread and so needs no winpthread runtime (its start-up
# creates events, handles and TLS slots in every process, and it is 32 KB of code).
if(NOT MINGW_ARCH)
  set(MINGW_ARCH i686)
endif()
if(NOT MINGW_THREADS)
  set(MINGW_THREADS posix)
endif()
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${MINGW_ARCH})
set(CMAKE_C_COMPILER ${MINGW_ARCH}-w64-mingw32-gcc-${MINGW_THREADS})
set(CMAKE_CXX_COMPILER ${MINGW_ARCH}-w64-mingw32-g++-${MINGW_THREADS})
set(CMAKE_RC_COMPILER ${MINGW_ARCH}-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${MINGW_ARCH}-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# Every test executable runs under Wine, in a private prefix inside the build tree.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/wine-run.sh)
