# Cross build for 64-bit ARM Linux with Debian's cross compiler and the arm64 libraries of a
# multiarch system (dpkg --add-architecture arm64). The programs built run under qemu-user.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-aarch64;-L;/usr/aarch64-linux-gnu)
# pkg-config would otherwise hand out the build machine's library folders.
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/aarch64-linux-gnu/pkgconfig:/usr/share/pkgconfig)
# Linked statically: under qemu-user a dynamically linked program can hang in its first
# pthread_create (seen with Debian 12's qemu 7.2), while a static one runs its threads.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(OPENSSL_USE_STATIC_LIBS TRUE)
