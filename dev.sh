#!/usr/bin/env bash
# One entry point for newcomers and CI: installs what is missing, builds, runs or tests.
#
#   ./dev.sh run [quom options]   install, build, run the program
#   ./dev.sh test                 install, build, run the whole test suite
#   ./dev.sh build                install and build only
#   ./dev.sh deps                 install the Debian packages only
#   ./dev.sh format               apply clang-format to every C++ file
#   ./dev.sh format-check         fail if any C++ file is not clang-formatted
set -euo pipefail
cd "$(dirname "$0")"

BUILD_DIR=${BUILD_DIR:-build}
BUILD_TYPE=${BUILD_TYPE:-Release}

# Debian 12 packages, by what needs them.
PKGS_BUILD=(g++ cmake make pkg-config)
PKGS_ENGINE_TESTS=(libgtest-dev libgmock-dev libbenchmark-dev libssl-dev)
PKGS_PROGRAM=(libcli11-dev libsndfile1-dev libfltk1.3-dev libx11-dev libsdl2-dev fonts-liberation)
# The end-to-end tests: a virtual X server and key presses for the window, a private PipeWire
# server with a recorder for the playback.
PKGS_E2E_TESTS=(xvfb xdotool dbus-daemon pipewire pipewire-bin pipewire-pulse wireplumber
  pulseaudio-utils)

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
  "${sudo[@]}" apt-get update -qq
  # shellcheck disable=SC2086
  DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends $missing >&2
}

build() {
  cmake -S . -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE="$BUILD_TYPE" >/dev/null
  cmake --build "$BUILD_DIR" -j"$(nproc)"
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
    install_packages "${PKGS_BUILD[@]}" "${PKGS_ENGINE_TESTS[@]}" "${PKGS_PROGRAM[@]}" "${PKGS_E2E_TESTS[@]}"
    build
    exec "$BUILD_DIR/quom" "$@"
    ;;
  test)
    install_packages "${PKGS_BUILD[@]}" "${PKGS_ENGINE_TESTS[@]}" "${PKGS_PROGRAM[@]}" "${PKGS_E2E_TESTS[@]}"
    build
    ctest --test-dir "$BUILD_DIR" --output-on-failure -j"$(nproc)"
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
    sed -n '2,9p' "$0" | sed 's/^# \{0,1\}//'
    [ -z "$cmd" ] || exit 2
    ;;
esac
