#!/usr/bin/env bash
# Checks the Debian package from the outside: what it holds, then what installing and removing it
# does to the system.
#
#   check.sh DEB           lintian, the desktop entry, the manual page, the bash completion
#   check.sh --install DEB and then, as root: apt-get install, the installed quom from the PATH
#                          (its version, and the piece's PCM against the golden hash), apt-get
#                          remove leaving none of the package's files behind
set -euo pipefail
cd "$(dirname "$0")/../.."

INSTALL=0
if [ "${1:-}" = --install ]; then
  INSTALL=1
  shift
fi
if [ $# -ne 1 ] || [ ! -f "$1" ]; then
  echo "usage: check.sh [--install] DEB" >&2
  exit 2
fi
DEB=$(realpath "$1")
WORK=$(mktemp -d "${TMPDIR:-/tmp}/quom-package.XXXXXX")
INSTALLED_BY_US=0
cleanup() {
  # A failed run leaves the system as it found it.
  if [ "$INSTALLED_BY_US" -eq 1 ]; then
    apt-get -o DPkg::Lock::Timeout=900 remove -y -qq quom >/dev/null 2>&1 || true
  fi
  rm -rf "$WORK"
}
trap cleanup EXIT

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

VERSION=$(dpkg-deb -f "$DEB" Version)
# quom --version's first line names the version; more may follow it (how it was built).
version_is_the_package() {
  case "$(quom --version | head -n 1)" in
    "quom $VERSION" | "quom $VERSION "*) return 0 ;;
    *) return 1 ;;
  esac
}
dpkg-deb -x "$DEB" "$WORK/root"
ROOT=$WORK/root
# The package's programs run from where they were unpacked (their libraries are the system's).
export PATH="$ROOT/usr/bin:$PATH"

echo "-- lintian"
lintian --display-info --pedantic --fail-on error "$DEB" >"$WORK/lintian.txt" 2>&1 || status=$?
grep -v '^running with root' "$WORK/lintian.txt" || true
[ "${status:-0}" -eq 0 ] || fail "lintian reports an error"

echo "-- the file list"
version_is_the_package || fail "quom --version says '$(quom --version)', the package $VERSION"
for file in usr/bin/quom usr/share/man/man1/quom.1.gz usr/share/applications/quom.desktop \
  usr/share/bash-completion/completions/quom usr/share/doc/quom/README.md \
  usr/share/doc/quom/copyright usr/share/doc/quom/changelog.gz \
  usr/share/icons/hicolor/{16x16,32x32,48x48,64x64,128x128,256x256}/apps/quom.png; do
  [ -f "$ROOT/$file" ] || fail "the package has no $file"
done
for size in 16 32 48 64 128 256; do
  file -b "$ROOT/usr/share/icons/hicolor/${size}x$size/apps/quom.png" |
    grep -q "PNG image data, $size x $size, 8-bit/color RGBA" ||
    fail "the $size-pixel icon is not a $size x $size PNG"
done

echo "-- the desktop entry"
desktop-file-validate "$ROOT/usr/share/applications/quom.desktop" || fail "desktop-file-validate"
for field in Exec=quom Icon=quom Terminal=false; do
  grep -qx "$field" "$ROOT/usr/share/applications/quom.desktop" ||
    fail "the desktop entry has no $field"
done

echo "-- the manual page"
PAGE=$ROOT/usr/share/man/man1/quom.1.gz
LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$PAGE" >"$WORK/man.txt" 2>"$WORK/man.err" ||
  fail "man -l failed: $(cat "$WORK/man.err")"
[ ! -s "$WORK/man.err" ] || fail "man -l warns: $(cat "$WORK/man.err")"
# Every option of the help, the sections a reader looks for, and the package's version.
for option in $(quom --help | grep -o '^  -[^ ]*' | tr ',' ' '); do
  grep -q -- "$option" "$WORK/man.txt" || fail "the manual page does not tell $option"
done
for text in KEYS 'EXIT STATUS' ENVIRONMENT SDL_AUDIODRIVER QUOM_SIMD 130 Esc arrows \
  "quom $VERSION"; do
  grep -q -- "$text" "$WORK/man.txt" || fail "the manual page does not tell '$text'"
done
# An option whose description the page runs into its name would be a paragraph without a tag.
! zcat "$PAGE" | grep -q '^\.HP' || fail "the manual page has an option without its own description"

echo "-- the bash completion"
mkdir "$WORK/files" "$WORK/files/folder"
touch "$WORK/files/"{song.mid,LOUD.MID,notes.txt,piece.wav,records.bin}
# Completes the last word of the command line given, in a non-interactive bash as the completion
# would be loaded by bash-completion; prints the candidates one a line, sorted.
complete_words() {
  (cd "$WORK/files" && bash -c '
    source /usr/share/bash-completion/bash_completion
    source "$0"
    COMP_WORDS=("$@")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMP_LINE="${COMP_WORDS[*]}"
    COMP_POINT=${#COMP_LINE}
    _quom quom "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
    printf "%s\n" "${COMPREPLY[@]}" | LC_ALL=C sort' \
    "$ROOT/usr/share/bash-completion/completions/quom" "$@")
}
expect_words() {  # expect_words "EXPECTED ..." WORDS...
  local expected=$1 got
  shift
  got=$(complete_words "$@" | tr '\n' ' ')
  [ "$got" = "$expected " ] || fail "completing '$*': '$got', expected '$expected '"
}
expect_words "--wav" quom --w
expect_words "LOUD.MID folder song.mid" quom --score song.mid --export-midi ""
expect_words "LOUD.MID folder notes.txt song.mid" quom --score ""
expect_words "- folder piece.wav" quom --wav ""
expect_words "folder" quom --stems ""
expect_words "flac" quom --wav - --format f
# Every option of the help completes.
for option in $(quom --help | grep -o '^  -[^ ]*' | tr ',' ' ' | grep -- '^--'); do
  complete_words quom "$option" | grep -qx -- "$option" ||
    fail "completing '$option' does not offer it"
done

[ "$INSTALL" -eq 1 ] || exit 0

echo "-- install with apt-get"
[ "$(id -u)" -eq 0 ] || fail "installing the package needs root"
if dpkg-query -W -f='${Status}' quom 2>/dev/null | grep -q "install ok installed"; then
  fail "quom is installed already; this check installs and removes it: apt-get remove quom first"
fi
# The package's paths that are there before, folders shared with other packages among them.
dpkg-deb -c "$DEB" | awk '{print $NF}' | sed 's|^\./|/|; s|/$||' | grep -v '^$' >"$WORK/paths"
while read -r path; do
  if [ -e "$path" ]; then echo "$path"; fi
done <"$WORK/paths" >"$WORK/before"
grep -qx /usr/bin/quom "$WORK/before" && fail "/usr/bin/quom exists without the package"
INSTALLED_BY_US=1
APT=(env DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=900 -y -qq)
"${APT[@]}" install "$DEB" >"$WORK/apt.log" 2>&1 ||
  fail "apt-get install: $(cat "$WORK/apt.log")"

export PATH=${PATH#"$ROOT/usr/bin:"}
[ "$(command -v quom)" = /usr/bin/quom ] || fail "quom on the PATH is $(command -v quom)"
version_is_the_package || fail "the installed quom --version says '$(quom --version)'"
GOLDEN=$(grep -A1 'kPiecePcmSha256 =' tests/render/golden_test.cpp | grep -o '[0-9a-f]\{64\}')
[ -n "$GOLDEN" ] || fail "no golden hash of the piece in tests/render/golden_test.cpp"
(cd "$WORK" && quom --quiet --wav piece.wav) || fail "the installed quom --wav failed"
PCM=$(python3 -c 'import hashlib, sys, wave
w = wave.open(sys.argv[1])
print(hashlib.sha256(w.readframes(w.getnframes())).hexdigest())' "$WORK/piece.wav")
[ "$PCM" = "$GOLDEN" ] || fail "the installed quom's PCM is $PCM, the golden $GOLDEN"
echo "the installed quom $VERSION renders the golden PCM ($GOLDEN)"

echo "-- remove with apt-get"
"${APT[@]}" remove quom >"$WORK/apt.log" 2>&1 ||
  fail "apt-get remove: $(cat "$WORK/apt.log")"
INSTALLED_BY_US=0
if dpkg-query -W -f='${Status}' quom 2>/dev/null | grep -q "ok installed"; then
  fail "quom is still installed: $(dpkg-query -W -f='${Status}' quom)"
fi
# Whatever the package brought is gone; what was there before stays.
while read -r path; do
  if [ -e "$path" ]; then echo "$path"; fi
done <"$WORK/paths" >"$WORK/after"
diff "$WORK/before" "$WORK/after" >"$WORK/left" ||
  fail "removal changed: $(tr '\n' ' ' <"$WORK/left")"
echo "apt-get remove took all of the package's $(dpkg-deb -c "$DEB" | grep -vc '^d') files away"
