# Sourced by the project's scripts: where the Wine prefix lives and how Wine runs.
dirshift_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
export WINEPREFIX="${DIRSHIFT_WINEPREFIX:-$dirshift_root/build/wine}"
export WINEDEBUG="${WINEDEBUG:--all}"
# No Mono or Gecko installer dialogs on a fresh prefix.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
export WINEARCH=win64
