#!/usr/bin/env bash
# One entry point for newcomers and CI: installs what is missing, builds, runs or tests.
#
#   ./dev.sh run [quom options]   install, build the program alone, run it
#   ./dev.sh test                 install, build, run the whole test suite
#   ./dev.sh build                install and build only
#   ./dev.sh deps                 install the Debian packages only
#   ./dev.sh format               apply clang-format to every C++ file
#   ./dev.sh format-check         fail if any C++ file is not clang-formatted
#   ./dev.sh check-sanitize       build with ASan and UBSan, run the tests and a full render
#   ./dev.sh check-thread         build the engine's tests with TSan and run them
#   ./dev.sh check-clang          build everything with Clang 14, run the whole test suite
#   ./dev.sh check-arm64          cross-build the engine's tests for 64-bit ARM, run them in qemu
#   ./dev.sh windows              cross-build quom.exe for 64-bit Windows, pack the zip in dist/
#   ./dev.sh check-windows        the same, then the Windows tests under Wine
#   ./dev.sh soak [RENDERS]       render the piece and the all-instruments score RENDERS times
#                                 (default 500) on 1 to 16 workers, pinned and free, each checked
#   ./dev.sh fuzz binary|text|midi [SECONDS [libFuzzer options]]
#                                 fuzz a note list reader (default 600 s), then minimise its corpus
#   ./dev.sh midi-testdata [--check]
#                                 write the MIDI test files again with mido (or check them)
#   ./dev.sh web                  build the page with emscripten into dist/web/
#   ./dev.sh web-test             build the page and the program, test the page in headless Chromium
#   ./dev.sh package              build the Debian package dist/quom_VERSION_ARCH.deb
#   ./dev.sh check-package        check it (lintian, desktop entry, manual, completion), then
#                                 install it with apt-get, run it and remove it again
set -euo pipefail
cd "$(dirname "$0")"

BUILD_DIR=${BUILD_DIR:-build}
BUILD_TYPE=${BUILD_TYPE:-Release}

# Debian 12 packages, by what needs them.
PKGS_BUILD=(g++ cmake make pkg-config)
PKGS_ENGINE_TESTS=(libgtest-dev libgmock-dev libbenchmark-dev libssl-dev)
PKGS_PROGRAM=(libcli11-dev libsndfile1-dev libsoxr-dev libfltk1.3-dev libx11-dev libsdl2-dev
  fonts-liberation)
# The end-to-end tests: a virtual X server and key presses for the window, a private PipeWire
# server with a recorder for the playback, sox to read a piped WAV stream, Python to press keys on
# a pseudo-terminal.
PKGS_E2E_TESTS=(xvfb xdotool dbus-daemon pipewire pipewire-bin pipewire-pulse wireplumber
  pulseaudio-utils sox python3)
# The build also writes the manual page (from quom --help) and draws the icons as PNG files.
PKGS_PROGRAM+=(help2man libpng-dev)
# The Debian package: CPack works out its dependencies with dpkg-shlibdeps, on the files `file`
# says are programs. Its check: lintian, the desktop entry's validator, man, bash-completion's
# helpers, and Python to read the installed program's WAV file.
PKGS_PACKAGE=(dpkg-dev file)
PKGS_PACKAGE_CHECK=(lintian desktop-file-utils man-db bash-completion file python3)
# The second compiler the whole suite passes with.
PKGS_CLANG=(clang-14)
# The cross build for 64-bit ARM: the compiler, the emulator, and the arm64 builds of the engine
# tests' libraries (the program's window and sound libraries stay out).
PKGS_ARM64=(g++-aarch64-linux-gnu qemu-user libgtest-dev:arm64 libssl-dev:arm64)
# The page: emscripten for the engine, and for its tests the system's Chromium, driven from Node
# (a Node and npm already on the PATH, from elsewhere than Debian, are used as they are).
PKGS_WEB=(emscripten chromium)
command -v node >/dev/null || PKGS_WEB+=(nodejs)
command -v npm >/dev/null || PKGS_WEB+=(npm)

# The Windows build: the cross compiler, the tools the libraries' builds use (apt-get source needs
# dpkg-dev; GoogleTest's source comes with libgtest-dev), and zip. Its tests: Wine, a virtual X
# server, and the Linux build to compare with.
PKGS_WINDOWS=(g++-mingw-w64-x86-64-posix dpkg-dev ninja-build zip libgtest-dev cmake pkg-config
  patch)
PKGS_WINDOWS_TESTS=(wine wine64 xvfb xdotool fonts-liberation)

missing_packages() {
  local p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || echo "$p"
  done
}

install_packages() {
  local missing
  missing=$(missing_packages "$@")
  [ -z "$missing" ] && return 0
  local sudo=()
  [ "$(id -u)" -ne 0 ] && sudo=(sudo)
  echo "dev.sh: installing: $(echo $missing)" >&2
  # Another install running at the same time (a second dev.sh, say) is waited for, not failed on.
  local wait=(-o DPkg::Lock::Timeout=900)
  "${sudo[@]}" apt-get "${wait[@]}" update -qq
  # shellcheck disable=SC2086
  DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get "${wait[@]}" install -y -qq --no-install-recommends $missing >&2
}

# Configures the build folder and builds the given targets (none: every target).
build() {
  cmake -S . -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE="$BUILD_TYPE" >/dev/null
  local targets=()
  [ $# -gt 0 ] && targets=(--target "$@")
  cmake --build "$BUILD_DIR" -j"$(nproc)" "${targets[@]}"
}

# The sanitizer build lives in its own folder. A report ends the process with status 86, which no
# test expects of a program it runs; the address checker's reports also go to files, so that none
# is lost in the output of a test.
check_sanitize() {
  local dir=${SANITIZE_DIR:-build-sanitize}
  cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUOM_SANITIZE=ON \
    -DQUOM_BUILD_BENCH=OFF >/dev/null
  cmake --build "$dir" -j"$(nproc)"
  local reports
  reports="$(pwd)/$dir/sanitizer-reports"
  rm -rf "$reports"
  mkdir -p "$reports"
  export ASAN_OPTIONS="detect_leaks=1:check_initialization_order=1:strict_init_order=1:exitcode=86:log_path=$reports/asan"
  export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:exitcode=86"
  local status=0
  # The schedules' renders only compare bits, which the plain build checks; the hand-off tests
  # and the renders of the engine's tests run here.
  ctest --test-dir "$dir" --output-on-failure -j"$(nproc)" -E '^e2e[.]schedules$' || status=1
  echo "check-sanitize: rendering the piece" >&2
  "$dir/quom" --quiet --wav "$dir/piece.wav" || status=1
  rm -f "$dir/piece.wav"
  if [ -n "$(ls -A "$reports")" ]; then
    echo "check-sanitize: sanitizer reports:" >&2
    cat "$reports"/* >&2
    status=1
  fi
  [ "$status" -eq 0 ] && echo "check-sanitize: no sanitizer report, every test passed" >&2
  return "$status"
}

# The engine's tests that start threads, built with ThreadSanitizer in their own folder. A report
# fails the run. Under the checker a render takes some twenty times as long, so the tests that only
# repeat a render (once more on the same workers, on one thread, once per vector path and worker
# count) are left out; the task pool, the bank and the notes on one, two and three workers, the
# hand-offs under forced schedules, a progress sink giving up in each stage, the reverb's rounds
# and the whole piece stay. A new test that starts threads belongs in this list.
TSAN_TESTS='TaskPool.*:Pipeline.*:HandOff.*:Completeness.*:ReverbStage.*'
TSAN_TESTS+=':SampleBank.PiecesOnThreads*:Golden.*'
TSAN_TESTS+=':-Golden.AllInstrumentsRender:Golden.EveryPathAndThreadCountGivesTheSameRender'
TSAN_TESTS+=':Golden.FastStagesGiveTheSameRenders'
check_thread() {
  local dir=${TSAN_DIR:-build-tsan}
  cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUOM_TSAN=ON \
    -DQUOM_BUILD_BENCH=OFF >/dev/null
  cmake --build "$dir" -j"$(nproc)" --target quom_engine_tests
  TSAN_OPTIONS="halt_on_error=1:exitcode=66:second_deadlock_stack=1" \
    "$dir/quom_engine_tests" --gtest_filter="$TSAN_TESTS"
  echo "check-thread: no data race, every test passed" >&2
}

# Everything built with Clang 14 in its own folder, and the whole suite run there.
check_clang() {
  local dir=${CLANG_DIR:-build-clang}
  cmake -S . -B "$dir" -DCMAKE_CXX_COMPILER=clang++-14 -DCMAKE_BUILD_TYPE="$BUILD_TYPE" >/dev/null
  cmake --build "$dir" -j"$(nproc)"
  ctest --test-dir "$dir" --output-on-failure -j"$(nproc)"
  echo "check-clang: every test passed" >&2
}

# The arm64 libraries come from Debian's arm64 archive, added next to the machine's own.
add_arm64_architecture() {
  dpkg --print-foreign-architectures | grep -qx arm64 && return 0
  local sudo=()
  [ "$(id -u)" -ne 0 ] && sudo=(sudo)
  echo "dev.sh: adding the arm64 architecture to dpkg" >&2
  "${sudo[@]}" dpkg --add-architecture arm64
}

# The engine and its tests cross-built for 64-bit ARM and run under qemu-user. The score embedder
# runs during the build, so it is built for this machine first, in a folder of its own. Emulated,
# one fast render takes a minute or two, so this run keeps what can differ on another processor:
# the golden hashes of the embedded piece and of the all-instruments score (the one render the
# observer test makes) on the NEON path and of the reverb and master stages, and the unit tests
# that check every kernel against its literal form. Whole renders repeated for other reasons
# (paths, thread counts, a sink that gives up, the extremes), the literal renders, the sample
# bank's whole-bank comparisons (its plates are checked on their own), the note list readers and
# the hand-offs between threads, which have no processor-specific code, are left to the native run.
# ARM64_TESTS in the environment replaces the filter.
ARM64_SKIPPED='Golden.EveryPathAndThreadCountGivesTheSameRender:Golden.FastStagesGiveTheSameRenders'
ARM64_SKIPPED+=':Golden.AllInstrumentsRender'
ARM64_SKIPPED+=':Pipeline.ASinkThatGivesUpStopsEveryStage:Extremes.*'
ARM64_SKIPPED+=':Layers.AloneAndInLanesAsTheLiteralRenderingOnEveryPath'
ARM64_SKIPPED+=':SampleBank.Contents:SampleBank.FastPathsGiveTheSameBank'
ARM64_SKIPPED+=':SampleBank.PiecesOnThreadsGiveTheSameBank:FuzzCorpus.*'
ARM64_SKIPPED+=':HandOff.*:Completeness.*'
ARM64_TESTS=${ARM64_TESTS:-"*:-$ARM64_SKIPPED"}
check_arm64() {
  local dir=${ARM64_DIR:-build-arm64}
  cmake -S . -B "$dir/host" -DCMAKE_BUILD_TYPE="$BUILD_TYPE" -DQUOM_ENGINE_ONLY=ON \
    -DQUOM_BUILD_TESTS=OFF >/dev/null
  cmake --build "$dir/host" -j"$(nproc)" --target quom_embed_score
  cmake -S . -B "$dir" -DCMAKE_TOOLCHAIN_FILE=cmake/aarch64-linux-gnu.cmake \
    -DCMAKE_BUILD_TYPE="$BUILD_TYPE" -DQUOM_ENGINE_ONLY=ON \
    -DQUOM_HOST_EMBED_SCORE="$(pwd)/$dir/host/quom_embed_score" >/dev/null
  cmake --build "$dir" -j"$(nproc)" --target quom_engine_tests
  qemu-aarch64 "$dir/quom_engine_tests" --gtest_filter="$ARM64_TESTS"
  echo "check-arm64: every test passed on aarch64" >&2
}

# apt-get source needs deb-src entries: made from the deb ones when there are none.
add_deb_src() {
  apt-get indextargets --format '$(CREATED_BY)' 2>/dev/null | grep -qx Sources && return 0
  local sudo=()
  [ "$(id -u)" -ne 0 ] && sudo=(sudo)
  local list=/etc/apt/sources.list.d/quom-deb-src.sources
  echo "dev.sh: adding deb-src entries ($list) for Debian's source packages" >&2
  if [ -f /etc/apt/sources.list.d/debian.sources ]; then
    sed 's/^Types: deb$/Types: deb-src/' /etc/apt/sources.list.d/debian.sources |
      "${sudo[@]}" tee "$list" >/dev/null
  else
    list=/etc/apt/sources.list.d/quom-deb-src.list
    grep -h '^deb ' /etc/apt/sources.list | sed 's/^deb /deb-src /' | "${sudo[@]}" tee "$list" >/dev/null
  fi
  "${sudo[@]}" apt-get -o DPkg::Lock::Timeout=900 update -qq
}

# quom.exe for 64-bit Windows, cross-built with mingw-w64 against libraries built from Debian's
# sources (tools/windows/build-deps.sh, cached outside the checkout), then packed with the README
# and the licences into dist/quom-windows-x86_64.zip. The score embedder and the icon writer run
# during the build, so copies built for this machine come first (build-windows/host/).
WINDOWS_DIR=${WINDOWS_DIR:-build-windows}
WINDOWS_ZIP=dist/quom-windows-x86_64.zip
# The DLLs quom.exe may import: the system's own, present on every Windows.
WINDOWS_SYSTEM_DLLS='ADVAPI32|bcrypt|GDI32|IMM32|KERNEL32|msvcrt|ole32|OLEAUT32|SETUPAPI|SHELL32'
WINDOWS_SYSTEM_DLLS+='|USER32|VERSION|WINMM|WS2_32|CFGMGR32|dsound|dxguid|UxTheme|SHLWAPI|COMCTL32'
windows_build() {
  local start=$SECONDS deps
  deps=$(tools/windows/build-deps.sh)
  echo "windows: libraries ready in $((SECONDS - start)) s ($deps)" >&2
  start=$SECONDS
  # The libraries found are cached by the configuration: a new folder of them starts it afresh.
  if [ "$(cat "$WINDOWS_DIR/deps-folder" 2>/dev/null)" != "$deps" ]; then
    rm -f "$WINDOWS_DIR/CMakeCache.txt"
    mkdir -p "$WINDOWS_DIR"
    echo "$deps" >"$WINDOWS_DIR/deps-folder"
  fi
  cmake -S . -B "$WINDOWS_DIR/host" -G Ninja -DCMAKE_BUILD_TYPE="$BUILD_TYPE" -DQUOM_ENGINE_ONLY=ON \
    -DQUOM_BUILD_TESTS=OFF >/dev/null
  cmake --build "$WINDOWS_DIR/host" -j"$(nproc)" --target quom_embed_score quom_make_icon
  cmake -S . -B "$WINDOWS_DIR" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/x86_64-w64-mingw32.cmake \
    -DCMAKE_BUILD_TYPE="$BUILD_TYPE" -DQUOM_WINDOWS_DEPS="$deps" -DQUOM_BUILD_BENCH=OFF \
    -DQUOM_HOST_EMBED_SCORE="$(pwd)/$WINDOWS_DIR/host/quom_embed_score" \
    -DQUOM_HOST_MAKE_ICON="$(pwd)/$WINDOWS_DIR/host/quom_make_icon" >/dev/null
  cmake --build "$WINDOWS_DIR" -j"$(nproc)" --target quom "$@"
  echo "windows: quom.exe built in $((SECONDS - start)) s" >&2

  # One file to copy: every DLL it needs comes with Windows.
  local dlls foreign
  dlls=$(x86_64-w64-mingw32-objdump -p "$WINDOWS_DIR/quom.exe" | sed -n 's/^\tDLL Name: //p')
  foreign=$(grep -viE "^($WINDOWS_SYSTEM_DLLS)\.dll$" <<<"$dlls" || true)
  if [ -n "$foreign" ]; then
    echo "windows: quom.exe needs DLLs that Windows does not have: $(echo $foreign)" >&2
    return 1
  fi
  echo "windows: quom.exe imports only system DLLs: $(echo $dlls)" >&2

  # The zip: the program, the README, the project's licence and those of the libraries in it.
  local stage="$WINDOWS_DIR/zip/quom-windows-x86_64"
  rm -rf "$WINDOWS_DIR/zip"
  mkdir -p "$stage/licenses" dist
  x86_64-w64-mingw32-strip -o "$stage/quom.exe" "$WINDOWS_DIR/quom.exe"
  cp README.md LICENSE "$stage/"
  cp -r "$deps/licenses/." "$stage/licenses/"
  rm -f "$WINDOWS_ZIP"
  (cd "$WINDOWS_DIR/zip" && zip -qr -9 "$OLDPWD/$WINDOWS_ZIP" quom-windows-x86_64)
  echo "windows: $WINDOWS_ZIP, $(du -k "$WINDOWS_ZIP" | cut -f1) KB:" >&2
  unzip -l "$WINDOWS_ZIP" | sed -n '4,$p' | head -n -2 | awk '{print "  " $4 " (" $1 " bytes)"}' >&2
}

# libFuzzer needs clang. The run starts from the kept corpus and writes new inputs to a scratch
# corpus in the build folder; the kept one is then replaced by the smallest set of inputs that
# reaches every edge both reached. Crashes land in the build folder: once the fault is fixed, copy
# them to tests/fuzz/regressions-READER so the corpus test replays them.
fuzz() {
  local reader=${1:-} seconds=${2:-600}
  case "$reader" in binary | text | midi) ;; *) echo "usage: ./dev.sh fuzz binary|text|midi [SECONDS]" >&2; return 2 ;; esac
  local dir=${FUZZ_DIR:-build-fuzz}
  cmake -S . -B "$dir" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DQUOM_FUZZ=ON -DQUOM_BUILD_TESTS=OFF -DQUOM_BUILD_BENCH=OFF >/dev/null
  cmake --build "$dir" -j"$(nproc)" --target "quom_fuzz_$reader"
  local fuzzer="$dir/quom_fuzz_$reader" kept="tests/fuzz/corpus-$reader"
  local scratch="$dir/corpus-$reader" merged="$dir/merged-$reader" crashes="$dir/crashes-$reader"
  local dict=()
  [ -f "tests/fuzz/$reader.dict" ] && dict=(-dict="tests/fuzz/$reader.dict")
  mkdir -p "$scratch" "$crashes"
  "$fuzzer" -max_total_time="$seconds" -max_len=4096 -timeout=10 -rss_limit_mb=2048 \
    -print_final_stats=1 -artifact_prefix="$crashes/" "${dict[@]}" "${@:3}" "$scratch" "$kept"
  rm -rf "$merged"
  mkdir -p "$merged"
  # Edges only, not how often each is taken: a corpus of tens of inputs instead of hundreds.
  "$fuzzer" -merge=1 -use_counters=0 "$merged" "$kept" "$scratch" 2>"$dir/merge-$reader.log"
  rm -rf "$kept"
  mv "$merged" "$kept"
  echo "fuzz: $(ls "$kept" | wc -l) inputs kept in $kept" >&2
}

# The page: the engine built by emscripten in build-web/ (with the score embedder given, or else one
# built for this machine first in build-web/host/), then the page's files and the engine's two files
# put together in dist/web/, which replaces the old one only once whole. Emscripten's own JavaScript
# tools find their modules through NODE_PATH when a Node from elsewhere comes first on the PATH.
WEB_DIR=${WEB_DIR:-build-web}
build_web() {
  export NODE_PATH=${NODE_PATH:-/usr/share/nodejs}
  local embed=${1:-}
  if [ -z "$embed" ]; then
    cmake -S . -B "$WEB_DIR/host" -DCMAKE_BUILD_TYPE="$BUILD_TYPE" -DQUOM_ENGINE_ONLY=ON \
      -DQUOM_BUILD_TESTS=OFF >/dev/null
    cmake --build "$WEB_DIR/host" -j"$(nproc)" --target quom_embed_score
    embed="$(pwd)/$WEB_DIR/host/quom_embed_score"
  fi
  emcmake cmake -S . -B "$WEB_DIR" -DCMAKE_BUILD_TYPE="$BUILD_TYPE" -DQUOM_ENGINE_ONLY=ON \
    -DQUOM_BUILD_TESTS=OFF -DQUOM_HOST_EMBED_SCORE="$embed" >/dev/null
  cmake --build "$WEB_DIR" -j"$(nproc)" --target quom_web
  rm -rf dist/web.new
  mkdir -p dist/web.new
  cp web/index.html web/style.css web/page.js web/render-worker.js "$WEB_DIR/quom.js" \
    "$WEB_DIR/quom.wasm" dist/web.new/
  rm -rf dist/web
  mv dist/web.new dist/web
  echo "web: the page is in dist/web/ ($(du -sk dist/web | cut -f1) KB; any static host serves it)" >&2
}

# The page's tests in headless Chromium, against the program's own output for the same files.
# playwright-core drives the system's Chromium and downloads no browser.
test_web() {
  if [ ! -d web/node_modules/playwright-core ] ||
    [ web/package-lock.json -nt web/node_modules/.package-lock.json ]; then
    (cd web && PLAYWRIGHT_SKIP_BROWSER_DOWNLOAD=1 npm ci --no-audit --no-fund)
  fi
  QUOM_EXE="$(pwd)/$BUILD_DIR/quom" node --test-reporter=spec web/tests/page.test.mjs
}

# The program and the files installed beside it, then CPack's Debian package, moved to dist/.
package() {
  build quom quom_desktop_files quom_package_docs
  rm -f dist/quom_*.deb
  mkdir -p dist
  (cd "$BUILD_DIR" && cpack -G DEB >cpack.log) || {
    cat "$BUILD_DIR/cpack.log" >&2
    return 1
  }
  mv "$BUILD_DIR"/package/quom_*.deb dist/
  echo "package: $(ls dist/quom_*.deb), $(du -k dist/quom_*.deb | cut -f1) KB" >&2
}

# The package's checks; installing it needs root (sudo otherwise).
check_package() {
  local deb
  deb=$(ls dist/quom_*.deb 2>/dev/null) || {
    echo "check-package: no dist/quom_*.deb: run ./dev.sh package first" >&2
    return 1
  }
  local sudo=()
  [ "$(id -u)" -ne 0 ] && sudo=(sudo)
  "${sudo[@]}" tests/package/check.sh --install "$deb"
  echo "check-package: every check passed" >&2
}

cmd=${1:-}
[ $# -gt 0 ] && shift
case "$cmd" in
  deps)
    install_packages "${PKGS_BUILD[@]}" "${PKGS_ENGINE_TESTS[@]}" "${PKGS_PROGRAM[@]}" "${PKGS_E2E_TESTS[@]}"
    ;;
  build)
    install_packages "${PKGS_BUILD[@]}" "${PKGS_ENGINE_TESTS[@]}" "${PKGS_PROGRAM[@]}" "${PKGS_E2E_TESTS[@]}"
    build
    ;;
  run)
    # The program alone: the tests and benchmarks wait for `test` or `build`. Configuring still
    # looks for their libraries.
    install_packages "${PKGS_BUILD[@]}" "${PKGS_ENGINE_TESTS[@]}" "${PKGS_PROGRAM[@]}"
    build quom
    exec "$BUILD_DIR/quom" "$@"
    ;;
  test)
    install_packages "${PKGS_BUILD[@]}" "${PKGS_ENGINE_TESTS[@]}" "${PKGS_PROGRAM[@]}" "${PKGS_E2E_TESTS[@]}"
    build
    ctest --test-dir "$BUILD_DIR" --output-on-failure -j"$(nproc)"
    ;;
  check-sanitize)
    install_packages "${PKGS_BUILD[@]}" "${PKGS_ENGINE_TESTS[@]}" "${PKGS_PROGRAM[@]}" "${PKGS_E2E_TESTS[@]}"
    check_sanitize
    ;;
  check-thread)
    install_packages "${PKGS_BUILD[@]}" "${PKGS_ENGINE_TESTS[@]}" "${PKGS_PROGRAM[@]}"
    check_thread
    ;;
  check-clang)
    install_packages "${PKGS_BUILD[@]}" "${PKGS_ENGINE_TESTS[@]}" "${PKGS_PROGRAM[@]}" "${PKGS_E2E_TESTS[@]}" "${PKGS_CLANG[@]}"
    check_clang
    ;;
  check-arm64)
    add_arm64_architecture
    install_packages "${PKGS_BUILD[@]}" "${PKGS_ARM64[@]}"
    check_arm64
    ;;
  fuzz)
    install_packages "${PKGS_BUILD[@]}" "${PKGS_ENGINE_TESTS[@]}" "${PKGS_PROGRAM[@]}" clang libclang-rt-14-dev
    fuzz "$@"
    ;;
  windows)
    add_deb_src
    install_packages "${PKGS_WINDOWS[@]}"
    windows_build
    ;;
  check-windows)
    add_deb_src
    install_packages "${PKGS_BUILD[@]}" "${PKGS_ENGINE_TESTS[@]}" "${PKGS_PROGRAM[@]}" \
      "${PKGS_WINDOWS[@]}" "${PKGS_WINDOWS_TESTS[@]}"
    windows_build quom_engine_tests
    build quom pcmcheck xprobe decodedframes
    tests/windows/wine-tests.sh "$WINDOWS_DIR" "$BUILD_DIR"
    ;;
  soak)
    install_packages "${PKGS_BUILD[@]}" "${PKGS_ENGINE_TESTS[@]}" "${PKGS_PROGRAM[@]}"
    build quom
    bash tests/e2e/schedules.sh "$BUILD_DIR" --soak "${1:-500}"
    ;;
  web)
    install_packages "${PKGS_BUILD[@]}" "${PKGS_WEB[@]}"
    build_web
    ;;
  web-test)
    install_packages "${PKGS_BUILD[@]}" "${PKGS_ENGINE_TESTS[@]}" "${PKGS_PROGRAM[@]}" "${PKGS_WEB[@]}"
    # The program's build has an embedder for this machine already.
    build quom quom_embed_score
    build_web "$(pwd)/$BUILD_DIR/quom_embed_score"
    test_web
    ;;
  midi-testdata)
    install_packages python3 python3-mido
    /usr/bin/python3 tools/make_midi_testdata.py "$@"
    ;;
  package)
    install_packages "${PKGS_BUILD[@]}" "${PKGS_ENGINE_TESTS[@]}" "${PKGS_PROGRAM[@]}" "${PKGS_PACKAGE[@]}"
    package
    ;;
  check-package)
    install_packages "${PKGS_PACKAGE_CHECK[@]}"
    check_package
    ;;
  format | format-check)
    install_packages clang-format
    files=$(git ls-files '*.cpp' '*.h')
    if [ "$cmd" = format ]; then
      clang-format -i $files
    else
      clang-format --dry-run --Werror $files
    fi
    ;;
  *)
    awk 'NR > 1 && /^#/ { sub(/^# ?/, ""); print; next } NR > 1 { exit }' "$0"
    [ -z "$cmd" ] || exit 2
    ;;
esac
