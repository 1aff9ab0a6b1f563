#!/usr/bin/env bash
# Cross-builds the libraries quom.exe links, for 64-bit Windows with mingw-w64, from Debian's own
# source packages: the versions the Linux build uses, with Debian's patches. Only what quom uses
# is built: static libraries, no programs, tests, examples or documentation, SDL with its audio
# subsystem alone.
#
#   tools/windows/build-deps.sh        prints the folder the libraries are in (building it first
#                                      when the cache has none for these versions)
#
# The result is cached outside the checkout, in ${QUOM_WINDOWS_CACHE:-$XDG_CACHE_HOME/quom}
# ($HOME/.cache/quom without XDG_CACHE_HOME), in a folder named by a hash of the source versions,
# the compiler and this script: a new Debian version or a change here builds a new one. A folder
# is used only once its build has finished (its stamp file is written last). Needs apt's deb-src
# entries (./dev.sh windows adds them) and the mingw-w64 compiler.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
cache=${QUOM_WINDOWS_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/quom}
toolchain="$here/../../cmake/x86_64-w64-mingw32.cmake"
host=x86_64-w64-mingw32
jobs=${QUOM_WINDOWS_JOBS:-$(nproc)}

# The binary packages whose sources are built (the Linux build links these) and the folder name
# each source unpacks to. libgtest-dev ships GoogleTest's source itself.
packages=(libogg-dev libvorbis-dev libflac-dev libopus-dev libmp3lame-dev libmpg123-dev
  libsndfile1-dev libsoxr-dev libsdl2-dev libcli11-dev)

log() { echo "build-deps: $*" >&2; }

# The .dsc file names apt would fetch: the source package and version of each binary package.
dsc_names() {
  apt-get source --print-uris -qq "${packages[@]}" 2>/dev/null |
    sed -n "s/^'[^']*' \([^ ]*\.dsc\) .*/\1/p" | sort -u
}

dscs=$(dsc_names)
if [ "$(wc -l <<<"$dscs")" -ne "${#packages[@]}" ]; then
  echo "build-deps: apt knows no source for some of: ${packages[*]} (is there a deb-src entry?)" >&2
  exit 1
fi
gtest_version=$(dpkg-query -W -f='${Version}' libgtest-dev)
key=$(
  {
    echo "$dscs"
    echo "googletest $gtest_version"
    "$host-gcc-posix" --version | head -1
    cat "$0" "$toolchain"
  } | sha256sum | cut -c1-16
)
prefix="$cache/mingw-$key"
if [ -f "$prefix/.complete" ]; then
  echo "$prefix"
  exit 0
fi

log "building into $prefix:"
log "$(echo $dscs) googletest_$gtest_version"
start=$SECONDS
# A build that was stopped goes on from the libraries it had finished.
work="$prefix/.work"
mkdir -p "$work" "$cache/sources"
# The toolchain file looks for libraries here alone.
export QUOM_WINDOWS_DEPS="$prefix"

# Fetch the sources once; a file apt cannot fetch beside them (a detached signature, say) is not
# needed as long as the tarballs came.
(cd "$cache/sources" && apt-get source --download-only -qq "${packages[@]}" >"$work/fetch.log" 2>&1) ||
  log "apt-get source reported a failure; checking the tarballs (see $work/fetch.log)"

# Unpacks a source package from its .dsc (upstream tarball, then Debian's folder) and applies
# Debian's patches in their order. Prints the source folder.
unpack() {
  local dsc=$1 dir orig debian
  dir="$work/src/${dsc%.dsc}"
  orig=$(sed -n 's/^ [0-9a-f]\{32\} [0-9]* \(.*\.orig\.tar\.[a-z0-9]*\)$/\1/p' "$cache/sources/$dsc")
  debian=$(sed -n 's/^ [0-9a-f]\{32\} [0-9]* \(.*\.debian\.tar\.[a-z0-9]*\)$/\1/p' "$cache/sources/$dsc")
  if [ -f "$dir/.unpacked" ]; then
    echo "$dir"
    return 0
  fi
  rm -rf "$dir"
  mkdir -p "$dir"
  tar xf "$cache/sources/$orig" -C "$dir" --strip-components=1
  tar xf "$cache/sources/$debian" -C "$dir"
  if [ -f "$dir/debian/patches/series" ]; then
    local patch
    while read -r patch _; do
      case "$patch" in '' | '#'*) continue ;; esac
      patch -d "$dir" -p1 -s <"$dir/debian/patches/$patch" >&2
    done <"$dir/debian/patches/series"
  fi
  touch "$dir/.unpacked"
  echo "$dir"
}

source_of() {
  local name
  name=$(grep -m1 "^$1_" <<<"$dscs") || {
    log "no source package $1"
    exit 1
  }
  unpack "$name"
}

# Copies a library's licence texts into licenses/NAME/ of the result, for the zip.
licence() {
  local name=$1 src=$2
  shift 2
  mkdir -p "$prefix/licenses/$name"
  local f
  for f in "$@"; do
    cp "$src/$f" "$prefix/licenses/$name/"
  done
}

# Configures, builds and installs one CMake project as static libraries.
cmake_build() {
  local name=$1 src=$2
  shift 2
  local t=$SECONDS
  [ -f "$work/$name.done" ] && return 0
  cmake -S "$src" -B "$work/build/$name" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" -DCMAKE_PREFIX_PATH="$prefix" \
    -DBUILD_SHARED_LIBS=OFF -DBUILD_TESTING=OFF "$@" >"$work/$name.log" 2>&1 &&
    cmake --build "$work/build/$name" -j"$jobs" >>"$work/$name.log" 2>&1 &&
    cmake --install "$work/build/$name" >>"$work/$name.log" 2>&1 || {
    log "$name failed:"
    tail -30 "$work/$name.log" >&2
    return 1
  }
  touch "$work/$name.done"
  log "$name: $((SECONDS - t)) s"
}

build_ogg() {
  cmake_build ogg "$(source_of libogg)" -DINSTALL_DOCS=OFF
  licence libogg "$(source_of libogg)" COPYING
}

build_vorbis() {
  cmake_build vorbis "$(source_of libvorbis)"
  licence libvorbis "$(source_of libvorbis)" COPYING
}

build_flac() {
  cmake_build flac "$(source_of flac)" -DBUILD_CXXLIBS=OFF -DBUILD_PROGRAMS=OFF \
    -DBUILD_EXAMPLES=OFF -DBUILD_DOCS=OFF -DINSTALL_MANPAGES=OFF -DWITH_OGG=OFF \
    -DINSTALL_PKGCONFIG_MODULES=ON -DINSTALL_CMAKE_CONFIG_MODULE=ON
  licence flac "$(source_of flac)" COPYING.Xiph
}

# Opus 1.3.1's release tarball lacks a file its CMake script includes, which only picks Release
# when no build type is given: an empty one serves.
build_opus() {
  local src
  src=$(source_of opus)
  [ -f "$src/opus_buildtype.cmake" ] || touch "$src/opus_buildtype.cmake"
  cmake_build opus "$src" -DOPUS_BUILD_PROGRAMS=OFF -DOPUS_BUILD_TESTING=OFF \
    -DOPUS_INSTALL_PKG_CONFIG_MODULE=ON -DOPUS_INSTALL_CMAKE_CONFIG_MODULE=ON
  licence opus "$src" COPYING
}

# LAME has only autotools: the encoder library alone, without its front end or decoder.
build_lame() {
  local src t=$SECONDS
  [ -f "$work/lame.done" ] && return 0
  src=$(source_of lame)
  mkdir -p "$work/build/lame"
  (
    cd "$work/build/lame" &&
      "$src/configure" --host=$host --prefix="$prefix" --disable-shared --enable-static \
        --disable-frontend --disable-decoder --disable-gtktest --disable-analyzer-hooks \
        CFLAGS=-O2 &&
      make -C libmp3lame -j"$jobs" &&
      make -C libmp3lame install && make -C include install
  ) >"$work/lame.log" 2>&1 || {
    log "lame failed:"
    tail -30 "$work/lame.log" >&2
    return 1
  }
  licence lame "$src" COPYING
  touch "$work/lame.done"
  log "lame: $((SECONDS - t)) s"
}

build_mpg123() {
  cmake_build mpg123 "$(source_of mpg123)/ports/cmake" -DBUILD_PROGRAMS=OFF \
    -DBUILD_LIBOUT123=OFF -DNETWORK=OFF
  licence mpg123 "$(source_of mpg123)" COPYING
}

# FLAC's headers declare its functions for a DLL unless told that the library is static.
build_sndfile() {
  cmake_build sndfile "$(source_of libsndfile)" -DBUILD_PROGRAMS=OFF -DBUILD_EXAMPLES=OFF \
    -DBUILD_REGTEST=OFF -DENABLE_CPACK=OFF -DINSTALL_MANPAGES=OFF -DENABLE_EXTERNAL_LIBS=ON \
    -DENABLE_MPEG=ON -DENABLE_PACKAGE_CONFIG=ON -DINSTALL_PKGCONFIG_MODULE=ON \
    -DCMAKE_C_FLAGS=-DFLAC__NO_DLL
  licence libsndfile "$(source_of libsndfile)" COPYING
}

build_soxr() {
  cmake_build soxr "$(source_of libsoxr)" -DBUILD_TESTS=OFF -DBUILD_EXAMPLES=OFF \
    -DWITH_OPENMP=OFF -DWITH_LSR_BINDINGS=OFF -DWITH_VR32=OFF
  licence libsoxr "$(source_of libsoxr)" COPYING.LGPL
  # Its CMake script writes no pkg-config file for Windows.
  printf '%s\n' "prefix=$prefix" "Name: soxr" "Description: sample-rate conversion" \
    "Version: 0.1.3" 'Libs: -L${prefix}/lib -lsoxr' 'Cflags: -I${prefix}/include' \
    >"$prefix/lib/pkgconfig/soxr.pc"
}

# The audio subsystem and what it stands on (threads, timers, events, the disk driver's files).
# Without the dynamic API, whose table names functions of the subsystems left out (SDL asks for
# its header to be edited to that end).
build_sdl() {
  local src
  src=$(source_of libsdl2)
  sed -i 's/^#define SDL_DYNAMIC_API 1$/#define SDL_DYNAMIC_API 0/' "$src/src/dynapi/SDL_dynapi.h"
  cmake_build sdl "$src" -DSDL_SHARED=OFF -DSDL_STATIC=ON -DSDL_TEST=OFF \
    -DSDL_VIDEO=OFF -DSDL_RENDER=OFF -DSDL_JOYSTICK=OFF -DSDL_HAPTIC=OFF -DSDL_HIDAPI=OFF \
    -DSDL_SENSOR=OFF -DSDL_POWER=OFF -DSDL_LOCALE=OFF -DSDL_MISC=OFF -DSDL_FILESYSTEM=OFF \
    -DSDL_AUDIO=ON -DSDL_DISKAUDIO=ON -DSDL_DUMMYAUDIO=ON -DSDL_DIRECTX=ON -DSDL_WASAPI=ON
  licence SDL2 "$(source_of libsdl2)" LICENSE.txt
}

# Header-only: the headers as the package installs them.
build_cli11() {
  local src
  src=$(source_of cli11)
  mkdir -p "$prefix/include"
  cp -r "$src/include/CLI" "$prefix/include/"
  licence CLI11 "$src" LICENSE
  log "cli11: headers"
}

# GoogleTest, from the source Debian installs with libgtest-dev, for the engine's tests.
build_gtest() {
  cmake_build gtest /usr/src/googletest -DBUILD_GMOCK=OFF -DINSTALL_GTEST=ON \
    -Dgtest_build_tests=OFF
}

# Two lanes side by side, so that one's configure steps overlap the other's compiling; libsndfile
# waits for both, as it links every codec.
status=0
(build_ogg && build_vorbis && build_flac && build_opus && build_cli11) &
lane1=$!
(build_lame && build_mpg123 && build_soxr && build_gtest && build_sdl) &
lane2=$!
wait "$lane1" || status=1
wait "$lane2" || status=1
[ "$status" -eq 0 ] && build_sndfile || status=1
if [ "$status" -ne 0 ]; then
  log "failed; the logs are in $work"
  exit 1
fi

# The C and C++ runtimes linked into the exe: mingw-w64's (its CRT and winpthreads) and GCC's.
mkdir -p "$prefix/licenses/mingw-w64"
cp /usr/share/doc/mingw-w64-common/copyright "$prefix/licenses/mingw-w64/copyright"
rm -rf "$work"
{
  echo "$dscs"
  echo "googletest_$gtest_version"
} >"$prefix/versions.txt"
touch "$prefix/.complete"
log "done in $((SECONDS - start)) s"
echo "$prefix"
