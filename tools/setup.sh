#!/usr/bin/env bash
# Prepares a Debian 12 machine for Dirshift: installs the packages it needs (only
# when some are missing), creates the Wine prefix, and builds everything.
# With --program (tools/run.sh) it builds the program alone, not the tests.
# Safe to run again; later runs only rebuild what changed.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/.." && pwd)
# shellcheck source=wine-env.sh
. "$here/wine-env.sh"

packages=(
  cmake make python3 git
  g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64 googletest  # cross build and tests
  wine wine64 fonts-wine                                     # running the program
  xvfb xauth x11-utils x11-apps imagemagick                  # a display and screenshots
  libx11-6 libxtst6                                          # typing into a display (XTest)
  ntfs-3g fuse3 attr                                         # the NTFS volumes of the tests and of run.sh
  clang-14 libclang-rt-14-dev                                # native fuzzing of the pure parsers
  nsis zip                                                   # installer and portable zip
  procps psmisc util-linux
)

as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

install_packages() {
  local missing=()
  for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  if [ ${#missing[@]} -gt 0 ]; then
    echo "setup: installing ${missing[*]}"
    as_root apt-get update -qq
    as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
  fi
}

prepare_wine_prefix() {
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "setup: creating the Wine prefix in $WINEPREFIX"
    mkdir -p "$WINEPREFIX"
    "${dirshift_wine_launcher[@]}" wineboot -i >/dev/null 2>&1 || true
    wineserver -w
  fi
  # Caption buttons are drawn with Marlett, which Wine 8 only finds in the prefix.
  local fonts="$WINEPREFIX/drive_c/windows/Fonts"
  if [ -f /usr/share/wine/fonts/marlett.ttf ] && [ ! -f "$fonts/marlett.ttf" ]; then
    mkdir -p "$fonts" && cp /usr/share/wine/fonts/marlett.ttf "$fonts/"
  fi
}

# Tests of read-only files and denied access need Wine as an ordinary user (Wine
# run as root passes every file-mode check): a user of its own with a prefix of its
# own beside the build's; tools/wine-run-user runs a test program as that user.
prepare_test_user() {
  local user="${DIRSHIFT_TEST_USER:-dirshift-tester}"
  [ "$(id -u)" -eq 0 ] || return 0
  id "$user" >/dev/null 2>&1 || useradd --create-home --shell /usr/sbin/nologin "$user" ||
    { echo "setup: could not create the test user $user" >&2; return 0; }
  local prefix="$DIRSHIFT_BUILD_DIR/wine-user"
  if [ ! -f "$prefix/system.reg" ]; then
    echo "setup: creating the Wine prefix of $user in $prefix"
    mkdir -p "$prefix" && chown "$user:" "$prefix"
    runuser -u "$user" -- env HOME="$(getent passwd "$user" | cut -d: -f6)" WINEPREFIX="$prefix" \
      WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" \
      "${dirshift_wine_launcher[@]}" sh -c 'wineboot -i >/dev/null 2>&1; wineserver -w' </dev/null || true
  fi
}

build() {
  local dir="$DIRSHIFT_BUILD_DIR"
  if [ ! -f "$dir/CMakeCache.txt" ]; then
    cmake -S "$root" -B "$dir" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
          -DCMAKE_BUILD_TYPE=Release
  fi
  cmake --build "$dir" -j "$(nproc)" "$@"
}

case "${1:-}" in
  "") program_only= ;;
  --program) program_only=1 ;;
  *) echo "usage: $0 [--program]" >&2; exit 2 ;;
esac

install_packages
prepare_wine_prefix
if [ -n "$program_only" ]; then
  build --target dirshift
else
  build
  prepare_test_user
fi
