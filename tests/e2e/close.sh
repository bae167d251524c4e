#!/usr/bin/env bash
# End-to-end: closing the real browser with the caption's close box and with Alt+F4 saves its state and exits with 0; so
# does the end of the session, once. The MasterURL value, good and bad. The per-user cache file when the start-up folder's
# can't be written, and a cache file another program holds. A second start. The real master with lab servers announcing themselves to it, read by the browser,
# QStat and nginx.
# usage: close.sh EXE PROBE FAKEGAME LAB TEST_EXE   (TEST_EXE: a build of EXE whose built-in master
# address is http://127.0.0.1:28050/servers.txt, for the checks of MasterURL; varnet-master is
# taken from LAB's folder)
set -u
source "$(dirname "$0")/lib.sh"
TEST_EXE=$(realpath "${5:?usage: close.sh EXE PROBE FAKEGAME LAB TEST_EXE}")
e2e_init close "$1" "$2" "$3" "$4"

# port|host|delay ms
SERVERS=(
  "28420|Close Box Arena|30"
  "28421|Keyboard Corner|120"
  "28422|Quiet Place|silent"
)
ANSWERING=0
{
  echo "master port=28424"
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
use_lab_master 28424

SETTINGS_KEY='HKLM\SOFTWARE\tallow\Varnet Server Browser'
master_requests() { grep -c "http GET" "$1" 2>/dev/null; }
open_dialogs() { probe windows | tr -d '\r' | awk -F'\t' '$2 == "#32770" && $3 == 1'; }

# Two more masters serving the same servers from a file: the mirror, on another port, is the
# address a player sets in MasterURL; the built-in one is on the test build's built-in address.
# That port is the same for every run, so one run at a time takes it, under a lock. Each ends by
# itself after its lifetime, or by its PID.
MIRROR_PORT=$(lab_port 28425) BUILTIN_PORT=28050
MIRROR_URL="http://127.0.0.1:$MIRROR_PORT/servers.txt?from=MasterURL"
declare -A MASTER_PID
master_start() {  # NAME PORT
  local entry
  for entry in "${SERVERS[@]}"; do echo "127.0.0.1:$(lab_port "${entry%%|*}")"; done >"$WORK/$1.txt"
  rm -f "$WORK/$1.ready"
  "$LAB" --master "port=$2,file=$WORK/$1.txt" --lifetime 120 --ready "$WORK/$1.ready" --log "$WORK/$1.log" \
    >/dev/null 2>&1 &
  MASTER_PID[$1]=$!
  for _ in $(seq 1 100); do
    [ -s "$WORK/$1.ready" ] && return 0
    sleep 0.05
  done
  fatal "the $1 master did not start: $(tail -n 1 "$WORK/$1.log" 2>/dev/null)"
}
master_stop() {  # NAME
  kill "${MASTER_PID[$1]}" 2>/dev/null
  wait "${MASTER_PID[$1]}" 2>/dev/null
}
builtin_start() {
  exec {BUILTIN_LOCK}>>/tmp/varnet-ports.builtin.lock
  flock -w 600 "$BUILTIN_LOCK" || fatal "another run held the test build's master port for 10 minutes"
  master_start builtin $BUILTIN_PORT
}
builtin_stop() {
  master_stop builtin
  exec {BUILTIN_LOCK}>&-
}

# Update: the master whose log is LOG (the lab's by default) gets one request and the dialog is
# gone again (it closes itself after a merge).
update_and_wait() {  # [LOG]
  local log=${1:-$WORK/lab.log} after
  after=$(($(master_requests "$log") + 1))
  probe press 142 || fatal "could not press Update"
  [ "$(wait_output 20000 "$after" master_requests "$log")" == "$after" ] || fatal "no request at the master of $log"
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
  master_start mirror "$MIRROR_PORT"
  builtin_start
  EXE=$TEST_EXE browser_start "$RUN" "$WORK/browser1.log"
  probe wait-status 0 "No servers" $START_LIMIT_MS >/dev/null || fatal "no first-start hint"
  probe press 142 || fatal "could not press Update"
  check_eq "close box: pass after Update" "$COMPLETED" "$(probe wait-status 0 Completed. $PASS_LIMIT_MS | tr -d '\r')"
  check_eq "MasterURL: the request the other master logged" "/servers.txt?from=MasterURL" \
    "$(grep -o 'http GET [^ ]*' "$WORK/mirror.log" | cut -d' ' -f3)"
  check_eq "MasterURL: no request at the built-in address" "0" "$(master_requests "$WORK/builtin.log")"
  master_stop mirror
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
  EXE=$TEST_EXE WINEDEBUG=+debugstr browser_start "$RUN" "$WORK/browser2.log"
  check_eq "Alt+F4: pass of the cached servers" "$COMPLETED" "$(probe wait-status 0 Completed. $PASS_LIMIT_MS | tr -d '\r')"
  check_eq "bad MasterURL: one debug line" "1" "$(grep -c 'MasterURL ignored' "$WORK/browser2.log")"
  update_and_wait "$WORK/builtin.log"
  check_eq "bad MasterURL: Update went to the built-in address" "1" "$(master_requests "$WORK/builtin.log")"
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
  builtin_stop
  use_lab_master 28424
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
  check_eq "per-user cache: record 0 port" "$(lab_port "${SERVERS[0]%%|*}")" "$(od -An -tu2 -j256 -N2 "$user_cache" | tr -d ' ')"
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

# The real master: lab servers announce themselves to varnet-master, which checks each and
# publishes the list to the browser's Update (through MasterURL), to QStat over UDP and, as the
# file it writes, to nginx. A server that starts is listed; one that quits or crashes leaves it;
# a heartbeat from a port where nothing answers and a server of another mod never get in.
DAEMON=$(dirname "$LAB")/varnet-master DAEMON_DIR=$WORK/master DAEMON_PID=""
STAY_PORTS=("$(lab_port 28430)" "$(lab_port 28431)") QUIT_PORT=$(lab_port 28432) CRASH_PORT=$(lab_port 28433)
STAY_PID="" QUIT_PID="" CRASH_PID=""
source "$E2E_ROOT/scripts/lib/nginx.sh"

stop_pid() {  # PID [SIGNAL]
  [ -n "$1" ] || return 0
  kill "-${2:-TERM}" "$1" 2>/dev/null
  wait "$1" 2>/dev/null
}
e2e_stop_more() {
  stop_pid "$STAY_PID"
  stop_pid "$QUIT_PID"
  stop_pid "$CRASH_PID"
  stop_pid "$DAEMON_PID"
  stop_nginx
  STAY_PID="" QUIT_PID="" CRASH_PID="" DAEMON_PID=""
}
wait_file() {  # FILE PID
  for _ in $(seq 1 100); do
    [ -s "$1" ] && return 0
    kill -0 "$2" 2>/dev/null || return 1
    sleep 0.05
  done
  return 1
}

# Free ports, which the ready file names. A crashed server expires within seconds, but after a
# shutdown's check has had its time (three queries a second apart), and a live one is checked
# again within them, else it would expire unanswered. One address may send more than by default,
# as every server here heartbeats each second from 127.0.0.1.
daemon_start() {
  mkdir -p "$DAEMON_DIR"
  timeout 300 "$DAEMON" --udp any --http any --bind 127.0.0.1 --allow-private --expire 8 --recheck 2 --rate-per-ip 50 \
    --write "$DAEMON_DIR/servers.txt" --state "$DAEMON_DIR/state" --ready "$DAEMON_DIR/ready" 2>"$DAEMON_DIR/master.log" &
  DAEMON_PID=$!
  wait_file "$DAEMON_DIR/ready" "$DAEMON_PID" || fatal "the master did not start: $(tail -n 2 "$DAEMON_DIR/master.log")"
  DAEMON_UDP=$(awk '$1 == "udp" { print $2 }' "$DAEMON_DIR/ready")
  DAEMON_HTTP=$(awk '$1 == "http" { print $2 }' "$DAEMON_DIR/ready")
}

# A lab whose servers heartbeat to the master every second; sets the variable to its PID.
heartbeat_lab() {  # VARIABLE NAME SERVER-OPTIONS...
  local variable=$1 log=$DAEMON_DIR/$2.log servers=() option
  shift 2
  for option in "$@"; do servers+=(--server "$option"); done
  "$LAB" "${servers[@]}" --heartbeat "127.0.0.1:$DAEMON_UDP" --interval 1 --lifetime 120 \
    --ready "$log.ready" --log "$log" >/dev/null 2>&1 &
  printf -v "$variable" %s $!
  wait_file "$log.ready" "${!variable}" || fatal "the $2 lab did not start: $(tail -n 1 "$log")"
}

addresses() { for port in "$@"; do echo "127.0.0.1:$port"; done | LC_ALL=C sort | paste -sd,; }
body_of() { curl -sf "http://127.0.0.1:$1/servers.txt" | od -An -c | tr -s ' \n' ' '; }  # PORT
daemon_listed() { curl -sf --max-time 5 "http://127.0.0.1:$DAEMON_HTTP/servers.txt" | LC_ALL=C sort | paste -sd,; }
qstat_listed() {
  quakestat -raw , -nh -q2m "127.0.0.1:$DAEMON_UDP" | awk -F, '$1 == "Q2S" { print $2 }' | LC_ALL=C sort | paste -sd,
}

# Update from the master; the rows are the servers it lists, all of which answer.
update_from_daemon() {  # WHEN PORT...
  local when=$1 expected
  shift
  expected=$(addresses "$@")
  check_eq "$when: the master's list" "$expected" "$(wait_output 20000 "$expected" daemon_listed)"
  probe press 142 || fatal "could not press Update"
  probe wait-status 0 Completed. $PASS_LIMIT_MS >/dev/null || fatal "$when: no completion after Update"
  check_table "$when: after Update" $# "$expected"
}

real_master() {
  local before
  before=$(registry_value "$SETTINGS_KEY" MasterURL /reg:32)
  daemon_start
  heartbeat_lab STAY_PID stay "port=${STAY_PORTS[0]},host=Stays A" "port=${STAY_PORTS[1]},host=Stays B" \
    "port=$(lab_port 28434),host=Forged,mode=closed" "port=$(lab_port 28435),host=Other,game=ctf"
  wine reg add "$SETTINGS_KEY" /v MasterURL /t REG_SZ /d "http://127.0.0.1:$DAEMON_HTTP/servers.txt" /f /reg:32 \
    >/dev/null 2>&1 </dev/null
  mkdir -p "$WORK/run-master"
  browser_start "$WORK/run-master" "$WORK/browser-master.log"
  probe wait-status 0 "No servers" $START_LIMIT_MS >/dev/null || fatal "no first-start hint in run-master"
  update_from_daemon "two servers" "${STAY_PORTS[@]}"
  check_eq "master: both pings answered" 2 "$(grep -cE "udp (${STAY_PORTS[0]}|${STAY_PORTS[1]}) ack from" "$DAEMON_DIR/stay.log")"
  heartbeat_lab QUIT_PID quit "port=$QUIT_PORT,host=Quits"
  heartbeat_lab CRASH_PID crash "port=$CRASH_PORT,host=Crashes"
  update_from_daemon "two servers started" "${STAY_PORTS[@]}" $QUIT_PORT $CRASH_PORT
  check_eq "QStat -q2m: the same servers" "$(addresses "${STAY_PORTS[@]}" $QUIT_PORT $CRASH_PORT)" "$(qstat_listed)"
  start_nginx "$WORK/nginx" "$DAEMON_DIR" "$(lab_port 28436)" 1 || fatal "nginx did not start"
  check_eq "nginx serving the master's file: the same body" "$(body_of "$DAEMON_HTTP")" "$(body_of "$NGINX_PORT")"
  stop_pid "$QUIT_PID"  # its shutdown
  QUIT_PID=""
  local expected
  expected=$(addresses "${STAY_PORTS[@]}" $CRASH_PORT)
  check_eq "one quit: the master's list" "$expected" "$(wait_output 20000 "$expected" daemon_listed)"
  check_eq "one quit: dropped for its shutdown" 1 "$(grep -c "shutdown 127.0.0.1:$QUIT_PORT\$" "$DAEMON_DIR/master.log")"
  stop_pid "$CRASH_PID" KILL  # no shutdown: it goes silent
  CRASH_PID=""
  update_from_daemon "one crashed" "${STAY_PORTS[@]}"
  check_eq "one crashed: expired" 1 "$(grep -c "expired 127.0.0.1:$CRASH_PORT\b" "$DAEMON_DIR/master.log")"
  probe press 140 || fatal "could not press Exit"
  browser_wait_exit
  e2e_stop_more
  if [ "$before" == missing ]; then
    wine reg delete "$SETTINGS_KEY" /v MasterURL /f /reg:32 >/dev/null 2>&1 </dev/null
  else
    wine reg add "$SETTINGS_KEY" /v MasterURL /t REG_SZ /d "${before#REG_SZ    }" /f /reg:32 >/dev/null 2>&1 </dev/null
  fi
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
real_master
per_user_cache
