#!/usr/bin/env bash
# Runs the drive-search test in a private Wine prefix whose only drives are C: and a scratch D:.
# ctest puts it in front of the test as its emulator: launch_drives.sh WINE TEST_EXE [ARGS...]
#
# A normal prefix maps Z: to the whole Linux file system and links the shell folders under
# C:\users to $HOME, so a walk of C: to Z: would read the machine. This prefix has neither.
# It is made once beside the build's bin directory and reused; the drives are reset every run.
set -u
wine=$1 exe=$2
shift 2
bin=$(cd "$(dirname "$exe")" && pwd)
build=$(dirname "$bin")
export WINEPREFIX=$build/launch-drives-prefix
export WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

# A copy of the build's template prefix, made once; its drives are changed below.
make_prefix() {
  source "$(dirname "${BASH_SOURCE[0]}")/../../../scripts/lib/wine.sh"
  setup_wine_prefix
}

# Only c: stays; d: is a fresh tree holding a link loop: D:\Loop\Back is D:\Loop again.
reset_drives() {
  local entry
  for entry in "$WINEPREFIX"/dosdevices/*; do
    [ "$(basename "$entry")" = "c:" ] || rm -f "$entry"
  done
  mkdir -p "$tree/Loop"
  ln -s . "$tree/Loop/Back"
  ln -s "$tree" "$WINEPREFIX/dosdevices/d:"
  while IFS= read -r -d '' entry; do
    rm -f "$entry" && mkdir "$entry"
  done < <(find "$WINEPREFIX/drive_c/users" -maxdepth 2 -type l -print0)
}

# Leftovers of an earlier run would be found by the search on C:.
reset_drive_c() {
  local drive_c=$WINEPREFIX/drive_c
  rm -rf "$drive_c/Games" "$drive_c/varnet-test" "$drive_c"/users/*/Temp/* "$drive_c"/users/*/AppData/Local/Temp/*
  mkdir -p "$drive_c/varnet-test"
  cp "$exe" "$drive_c/varnet-test/" || return 1
  # Not under the game's name, or the search would find it on C:.
  cp "$bin/quake2.exe" "$drive_c/varnet-test/standin.exe" || return 1
  cp "$bin/VarnetBrowser.exe" "$drive_c/varnet-test/" || return 1
}

stop_private_wine() {
  wineserver -k >/dev/null 2>&1 || true
  rm -f "$WINEPREFIX/dosdevices/d:"
  rm -rf "$tree"
}

make_prefix || exit 1
tree=$(mktemp -d "$build/launch-drives-tree.XXXXXX")
trap stop_private_wine EXIT
# Before any Wine process starts: its mount manager reads the drive list only once. A server
# left over from an interrupted run would still hold the old list.
wineserver -k >/dev/null 2>&1 || true
reset_drives
reset_drive_c || exit 1
# The private server's helper processes get /dev/null, never the test runner's pipe.
wineserver -p >/dev/null 2>&1 </dev/null
"$wine" cmd /c exit >/dev/null 2>&1 </dev/null
export VARNET_STANDIN='C:\varnet-test\standin.exe' VARNET_BROWSER='C:\varnet-test\VarnetBrowser.exe'
"$wine" "C:\\varnet-test\\$(basename "$exe")" "$@"
status=$?
exit $status
