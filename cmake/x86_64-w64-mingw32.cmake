# Cross build for 64-bit Windows with Debian's mingw-w64 compiler (the POSIX-threads variant, whose
# libstdc++ has std::thread). The libraries come from tools/windows/build-deps.sh, whose folder is
# passed in QUOM_WINDOWS_DEPS (environment or cache variable). The programs built run under Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
if(NOT QUOM_WINDOWS_DEPS AND DEFINED ENV{QUOM_WINDOWS_DEPS})
  set(QUOM_WINDOWS_DEPS $ENV{QUOM_WINDOWS_DEPS})
endif()
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32 ${QUOM_WINDOWS_DEPS})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# pkg-config would otherwise hand out the build machine's libraries.
if(QUOM_WINDOWS_DEPS)
  set(ENV{PKG_CONFIG_LIBDIR} ${QUOM_WINDOWS_DEPS}/lib/pkgconfig)
endif()
# One exe that needs no DLL of ours: the C++ runtime, libgcc and winpthreads linked in.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
