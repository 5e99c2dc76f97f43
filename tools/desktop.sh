# shellcheck shell=bash
# Sourced: runs dirshift.exe in a Wine virtual desktop on an X display (a private
# Xvfb, see display.sh) and works it as a user would: waits for its windows by
# their captions, presses keys, and takes screenshots. Wine draws frames and
# captions itself inside its desktop, as Windows does, which a bare Xvfb lacks.
# Needs wine-env.sh sourced and $DISPLAY set.

dirshift_desktop_size=1024x768
# The captions of the program's windows: its two faces, and its message boxes
# (the start-up warning among them).
# shellcheck disable=SC2034 # used by the scripts that source this one
dirshift_caption_relocation='Move folder to different drive and place hard link (junction) ...'
# shellcheck disable=SC2034
dirshift_caption_manager='Manage and find junctions (hard links)'
# shellcheck disable=SC2034
dirshift_caption_message='Dirshift'

# dirshift_desktop_start EXE [ARGUMENTS...]: starts the program in the desktop, in
# the background; its desktop's process id is left in dirshift_desktop_pid.
dirshift_desktop_start() {
  wine explorer "/desktop=Dirshift,$dirshift_desktop_size" "$@" </dev/null >/dev/null 2>&1 &
  dirshift_desktop_pid=$!
}

# Waits (up to $1 seconds) for the desktop to close by itself, which it does once
# the program has ended; then ends whatever of this prefix's Wine is left.
dirshift_desktop_stop() {
  local pid=${dirshift_desktop_pid:-} tenths=$(( ${1:-0} * 10 ))
  if [ -n "$pid" ]; then
    while [ "$tenths" -gt 0 ] && kill -0 "$pid" 2>/dev/null; do
      sleep 0.1
      tenths=$((tenths - 1))
    done
  fi
  wineserver -k </dev/null >/dev/null 2>&1 || true
  [ -z "$pid" ] || wait "$pid" 2>/dev/null || true
  dirshift_desktop_pid=
}

# The program's windows that are on the screen now, one a line: its X window id
# and its caption. Wine gives each top-level window of a desktop an X window of its
# own, named by the caption and classed by the program's file name.
dirshift_window_list() {
  local id title
  xwininfo -root -tree 2>/dev/null |
    sed -n 's/^ *\(0x[0-9a-f]*\) "\(.*\)": ("dirshift\.exe" .*/\1 \2/p' |
    while read -r id title; do
      if dirshift_id_shown "$id"; then printf '%s %s\n' "$id" "$title"; fi
    done
}

dirshift_id_shown() {
  [[ $(xwininfo -id "$1" 2>/dev/null) == *'Map State: IsViewable'* ]]
}
dirshift_id_gone() { ! dirshift_id_shown "$1"; }

# The captions alone.
dirshift_windows() {
  dirshift_window_list | cut -d' ' -f2-
}

# The id of a window on the screen with this caption (empty when there is none).
dirshift_window_id() {
  local id title
  while read -r id title; do
    if [ "$title" = "$1" ]; then
      echo "$id"
      return 0
    fi
  done < <(dirshift_window_list)
}

dirshift_window_shown() {
  local windows
  windows=$(dirshift_windows)
  grep -qxF -- "$1" <<<"$windows"
}

# dirshift_wait SECONDS COMMAND...: true as soon as COMMAND is, false when it is
# still false after that many seconds.
dirshift_wait() {
  local tenths=$(( $1 * 10 ))
  shift
  until "$@"; do
    [ "$tenths" -gt 0 ] || return 1
    sleep 0.1
    tenths=$((tenths - 1))
  done
}

dirshift_any_window() { [ -n "$(dirshift_windows)" ]; }

# A window is on the screen before it has painted everything: the picture waits
# this long.
dirshift_settle() { sleep "${DIRSHIFT_SHOT_SETTLE:-1}"; }

# dirshift_shoot FILE: the desktop, trimmed to the windows on it (its plain
# background goes, a small white margin stays).
dirshift_shoot() {
  local raw
  raw=$(mktemp --suffix=.miff)
  import -display "$DISPLAY" -window root "$raw"
  convert "${raw}[0]" -crop "$dirshift_desktop_size+0+0" +repage -trim +repage \
          -bordercolor white -border 12 "$1"
  rm -f "$raw"
}

# The characters that dirshift_press can type, besides letters and digits.
dirshift_typable() {
  local pattern='^[][A-Za-z0-9 .,:\/_()'"'"'+=@#$%&!~-]*$'
  [[ $1 =~ $pattern ]]
}

# Presses keys on the display through the XTest extension (Xvfb has it), with the
# pointer over the Wine desktop so the keys reach it. Each argument is an X key
# name (Return, Tab, Escape), text:<characters> to type (see dirshift_typable), or
# a chord of modifiers and a key held together (Alt_L+b).
dirshift_press() {
  python3 - "$@" <<'PY'
import ctypes, sys, time
x11 = ctypes.cdll.LoadLibrary("libX11.so.6")
xtst = ctypes.cdll.LoadLibrary("libXtst.so.6")
x11.XOpenDisplay.restype = ctypes.c_void_p
x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
x11.XStringToKeysym.restype = ctypes.c_ulong
x11.XStringToKeysym.argtypes = [ctypes.c_char_p]
x11.XKeysymToKeycode.restype = ctypes.c_ubyte
x11.XKeysymToKeycode.argtypes = [ctypes.c_void_p, ctypes.c_ulong]
x11.XkbKeycodeToKeysym.restype = ctypes.c_ulong
x11.XkbKeycodeToKeysym.argtypes = [ctypes.c_void_p, ctypes.c_ubyte, ctypes.c_int, ctypes.c_int]
x11.XFlush.argtypes = [ctypes.c_void_p]
xtst.XTestFakeKeyEvent.argtypes = [ctypes.c_void_p, ctypes.c_uint, ctypes.c_int, ctypes.c_ulong]
xtst.XTestFakeMotionEvent.argtypes = [ctypes.c_void_p, ctypes.c_int, ctypes.c_int, ctypes.c_int, ctypes.c_ulong]
display = x11.XOpenDisplay(None)
if not display:
    sys.exit("cannot open the display")
names = {":": "colon", "\\": "backslash", " ": "space", ".": "period", "-": "minus", "_": "underscore",
         "/": "slash", ",": "comma", "(": "parenleft", ")": "parenright", "'": "apostrophe", "+": "plus",
         "=": "equal", "@": "at", "#": "numbersign", "$": "dollar", "%": "percent", "&": "ampersand",
         "!": "exclam", "~": "asciitilde", "[": "bracketleft", "]": "bracketright"}
shift = x11.XKeysymToKeycode(display, x11.XStringToKeysym(b"Shift_L"))

def key(name):
    keysym = x11.XStringToKeysym(name.encode())
    code = x11.XKeysymToKeycode(display, keysym) if keysym else 0
    if code == 0:
        sys.exit("no key types %r" % name)
    shifted = x11.XkbKeycodeToKeysym(display, code, 0, 0) != keysym
    if shifted:
        xtst.XTestFakeKeyEvent(display, shift, 1, 0)
    xtst.XTestFakeKeyEvent(display, code, 1, 0)
    xtst.XTestFakeKeyEvent(display, code, 0, 0)
    if shifted:
        xtst.XTestFakeKeyEvent(display, shift, 0, 0)
    x11.XFlush(display)
    time.sleep(0.05)

def chord(names_held):
    codes = []
    for name in names_held:
        code = x11.XKeysymToKeycode(display, x11.XStringToKeysym(name.encode()))
        if code == 0:
            sys.exit("no key types %r" % name)
        codes.append(code)
    for code in codes:
        xtst.XTestFakeKeyEvent(display, code, 1, 0)
    for code in reversed(codes):
        xtst.XTestFakeKeyEvent(display, code, 0, 0)
    x11.XFlush(display)
    time.sleep(0.05)

xtst.XTestFakeMotionEvent(display, -1, 1000, 740, 0)
for argument in sys.argv[1:]:
    if argument.startswith("text:"):
        for c in argument[5:]:
            key(names.get(c, c))
    elif len(argument) > 1 and "+" in argument:
        chord(argument.split("+"))
    else:
        key(argument)
    time.sleep(0.2)
PY
}
