#!/usr/bin/env bash
# End-to-end: closing the real browser with the caption's close box and with Alt+F4 saves its state and exits with 0.
# usage: close.sh EXE PROBE FAKEGAME LAB
set -u
source "$(dirname "$0")/lib.sh"
e2e_init close "$@"

# port|host|delay ms
SERVERS=(
  "28420|Close Box Arena|30"
  "28421|Keyboard Corner|120"
  "28422|Quiet Place|silent"
)
ANSWERING=0
{
  echo "master port=27900"
  for entry in "${SERVERS[@]}"; do
    IFS='|' read -r port host delay <<<"$entry"
    if [ "$delay" == silent ]; then
      echo "port=$port host=\"$host\" mode=silent"
    else
      echo "port=$port host=\"$host\" delay=$delay players=\"Ann/3/40\""
      ANSWERING=$((ANSWERING + 1))
    fi
  done
} >"$WORK/lab.conf"
TOTAL=${#SERVERS[@]}
COMPLETED="Completed. $ANSWERING of $TOTAL servers responded."
CACHE_BYTES=$((TOTAL * 2328))
RUN=$WORK/run
mkdir -p "$RUN"
lab_start "$WORK/lab.conf"

SETTINGS_KEY='HKLM\SOFTWARE\tallow\Varnet Server Browser'

# Opens Config, applies the given probe dialog commands, presses OK and waits for the dialog to go.
configure() {
  probe press 161 || fatal "could not press Config"
  probe dialog "Miscellaenous Configuration" 10000 >/dev/null || fatal "no configuration dialog"
  while [ $# -gt 0 ]; do
    probe "$1" "$2" "$3" >/dev/null || fatal "dialog step $1 $2 failed"
    shift 3
  done
  probe dialog-press 1 || fatal "could not press OK"
  for _ in $(seq 1 50); do
    probe windows | tr -d '\r' | awk -F'\t' '$2 == "#32770" && $3 == 1' | grep -q . || return 0
    sleep 0.1
  done
  fatal "the configuration dialog stayed open"
}

close_box() {
  browser_start "$RUN" "$WORK/browser1.log"
  probe wait-status 0 "No servers" $START_LIMIT_MS >/dev/null || fatal "no first-start hint"
  probe press 142 || fatal "could not press Update"
  check_eq "close box: pass after Update" "$COMPLETED" "$(probe wait-status 0 Completed. $PASS_LIMIT_MS | tr -d '\r')"
  configure dialog-set 1014 q2close.exe
  local point
  point=$(probe closebox-point) || fatal "no close box"
  xdotool mousemove $point click 1
  browser_wait_exit
  check_eq "close box: exit code" "0" "$BROWSER_EXIT"
  check_eq "close box: cache file size" "$CACHE_BYTES" "$(cache_size "$RUN/kestrel.cache")"
  check_eq "close box: registry q2Exe" "REG_SZ    q2close.exe" "$(registry_value "$SETTINGS_KEY" q2Exe /reg:32)"
  check_eq "close box: registry Q2Dir" "REG_SZ    " "$(registry_value "$SETTINGS_KEY" Q2Dir /reg:32)"
}

alt_f4() {
  browser_start "$RUN" "$WORK/browser2.log"
  check_eq "Alt+F4: pass of the cached servers" "$COMPLETED" "$(probe wait-status 0 Completed. $PASS_LIMIT_MS | tr -d '\r')"
  configure dialog-set 1013 'C:\Games\Quake2' dialog-check 1012 2
  rm -f "$RUN/kestrel.cache"  # so the file after the exit can only come from this run's save
  local point
  point=$(probe window-point) || fatal "no point in the window"
  click_at $point
  xdotool key alt+F4
  browser_wait_exit
  check_eq "Alt+F4: exit code" "0" "$BROWSER_EXIT"
  check_eq "Alt+F4: cache file size" "$CACHE_BYTES" "$(cache_size "$RUN/kestrel.cache")"
  check_eq "Alt+F4: registry Q2Dir" 'REG_SZ    C:\Games\Quake2\' "$(registry_value "$SETTINGS_KEY" Q2Dir /reg:32)"
  check_eq "Alt+F4: registry q2Exe kept" "REG_SZ    q2close.exe" "$(registry_value "$SETTINGS_KEY" q2Exe /reg:32)"
  check_eq "Alt+F4: registry Alt. Startup Method" "REG_DWORD    0x2" \
    "$(registry_value "$SETTINGS_KEY" "Alt. Startup Method" /reg:32)"
}

close_box
alt_f4
