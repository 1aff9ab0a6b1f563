#!/usr/bin/env bash
# Cross-builds the libraries quom.exe links, for 64-bit Windows with mingw-w64, from Debian's own
# source packages: the versions the Linux build uses, with Debian's patches, except FLTK (below).
# Only what quom uses is built: static libraries, no programs, tests, examples or documentation,
# SDL with its audio subsystem alone, FLTK's core library alone.
#
#   tools/windows/build-deps.sh        prints the folder the libraries are in (building it first
#                                      when the cache has none for these versions and flags)
#
# The result is cached outside the checkout, in ${QUOM_WINDOWS_CACHE:-$XDG_CACHE_HOME/quom}
# ($HOME/.cache/quom without XDG_CACHE_HOME), in a folder named by a hash of what makes the
# libraries what they are: the source versions, the compiler, the flags and patches below. A new
# Debian version or a changed flag builds a new folder; other edits to this script do not. A
# folder is used only once its build has finished (its stamp file is written last). Needs apt's
# deb-src entries for Debian 12 (./dev.sh windows adds them) and the mingw-w64 compiler.
#
# FLTK: Debian 12's fltk1.3 source (1.3.8) is no longer on the mirror, so FLTK comes from Debian
# 13's source package, 1.3.11, the same 1.3 series with bug fixes only. Apt fetches it with a
# deb-src entry for Debian 13 kept in a state of its own in the cache (the machine's apt sources
# are left alone, so no other source package can come from Debian 13), and checks its tarball
# against Debian 13's signed index. Only the upstream tarball is served, not Debian's patches,
# which change FLTK's Unix packaging, not the library's code on Windows.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
cache=${QUOM_WINDOWS_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/quom}
toolchain="$here/../../cmake/x86_64-w64-mingw32.cmake"
host=x86_64-w64-mingw32
jobs=${QUOM_WINDOWS_JOBS:-$(nproc)}

# The binary packages whose sources are built (the Linux build links these). libgtest-dev ships
# GoogleTest's source itself.
packages=(libogg-dev libvorbis-dev libflac-dev libopus-dev libmp3lame-dev libmpg123-dev
  libsndfile1-dev libsoxr-dev libsdl2-dev libcli11-dev)
fltk_source=fltk1.3
fltk_suite=trixie

# What the libraries are built with. With the versions, the compiler and the patches in
# patches/ (SOURCE-*.patch, applied after Debian's), these name the cache folder.
opt=-O2
flags_ogg=(-DINSTALL_DOCS=OFF)
flags_vorbis=()
flags_flac=(-DBUILD_CXXLIBS=OFF -DBUILD_PROGRAMS=OFF -DBUILD_EXAMPLES=OFF -DBUILD_DOCS=OFF
  -DINSTALL_MANPAGES=OFF -DWITH_OGG=OFF -DINSTALL_PKGCONFIG_MODULES=ON
  -DINSTALL_CMAKE_CONFIG_MODULE=ON)
flags_opus=(-DOPUS_BUILD_PROGRAMS=OFF -DOPUS_BUILD_TESTING=OFF -DOPUS_INSTALL_PKG_CONFIG_MODULE=ON
  -DOPUS_INSTALL_CMAKE_CONFIG_MODULE=ON)
flags_lame=(--disable-shared --enable-static --disable-frontend --disable-decoder
  --disable-gtktest --disable-analyzer-hooks)
flags_mpg123=(-DBUILD_PROGRAMS=OFF -DBUILD_LIBOUT123=OFF -DNETWORK=OFF)
# FLAC's headers declare its functions for a DLL unless told that the library is static.
flags_sndfile=(-DBUILD_PROGRAMS=OFF -DBUILD_EXAMPLES=OFF -DBUILD_REGTEST=OFF -DENABLE_CPACK=OFF
  -DINSTALL_MANPAGES=OFF -DENABLE_EXTERNAL_LIBS=ON -DENABLE_MPEG=ON -DENABLE_PACKAGE_CONFIG=ON
  -DINSTALL_PKGCONFIG_MODULE=ON -DCMAKE_C_FLAGS=-DFLAC__NO_DLL)
flags_soxr=(-DBUILD_TESTS=OFF -DBUILD_EXAMPLES=OFF -DWITH_OPENMP=OFF -DWITH_LSR_BINDINGS=OFF
  -DWITH_VR32=OFF)
# The audio subsystem and what it stands on (threads, timers, events, the disk driver's files);
# the window is FLTK's.
flags_sdl=(-DSDL_SHARED=OFF -DSDL_STATIC=ON -DSDL_TEST=OFF -DSDL_VIDEO=OFF -DSDL_RENDER=OFF
  -DSDL_JOYSTICK=OFF -DSDL_HAPTIC=OFF -DSDL_HIDAPI=OFF -DSDL_SENSOR=OFF -DSDL_POWER=OFF
  -DSDL_LOCALE=OFF -DSDL_MISC=OFF -DSDL_FILESYSTEM=OFF -DSDL_AUDIO=ON -DSDL_DISKAUDIO=ON
  -DSDL_DUMMYAUDIO=ON -DSDL_DIRECTX=ON -DSDL_WASAPI=ON)
# The core library: no OpenGL, no image formats beyond the in-memory RGB images the window's icon
# is, no demos, no documentation.
flags_fltk=(-DFLTK_BUILD_TEST=OFF -DFLTK_BUILD_EXAMPLES=OFF -DOPTION_USE_GL=OFF -DOPTION_CAIRO=OFF
  -DOPTION_BUILD_HTML_DOCUMENTATION=OFF -DOPTION_BUILD_PDF_DOCUMENTATION=OFF
  -DOPTION_USE_SYSTEM_ZLIB=OFF -DOPTION_USE_SYSTEM_LIBPNG=OFF -DOPTION_USE_SYSTEM_LIBJPEG=OFF)
# Of the core library, the sources quom.exe links (67 of 158; every one includes windows.h, so
# the rest would more than double FLTK's time). A new FLTK class in the program that the link
# then misses is added here; the linker lists what it takes from the library with -Wl,-t,-t.
fltk_sources=(Fl Fl_Bitmap Fl_Box Fl_Button Fl_Device Fl_Double_Window Fl_Group Fl_Image Fl_Input
  Fl_Input_ Fl_Menu Fl_Menu_ Fl_Menu_Button Fl_Menu_Window Fl_Menu_add Fl_Overlay_Window Fl_Pixmap
  Fl_Preferences Fl_Repeat_Button Fl_Return_Button Fl_Single_Window Fl_Tiled_Image Fl_Tooltip
  Fl_Widget Fl_Window Fl_Window_fullscreen Fl_Window_hotspot Fl_Window_shape Fl_abort Fl_compose
  Fl_get_system_colors Fl_grab Fl_lock filename_list filename_match fl_arc fl_arci fl_ask
  fl_boxtype fl_color fl_cursor fl_curve fl_dnd fl_draw fl_draw_image fl_draw_pixmap fl_font
  fl_gleam fl_gtk fl_labeltype fl_line_style fl_plastic fl_read_image fl_rect fl_round_box
  fl_set_font fl_shortcut fl_symbols fl_vertex screen_xywh fl_utf8 flstring.c scandir.c
  numericsort.c xutf8/is_spacing.c xutf8/case.c fl_utf.c)
flags_gtest=(-DBUILD_GMOCK=OFF -DINSTALL_GTEST=ON -Dgtest_build_tests=OFF)

log() { echo "build-deps: $*" >&2; }

# Debian 13's source index, in apt state of its own: a deb-src entry on the machine's Debian
# mirror, signed by the archive keys Debian 12 already trusts.
fltk_apt=(-o Dir::Etc::SourceList="$cache/apt-$fltk_suite/sources.list"
  -o Dir::Etc::SourceParts="$cache/apt-$fltk_suite/none" -o Dir::State::Lists="$cache/apt-$fltk_suite/lists"
  -o Dir::Cache="$cache/apt-$fltk_suite/cache" -o Debug::NoLocking=1 -o APT::Sandbox::User="$(id -un)")
fltk_index() {
  local dir="$cache/apt-$fltk_suite" mirror
  mirror=$(apt-get indextargets --format '$(REPO_URI)' 'Created-By: Packages' 'Codename: bookworm' |
    head -1)
  mirror=${mirror:-http://deb.debian.org/debian/}
  mkdir -p "$dir/none" "$dir/lists/partial" "$dir/cache/archives/partial"
  echo "deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] $mirror $fltk_suite main" \
    >"$dir/sources.list"
  # An index fetched before serves when the mirror cannot be reached.
  apt-get "${fltk_apt[@]}" update -qq >"$dir/update.log" 2>&1 ||
    [ -n "$(ls "$dir/lists"/*Sources* 2>/dev/null)" ] || {
    log "apt could not fetch Debian $fltk_suite's source index:"
    cat "$dir/update.log" >&2
    exit 1
  }
}

# The files apt would fetch for the sources: "URI NAME SIZE SHA256:HASH" lines.
source_uris() {
  apt-get source --print-uris -qq "${packages[@]}" 2>/dev/null | tr -d "'"
  apt-get "${fltk_apt[@]}" source --print-uris -qq "$fltk_source" 2>/dev/null | tr -d "'"
}

mkdir -p "$cache/sources"
fltk_index
uris=$(source_uris)
dscs=$(awk '$2 ~ /\.dsc$/ { print $2 }' <<<"$uris" | sort -u)
if [ "$(wc -l <<<"$dscs")" -ne $((${#packages[@]} + 1)) ]; then
  log "apt knows no source for some of: ${packages[*]} $fltk_source (is there a deb-src entry?)"
  exit 1
fi
gtest_version=$(dpkg-query -W -f='${Version}' "libgtest-dev:$(dpkg --print-architecture)")
key=$(
  {
    echo "$dscs"
    echo "googletest $gtest_version"
    "$host-gcc-posix" --version | head -1
    echo "$opt"
    declare -p flags_ogg flags_vorbis flags_flac flags_opus flags_lame flags_mpg123 flags_sndfile \
      flags_soxr flags_sdl flags_fltk fltk_sources flags_gtest
    cat "$here"/patches/*.patch
    grep -v '^#' "$toolchain"
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
mkdir -p "$work"
# The toolchain file looks for libraries here alone.
export QUOM_WINDOWS_DEPS="$prefix"

# The files that must be there: every .dsc, upstream tarball and Debian folder, except FLTK's
# .dsc and Debian folder, which the mirror no longer serves for Debian 13.
needed=$(awk -v fltk="${fltk_source}_" '
  $2 ~ /([.]dsc|[.](orig|debian)[.]tar[.][a-z0-9]+)$/ &&
    !(index($2, fltk) == 1 && $2 !~ /[.]orig[.]/) { print $2, $4 }' <<<"$uris")

# Fetch the sources once; a file apt cannot fetch beside them (mpg123's detached signature,
# FLTK's Debian files) is not needed as long as the others came. Each is checked against the
# signed indexes.
if ! awk '{ print $1 }' <<<"$needed" | (cd "$cache/sources" && xargs ls >/dev/null 2>&1); then
  (cd "$cache/sources" && apt-get source --download-only -qq "${packages[@]}") >"$work/fetch.log" 2>&1 ||
    true
  (cd "$cache/sources" && apt-get "${fltk_apt[@]}" source --download-only -qq "$fltk_source") \
    >>"$work/fetch.log" 2>&1 || true
fi
while read -r name hash; do
  [ -f "$cache/sources/$name" ] &&
    [ "SHA256:$(sha256sum <"$cache/sources/$name" | cut -d' ' -f1)" = "$hash" ] || {
    log "$name is missing or does not match its index (see $work/fetch.log)"
    exit 1
  }
done <<<"$needed"

# A source package's file of one kind (orig or debian), by the package's name.
tarball() {
  awk -v p="$1_" -v kind="$2" 'index($2, p) == 1 && $2 ~ ("[.]" kind "[.]tar[.][a-z0-9]+$") { print $2 }' <<<"$uris"
}

# Unpacks a source package (upstream tarball, then Debian's folder when there is one), applies
# Debian's patches in their order and then ours. Prints the source folder.
unpack() {
  local name=$1 dir orig debian patch
  dir="$work/src/$name"
  if [ -f "$dir/.unpacked" ]; then
    echo "$dir"
    return 0
  fi
  orig=$(tarball "$name" orig)
  debian=$(tarball "$name" debian)
  rm -rf "$dir"
  mkdir -p "$dir"
  tar xf "$cache/sources/$orig" -C "$dir" --strip-components=1
  if [ -n "$debian" ] && [ -f "$cache/sources/$debian" ]; then
    tar xf "$cache/sources/$debian" -C "$dir"
    if [ -f "$dir/debian/patches/series" ]; then
      while read -r patch _; do
        case "$patch" in '' | '#'*) continue ;; esac
        patch -d "$dir" -p1 -s <"$dir/debian/patches/$patch" >&2
      done <"$dir/debian/patches/series"
    fi
  fi
  for patch in "$here/patches/$name"-*.patch; do
    [ -f "$patch" ] && patch -d "$dir" -p1 -s <"$patch" >&2
  done
  touch "$dir/.unpacked"
  echo "$dir"
}

source_name_of() {
  awk '$2 ~ /\.dsc$/ { sub(/_.*/, "", $2); print $2 }' <<<"$uris" | grep -x "$1" >/dev/null ||
    {
      log "no source package $1"
      exit 1
    }
  echo "$1"
}
source_of() { unpack "$(source_name_of "$1")"; }

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

# The processor time the finished children of process $1 have taken, in seconds.
cpu_seconds() {
  awk '{ printf "%d", ($16 + $17) / 100 }' "/proc/$1/stat"
}

# Runs one library's build (the named function) unless it has finished before, logging its time.
step() {
  local name=$1 t=$SECONDS cpu lane=$BASHPID
  [ -f "$work/$name.done" ] && return 0
  cpu=$(cpu_seconds "$lane")
  "build_$name" >"$work/$name.log" 2>&1 || {
    log "$name failed:"
    tail -30 "$work/$name.log" >&2
    return 1
  }
  touch "$work/$name.done"
  log "$name: $((SECONDS - t)) s, $(($(cpu_seconds "$lane") - cpu)) s of processor time"
}

# Configures, builds and installs one CMake project as static libraries; the targets to build
# may follow a "--targets" at the end (the installation then is the caller's).
cmake_build() {
  local name=$1 src=$2 targets=()
  shift 2
  local args=()
  while [ $# -gt 0 ] && [ "$1" != --targets ]; do
    args+=("$1")
    shift
  done
  [ $# -gt 0 ] && shift && targets=(--target "$@")
  cmake -S "$src" -B "$work/build/$name" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_C_FLAGS_RELEASE="$opt" -DCMAKE_CXX_FLAGS_RELEASE="$opt" \
    -DCMAKE_INSTALL_PREFIX="$prefix" -DCMAKE_PREFIX_PATH="$prefix" -DBUILD_SHARED_LIBS=OFF \
    -DBUILD_TESTING=OFF "${args[@]}"
  cmake --build "$work/build/$name" -j"$jobs" "${targets[@]}"
  [ ${#targets[@]} -gt 0 ] || cmake --install "$work/build/$name"
}

build_ogg() {
  cmake_build ogg "$(source_of libogg)" "${flags_ogg[@]}"
  licence libogg "$(source_of libogg)" COPYING
}

build_vorbis() {
  cmake_build vorbis "$(source_of libvorbis)" "${flags_vorbis[@]}"
  licence libvorbis "$(source_of libvorbis)" COPYING
}

build_flac() {
  cmake_build flac "$(source_of flac)" "${flags_flac[@]}"
  licence flac "$(source_of flac)" COPYING.Xiph
}

# Opus 1.3.1's release tarball lacks a file its CMake script includes, which only picks Release
# when no build type is given: an empty one serves.
build_opus() {
  local src
  src=$(source_of opus)
  [ -f "$src/opus_buildtype.cmake" ] || touch "$src/opus_buildtype.cmake"
  cmake_build opus "$src" "${flags_opus[@]}"
  licence opus "$src" COPYING
}

# LAME has only autotools: the encoder library alone, without its front end or decoder.
build_lame() {
  local src
  src=$(source_of lame)
  mkdir -p "$work/build/lame"
  (
    cd "$work/build/lame" &&
      "$src/configure" --host=$host --prefix="$prefix" "${flags_lame[@]}" CFLAGS="$opt" &&
      make -C libmp3lame -j"$jobs" &&
      make -C libmp3lame install && make -C include install
  )
  licence lame "$src" COPYING
}

build_mpg123() {
  cmake_build mpg123 "$(source_of mpg123)/ports/cmake" "${flags_mpg123[@]}"
  licence mpg123 "$(source_of mpg123)" COPYING
}

build_sndfile() {
  cmake_build sndfile "$(source_of libsndfile)" "${flags_sndfile[@]}"
  licence libsndfile "$(source_of libsndfile)" COPYING
}

build_soxr() {
  cmake_build soxr "$(source_of libsoxr)" "${flags_soxr[@]}"
  licence libsoxr "$(source_of libsoxr)" COPYING.LGPL
  # Its CMake script writes no pkg-config file for Windows.
  printf '%s\n' "prefix=$prefix" "Name: soxr" "Description: sample-rate conversion" \
    "Version: 0.1.3" 'Libs: -L${prefix}/lib -lsoxr' 'Cflags: -I${prefix}/include' \
    >"$prefix/lib/pkgconfig/soxr.pc"
}

# Without the dynamic API, whose table names functions of the subsystems left out (SDL asks for
# its header to be edited to that end).
build_sdl() {
  local src
  src=$(source_of libsdl2)
  sed -i 's/^#define SDL_DYNAMIC_API 1$/#define SDL_DYNAMIC_API 0/' "$src/src/dynapi/SDL_dynapi.h"
  cmake_build sdl "$src" "${flags_sdl[@]}"
  licence SDL2 "$src" LICENSE.txt
}

# The objects of the sources above, archived and installed by hand: FLTK's own targets would
# build the whole library.
build_fltk() {
  local src build="$work/build/fltk" objects=() name
  src=$(source_of "$fltk_source")
  for name in "${fltk_sources[@]}"; do
    case "$name" in *.c) ;; *) name+=.cxx ;; esac
    objects+=("src/CMakeFiles/fltk.dir/$name.obj")
  done
  cmake_build fltk "$src" "${flags_fltk[@]}" --targets "${objects[@]}"
  mkdir -p "$prefix/lib" "$prefix/include/FL"
  rm -f "$prefix/lib/libfltk.a"
  (cd "$build" && "$host-ar" rcs "$prefix/lib/libfltk.a" "${objects[@]}")
  cp "$src"/FL/*.[Hh] "$build/FL/abi-version.h" "$prefix/include/FL/"
  licence FLTK "$src" COPYING
}

# Header-only: the headers as the package installs them.
build_cli11() {
  local src
  src=$(source_of cli11)
  mkdir -p "$prefix/include"
  cp -r "$src/include/CLI" "$prefix/include/"
  licence CLI11 "$src" LICENSE
}

# GoogleTest, from the source Debian installs with libgtest-dev, for the engine's tests.
build_gtest() {
  cmake_build gtest /usr/src/googletest "${flags_gtest[@]}"
}

# Four lanes side by side, so that one's configure steps (one process each) overlap the others'
# compiling; libsndfile waits for the codecs, as it links every one.
status=0
(step ogg && step vorbis && step flac && step opus) &
codecs1=$!
(step lame && step mpg123) &
codecs2=$!
(step sdl && step soxr) &
others1=$!
(step fltk && step gtest && step cli11) &
others2=$!
wait "$codecs1" || status=1
wait "$codecs2" || status=1
# In a process of its own, so that its processor time is its own.
[ "$status" -eq 0 ] && (step sndfile) || status=1
wait "$others1" || status=1
wait "$others2" || status=1
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
