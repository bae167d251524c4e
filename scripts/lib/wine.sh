# Shared by the scripts: a private Wine prefix under build/, a private Xvfb display, cleanup by PID.
# Source it; it defines functions and exports the Wine environment.

ROOT=${ROOT:-$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)}
export WINEPREFIX=${WINEPREFIX:-$ROOT/build/wineprefix}
export WINEARCH=win64
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="

XVFB_PID=""
WINESERVER_STARTED=""

# Starts Xvfb on the first free display from :90 on and exports DISPLAY.
start_xvfb() {
  local n
  for n in $(seq 90 140); do
    [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ] && continue
    Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
    XVFB_PID=$!
    local i
    for i in $(seq 1 100); do
      [ -e "/tmp/.X11-unix/X$n" ] && break
      kill -0 "$XVFB_PID" 2>/dev/null || break
      sleep 0.1
    done
    if [ -e "/tmp/.X11-unix/X$n" ] && kill -0 "$XVFB_PID" 2>/dev/null; then
      export DISPLAY=":$n"
      return 0
    fi
    kill "$XVFB_PID" 2>/dev/null || true
    XVFB_PID=""
  done
  echo "could not start Xvfb" >&2
  return 1
}

stop_xvfb() {
  if [ -n "$XVFB_PID" ]; then
    kill "$XVFB_PID" 2>/dev/null || true
    wait "$XVFB_PID" 2>/dev/null || true
    XVFB_PID=""
  fi
}

# Creates the prefix once. Without a window manager Wine stalls after every dialog unless
# its X11 driver is told the windows are unmanaged.
# This Wine does not load its own fonts from /usr/share/wine/fonts; from the prefix's Fonts
# folder it does, and then captions and dialogs look as on Windows.
install_wine_fonts() {
  local font fonts="$WINEPREFIX/drive_c/windows/Fonts"
  [ -d "$fonts" ] || return 0
  for font in marlett tahoma tahomabd; do
    if [ -f "/usr/share/wine/fonts/$font.ttf" ] && [ ! -f "$fonts/$font.ttf" ]; then
      cp "/usr/share/wine/fonts/$font.ttf" "$fonts/"
    fi
  done
}

setup_wine_prefix() {
  if [ -f "$WINEPREFIX/.varnet-ready" ]; then
    install_wine_fonts
    return 0
  fi
  mkdir -p "$WINEPREFIX"
  wineboot --init >/dev/null 2>&1 </dev/null
  wineserver -w
  wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1 </dev/null
  wineserver -w
  install_wine_fonts
  touch "$WINEPREFIX/.varnet-ready"
}

# A persistent wineserver makes each Wine start fast. Its helper processes are started here
# with output to /dev/null, so they never hold a pipe that a test runner waits on.
start_wineserver() {
  wineserver -p >/dev/null 2>&1 </dev/null
  wine cmd /c exit >/dev/null 2>&1 </dev/null || true
  WINESERVER_STARTED=1
}

stop_wineserver() {
  if [ -n "$WINESERVER_STARTED" ]; then
    wineserver -k >/dev/null 2>&1 || true
    WINESERVER_STARTED=""
  fi
}
