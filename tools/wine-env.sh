# Sourced by the project's scripts: where the build, the Wine prefix and the test
# display live, and how Wine runs. Each can be moved with an environment variable,
# so that several checkouts or developers can test side by side.
dirshift_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
export DIRSHIFT_BUILD_DIR="${DIRSHIFT_BUILD_DIR:-$dirshift_root/build}"
export WINEPREFIX="${DIRSHIFT_WINEPREFIX:-$DIRSHIFT_BUILD_DIR/wine}"
export WINEDEBUG="${WINEDEBUG:--all}"
# No Mono or Gecko installer dialogs on a fresh prefix.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
export WINEARCH=win64
