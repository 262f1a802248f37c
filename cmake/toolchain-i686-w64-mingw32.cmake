# Cross-compiling for 32-bit Windows with mingw-w64 (Debian: mingw-w64).
#
# The posix thread model of the compiler (std::thread and std::mutex, on
# winpthreads), and everything linked statically: the DLLs and programs import
# only system DLLs (KERNEL32, msvcrt, ...), never libgcc_s_dw2-1.dll,
# libstdc++-6.dll or libwinpthread-1.dll, which a host's folder does not have.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(RODERAVO_MINGW_PREFIX i686-w64-mingw32)
set(CMAKE_C_COMPILER ${RODERAVO_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${RODERAVO_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${RODERAVO_MINGW_PREFIX}-windres)
set(CMAKE_DLLTOOL ${RODERAVO_MINGW_PREFIX}-dlltool)
set(CMAKE_OBJDUMP ${RODERAVO_MINGW_PREFIX}-objdump)

set(CMAKE_FIND_ROOT_PATH /usr/${RODERAVO_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static")
