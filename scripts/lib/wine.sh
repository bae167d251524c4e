# Shared by the scripts: a private Wine prefix under build/, a private Xvfb display, cleanup by PID.
# Source it; it defines functions and exports the Wine environment.

ROOT=${ROOT:-$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)}
export WINEPREFIX=${WINEPREFIX:-$ROOT/build/wineprefix}
export WINEARCH=win64
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="

# Wine spells file names in the Unix locale's character set: under a plain ASCII one (a fresh
# system with no LANG) a folder named in Cyrillic or CJK has no name for it, and a program started
# there starts in C:\windows instead. C.UTF-8 ships with the C library.
if [ "$(locale charmap 2>/dev/null)" != "UTF-8" ]; then
  export LC_ALL=C.UTF-8
fi

XVFB_PID=""
WINESERVER_STARTED=""

# Starts Xvfb on a free display and exports DISPLAY. Xvfb picks the display itself and names
# it on a file descriptor once it listens there: a script that chose a number by looking for
# lock files could choose the same one as another script starting at the same moment, end up
# on that script's display, and lose its windows when that script stops its Xvfb.
start_xvfb() {
  local named i n=""
  named=$(mktemp)
  Xvfb -displayfd 3 -screen 0 "${XVFB_SCREEN:-1024x768x24}" -nolisten tcp 3>"$named" >/dev/null 2>&1 &
  XVFB_PID=$!
  for i in $(seq 1 100); do
    read -r n <"$named" && [ -n "$n" ] && break  # a whole line: Xvfb listens
    n=""
    kill -0 "$XVFB_PID" 2>/dev/null || break
    sleep 0.1
  done
  rm -f "$named"
  if [[ "$n" =~ ^[0-9]+$ ]] && kill -0 "$XVFB_PID" 2>/dev/null; then
    export DISPLAY=":$n"
    return 0
  fi
  stop_xvfb
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

# Without a window manager Wine stalls after every dialog unless its X11 driver is told the
# windows are unmanaged; the template prefix below is made so.
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

# wineboot takes half a minute on a loaded machine, so it runs once, for a template prefix
# under build/ that no program ever runs in; every prefix is a copy of it. A lock keeps two
# scripts from making the template at the same time. The ready mark names the Wine that made it:
# another Wine would update a prefix's DLLs in place, so a new Wine gets a new template.
WINE_TEMPLATE=$ROOT/build/wine-template
WINE_VERSION=$(wine --version 2>/dev/null </dev/null | head -n 1)

wine_ready() {  # PREFIX
  [ -f "$1/.varnet-ready" ] && [ "$(cat "$1/.varnet-ready")" == "$WINE_VERSION" ]
}

make_wine_template() {
  (
    flock 9
    wine_ready "$WINE_TEMPLATE" && exit 0
    rm -rf "$WINE_TEMPLATE"
    mkdir -p "$WINE_TEMPLATE"
    export WINEPREFIX=$WINE_TEMPLATE
    wineboot --init >/dev/null 2>&1 </dev/null
    wineserver -w
    wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1 </dev/null
    wineserver -w
    install_wine_fonts
    echo "$WINE_VERSION" >"$WINE_TEMPLATE/.varnet-ready"
  ) 9>"$ROOT/build/wine-template.lock"
}

# A prefix is 695 MB, nearly all of it program images and language tables that neither Wine nor
# a program writes: those are hard links to the template's, and only the rest (registry files,
# .ini files, users/, some 2 MB) is copied, so that a write in place (a profile string, say)
# changes this prefix alone. Wine saves its registry files by writing a new one and renaming it.
copy_wine_template() {
  cp -al "$WINE_TEMPLATE" "$WINEPREFIX" || return 1
  find "$WINEPREFIX" -type f ! \( -iname '*.dll' -o -iname '*.exe' -o -iname '*.nls' -o -iname '*.drv' \
    -o -iname '*.sys' -o -iname '*.ocx' -o -iname '*.acm' -o -iname '*.cpl' -o -iname '*.tlb' \
    -o -iname '*.ds' -o -iname '*.msstyles' -o -iname '*.ttf' \) -print0 |
    while IFS= read -r -d '' file; do
      cp -p "$file" "$file.copy" && mv -f "$file.copy" "$file" || exit 1
    done
}

setup_wine_prefix() {
  if wine_ready "$WINEPREFIX"; then
    install_wine_fonts
    return 0
  fi
  mkdir -p "$ROOT/build"
  make_wine_template || return 1
  rm -rf "$WINEPREFIX"
  mkdir -p "$(dirname "$WINEPREFIX")"
  copy_wine_template
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
