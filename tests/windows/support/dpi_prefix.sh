#!/usr/bin/env bash
# Runs a test in a private Wine prefix whose display has DPI dots per inch, with the expected dpi
# in VARNET_TEST_DPI: dpi_prefix.sh DPI WINE TEST_EXE [ARGS...]. Wine reads LogPixels when a
# process starts, so the shared prefix cannot change it for one test; a copy, made once, can.
# VARNET_TEST_THEME=none: in a copy of its own, without the visual style Wine 8 has on by default.
set -u
dpi=$1 wine=$2 exe=$3
shift 3
export WINEPREFIX=$(dirname "$(cd "$(dirname "$exe")" && pwd)")/dpi-prefix${VARNET_TEST_THEME:+-$VARNET_TEST_THEME}
source "$(dirname "${BASH_SOURCE[0]}")/../../../scripts/lib/wine.sh"
setup_wine_prefix || exit 1
# A screen of its own, as large as a display at that scale: Wine keeps windows within the screen.
XVFB_SCREEN=2048x1536x24 start_xvfb || exit 1
trap 'wineserver -k >/dev/null 2>&1; stop_xvfb' EXIT
# The server's helper processes get /dev/null, never the test runner's pipe.
wineserver -p >/dev/null 2>&1 </dev/null
"$wine" reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$dpi" /f >/dev/null 2>&1 </dev/null
[ "${VARNET_TEST_THEME:-}" == none ] && "$wine" reg add 'HKCU\Software\Microsoft\Windows\CurrentVersion\ThemeManager' \
  /v ThemeActive /d 0 /f >/dev/null 2>&1 </dev/null
VARNET_TEST_DPI=$dpi "$wine" "$exe" "$@"
