#!/usr/bin/env bash
# End-to-end: closing the real browser with the caption's close box and with Alt+F4 saves its state and exits with 0; so
# does the end of the session, once. The MasterURL value, good and bad. The per-user cache file when the start-up folder's
# can't be written, and a cache file another program holds. A second start.
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
master_requests() { grep -c "http GET" "$1" 2>/dev/null; }
open_dialogs() { probe windows | tr -d '\r' | awk -F'\t' '$2 == "#32770" && $3 == 1'; }

# A second master on another port, serving the same servers from a file: the address a player
# sets in MasterURL. It ends by itself after its lifetime, or by its PID.
MIRROR_PORT=27917 MIRROR_PID=""
MIRROR_URL="http://127.0.0.1:$MIRROR_PORT/servers.txt?from=MasterURL"
mirror_start() {
  local entry
  for entry in "${SERVERS[@]}"; do echo "127.0.0.1:${entry%%|*}"; done >"$WORK/mirror.txt"
  rm -f "$WORK/mirror.ready"
  "$LAB" --master "port=$MIRROR_PORT,file=$WORK/mirror.txt" --lifetime 120 --ready "$WORK/mirror.ready" \
    --log "$WORK/mirror.log" >/dev/null 2>&1 &
  MIRROR_PID=$!
  for _ in $(seq 1 100); do
    [ -s "$WORK/mirror.ready" ] && return 0
    sleep 0.05
  done
  fatal "the mirror master did not start"
}
mirror_stop() {
  kill "$MIRROR_PID" 2>/dev/null
  wait "$MIRROR_PID" 2>/dev/null
  MIRROR_PID=""
}

# Update: the lab's master gets one request and the dialog is gone again (it closes itself
# after a merge).
update_and_wait() {
  local after=$(($(master_requests "$WORK/lab.log") + 1))
  probe press 142 || fatal "could not press Update"
  [ "$(wait_output 20000 "$after" master_requests "$WORK/lab.log")" == "$after" ] || fatal "no request at the lab's master"
  [ -z "$(wait_output 20000 "" open_dialogs)" ] || fatal "the update dialog stayed open: $(probe dialog-get 1004)"
}

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

# The list comes from the master that MasterURL names, not from the built-in address.
close_box() {
  wine reg add "$SETTINGS_KEY" /v MasterURL /t REG_SZ /d "$MIRROR_URL" /f /reg:32 >/dev/null 2>&1 </dev/null
  mirror_start
  browser_start "$RUN" "$WORK/browser1.log"
  probe wait-status 0 "No servers" $START_LIMIT_MS >/dev/null || fatal "no first-start hint"
  probe press 142 || fatal "could not press Update"
  check_eq "close box: pass after Update" "$COMPLETED" "$(probe wait-status 0 Completed. $PASS_LIMIT_MS | tr -d '\r')"
  check_eq "MasterURL: the request the other master logged" "/servers.txt?from=MasterURL" \
    "$(grep -o 'http GET [^ ]*' "$WORK/mirror.log" | cut -d' ' -f3)"
  check_eq "MasterURL: no request at the built-in address" "0" "$(master_requests "$WORK/lab.log")"
  mirror_stop
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

# A MasterURL of another scheme is ignored: Update goes to the built-in address, and the value
# stays as it was set.
alt_f4() {
  local bad="ftp://127.0.0.1:$MIRROR_PORT/servers.txt"
  wine reg add "$SETTINGS_KEY" /v MasterURL /t REG_SZ /d "$bad" /f /reg:32 >/dev/null 2>&1 </dev/null
  WINEDEBUG=+debugstr browser_start "$RUN" "$WORK/browser2.log"
  check_eq "Alt+F4: pass of the cached servers" "$COMPLETED" "$(probe wait-status 0 Completed. $PASS_LIMIT_MS | tr -d '\r')"
  check_eq "bad MasterURL: one debug line" "1" "$(grep -c 'MasterURL ignored' "$WORK/browser2.log")"
  update_and_wait
  check_eq "bad MasterURL: Update went to the built-in address" "1" "$(master_requests "$WORK/lab.log")"
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
  check_eq "Alt+F4: MasterURL as it was set" "REG_SZ    $bad" "$(registry_value "$SETTINGS_KEY" MasterURL /reg:32)"
}

browser_width() { probe rect | tr -d '\r' | cut -d' ' -f3; }  # a minimised window is narrower

# A second start brings the minimised first browser back and ends with 0, having saved nothing.
# At the end of the session the Restart Manager (ENDSESSION_CLOSEAPP), like Wine, does not end
# the process: the browser saves once and ends by itself with 0.
end_session() {
  local width
  browser_start "$RUN" "$WORK/browser3.log"
  check_eq "end of session: pass of the cached servers" "$COMPLETED" "$(probe wait-status 0 Completed. $PASS_LIMIT_MS | tr -d '\r')"
  configure dialog-set 1014 q2session.exe
  rm -f "$RUN/kestrel.cache"
  width=$(browser_width)
  probe send 274 61472 0 >/dev/null  # WM_SYSCOMMAND, SC_MINIMIZE
  check_eq "minimised" "yes" "$([ "$(browser_width)" != "$width" ] && echo yes || echo no)"
  check_eq "second start: exit code" "0" "$(cd "$RUN" && timeout 30 wine "$EXE" &>/dev/null </dev/null; echo $?)"
  check_eq "second start: the first browser restored" "$width" "$(wait_output 5000 "$width" browser_width)"
  check_eq "second start: the only browser window" "1" "$(xdotool search --onlyvisible --name "^Varnet Server Browser\$" | wc -l)"
  check_eq "second start: no cache file" "missing" "$(cache_size "$RUN/kestrel.cache")"
  check_eq "second start: registry q2Exe unchanged" "REG_SZ    q2close.exe" "$(registry_value "$SETTINGS_KEY" q2Exe /reg:32)"
  check_eq "WM_QUERYENDSESSION: TRUE" "1" "$(probe send 17 0 0 | tr -d '\r')"
  check_eq "WM_ENDSESSION FALSE: answered 0" "0" "$(probe send 22 0 0 | tr -d '\r')"
  check_eq "WM_ENDSESSION FALSE: no cache file" "missing" "$(cache_size "$RUN/kestrel.cache")"
  check_eq "WM_ENDSESSION FALSE: registry q2Exe unchanged" "REG_SZ    q2close.exe" "$(registry_value "$SETTINGS_KEY" q2Exe /reg:32)"
  check_eq "WM_ENDSESSION TRUE, ENDSESSION_CLOSEAPP: answered 0" "0" "$(probe send 22 1 1 | tr -d '\r')"
  browser_wait_exit
  check_eq "WM_ENDSESSION TRUE: ended by itself with 0" "0" "$BROWSER_EXIT"
  check_eq "WM_ENDSESSION TRUE: cache file size" "$CACHE_BYTES" "$(cache_size "$RUN/kestrel.cache")"
  check_eq "WM_ENDSESSION TRUE: registry q2Exe" "REG_SZ    q2session.exe" "$(registry_value "$SETTINGS_KEY" q2Exe /reg:32)"
}

# A start-up folder whose kestrel.cache can't be written, as Program Files is for a standard
# user (here a directory of that name): the per-user file takes the table, is loaded at the
# next start, and is kept up to date, also once the start-up folder can be written again.
# Last, as from now on the per-user file is the one every start loads.
per_user_cache() {
  local run=$WORK/run-unwritable user_cache before
  user_cache=$(user_cache_file)
  mkdir -p "$run/kestrel.cache"
  browser_start "$run" "$WORK/browser4.log"
  probe wait-status 0 "No servers" $START_LIMIT_MS >/dev/null || fatal "no first-start hint in $run"
  update_and_wait
  probe wait-status 0 Completed. $PASS_LIMIT_MS >/dev/null || fatal "no pass after Update"
  probe press 140 || fatal "could not press Exit"
  browser_wait_exit
  check_eq "per-user cache: exit code" "0" "$BROWSER_EXIT"
  check_eq "per-user cache: written on Exit" "$CACHE_BYTES" "$(cache_size "$user_cache")"
  check_eq "per-user cache: record 0 port" "${SERVERS[0]%%|*}" "$(od -An -tu2 -j256 -N2 "$user_cache" | tr -d ' ')"
  before=$(master_requests "$WORK/lab.log")
  browser_start "$run" "$WORK/browser5.log"
  check_eq "per-user cache: loaded at the next start" "$COMPLETED" "$(probe wait-status 0 Completed. $PASS_LIMIT_MS | tr -d '\r')"
  check_eq "per-user cache: no master request" "$before" "$(master_requests "$WORK/lab.log")"
  rmdir "$run/kestrel.cache"
  : >"$user_cache"  # so only this run's save can fill it again
  probe press 140 || fatal "could not press Exit"
  browser_wait_exit
  check_eq "per-user cache: kept up to date" "$CACHE_BYTES" "$(cache_size "$user_cache")"
  check_eq "per-user cache: the start-up folder's file too, once it can be written" "$CACHE_BYTES" \
    "$(cache_size "$run/kestrel.cache")"
  check_eq "per-user cache: the same bytes as the start-up folder's" "same" \
    "$(cmp -s "$user_cache" "$run/kestrel.cache" && echo same || echo different)"
}

# Another program holds kestrel.cache for a moment: without delete sharing for half a second
# around Exit (the save waits it out and still lands in the start-up folder), and with no
# sharing while the browser starts (the run then never writes over the table it couldn't read).
held_cache() {
  local user_cache hold_pid file=$RUN/kestrel.cache
  user_cache=$(user_cache_file)
  browser_start "$RUN" "$WORK/browser6.log"
  probe wait-status 0 Completed. $PASS_LIMIT_MS >/dev/null || fatal "held: no pass of the cached servers"
  : >"$file"
  probe hold "$(windows_path "$file")" read 500 140 >/dev/null || fatal "held: could not hold the file and press Exit"
  browser_wait_exit
  check_eq "held 0.5 s at Exit: exit code" 0 "$BROWSER_EXIT"
  check_eq "held 0.5 s at Exit: the start-up file has the new table" "$CACHE_BYTES" "$(cache_size "$file")"
  check_eq "held 0.5 s at Exit: no per-user file" missing "$(cache_size "$user_cache")"
  cp "$file" "$WORK/held.cache"
  : >"$WORK/hold.out"
  (probe hold "$(windows_path "$file")" none 8000 >"$WORK/hold.out") &
  hold_pid=$!
  [ "$(wait_output 10000 held cat "$WORK/hold.out")" == held ] || fatal "held at start: the file was not held"
  browser_start "$RUN" "$WORK/browser7.log"
  probe wait-status 0 "No servers" $START_LIMIT_MS >/dev/null || fatal "held at start: no first-start hint"
  kill -0 "$hold_pid" 2>/dev/null || fatal "held at start: the hold ended before the browser had started"
  wait "$hold_pid"
  probe press 140 || fatal "could not press Exit"
  browser_wait_exit
  check_eq "held at start: exit code" 0 "$BROWSER_EXIT"
  check_eq "held at start: the file keeps its table" same "$(cmp -s "$WORK/held.cache" "$file" && echo same || echo different)"
  check_eq "held at start: no per-user file" missing "$(cache_size "$user_cache")"
}

close_box
alt_f4
end_session
held_cache
per_user_cache
