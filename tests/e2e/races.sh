#!/usr/bin/env bash
# Races of the real browser under Wine: Refresh bursts, Update, Abort and Update again, Exit, close and a launch, all in the middle of passes; and a hostile list's row that must not launch.
# usage: races.sh EXE PROBE FAKEGAME LAB   (EXE: a build with a download deadline of 15 s instead
# of 120 s; MasterURL points it at the lab's master)
# RACES="bursts exit" runs only the named races.
set -u
# The hostile race lists a server by a host name with a dash, which the resolver must know: the
# whole run sees a hosts file of its own, bound over /etc/hosts in a mount namespace of its own.
DASHED_HOST=varnet-q2.test
if [ -z "${RACES_HOSTS:-}" ]; then
  export RACES_HOSTS=$(cd "$(dirname "$0")/../.." && pwd)/build/e2e/races.hosts
  mkdir -p "$(dirname "$RACES_HOSTS")"
  { cat /etc/hosts; echo "127.0.0.1 $DASHED_HOST"; } >"$RACES_HOSTS"
  exec unshare --mount bash -c 'mount --bind "$RACES_HOSTS" /etc/hosts || exit 97; exec bash "$@"' races "$0" "$@"
fi
E2E_KEEP_PREFIX=1
source "$(dirname "$0")/lib.sh"
e2e_init races "$@"

MASTER_PORT=33093
SETTINGS_KEY='HKLM\SOFTWARE\tallow\Varnet Server Browser'
use_lab_master $MASTER_PORT

# The ports below are the configs'; these give where the lab serves them, one a line.
bound() {  # PORT...
  local port
  for port in "$@"; do lab_port "$port"; done
}
addresses() { printf '127.0.0.1:%s\n' $(bound "$@"); }  # PORT...

# Sets up one race: its own directory, lab config (servers given as "PORT|OPTIONS" with commas
# between the options, in cache order) and the list of the servers that answer.
race_servers() {  # NAME MASTER_OPTIONS ENTRY...
  RACE=$1
  local master=$2 entry port options
  shift 2
  RACE_DIR=$WORK/$RACE RUN=$WORK/$RACE/run
  mkdir -p "$RUN"
  CONF_PORTS=() CONF_ANSWERING=()
  {
    [ -n "$master" ] && echo "master port=$MASTER_PORT $master"
    for entry in "$@"; do
      IFS='|' read -r port options <<<"$entry"
      options=${options//,/ }
      CONF_PORTS+=("$port")
      grep -qE "mode=(silent|closed|oversize)" <<<"$options" || CONF_ANSWERING+=("127.0.0.1:$(lab_port "$port")")
      echo "port=$port host=\"Race $port\" $options"
    done
  } >"$RACE_DIR/lab.conf"
  echo "--- race: $RACE"
}

# The sorted, comma-joined addresses of the answering servers among PORTS.
answering_among() {  # PORT...
  local port wanted=" $(bound "$@" | paste -sd ' ') " address
  for address in "${CONF_ANSWERING[@]}"; do
    port=${address##*:}
    [[ "$wanted" == *" $port "* ]] && echo "$address"
  done | LC_ALL=C sort | paste -sd,
}

start_race() {  # CACHE_PORT...
  write_cache "$RUN/kestrel.cache" $(bound "$@")
  cp "$RACE_DIR/lab.conf" "$WORK/lab.conf"
  lab_start "$WORK/lab.conf" 300
  browser_start "$RUN" "$RACE_DIR/browser.log"
}

# "PORT|OPTIONS" entries: FIRST..LAST answering after DELAY ms (+ STEP per port), with players.
answering_servers() {  # FIRST LAST DELAY STEP
  local port
  for ((port = $1; port <= $2; port++)); do
    echo "$port|delay=$(($3 + (port - $1) * $4)),players=\"A$port/1/$3;B$port/2/$3\""
  done
}
silent_servers() {  # FIRST LAST
  local port
  for ((port = $1; port <= $2; port++)); do echo "$port|mode=silent"; done
}
ports() { seq "$1" "$2"; }
count_of() { tr ',' '\n' <<<"$1" | grep -c .; }  # ADDRESS_LIST

wait_completed() {  # WHEN
  probe wait-status 0 "Completed." $PASS_LIMIT_MS >/dev/null || fatal "$1: no completion text"
}

open_dialogs() {
  probe windows | tr -d '\r' | awk -F'\t' '$2 == "#32770" && $3 == 1'
}

wait_no_dialog() {  # WHAT
  for _ in $(seq 1 50); do
    open_dialogs | grep -q . || return 0
    sleep 0.1
  done
  failed "$1: the dialog is still open"
}

# Milliseconds since midnight of a lab log line's time stamp.
log_ms() { awk '{ split($1, t, /[:.]/); print ((t[1] * 60 + t[2]) * 60 + t[3]) * 1000 + t[4] }'; }

exit_and_check_cache() {  # WHEN PORT...
  local when=$1
  shift
  probe press 140 || fatal "$when: could not press Exit"
  browser_wait_exit
  check_eq "$when: exit code" "0" "$BROWSER_EXIT"
  check_eq "$when: the cache holds the table" "$(addresses "$@")" "$(cache_servers "$RUN/kestrel.cache")"
}

# Refresh clicked, sent and posted 3 times per round, up to 40 rounds in the first 1.5 s of each
# of 5 passes: all of them land in a running pass, so none may start a pass of its own.
race_bursts() {
  race_servers bursts "" "33064|mode=silent" "33065|mode=silent" "33066|mode=garbage" \
    $(answering_servers 33067 33079 20 13)
  local total=16 per_pass=$((16 + 2 * 2)) expected lines line clicks=""
  start_race $(ports 33064 33079)
  expected=$(answering_among $(ports 33064 33079))
  wait_completed "start-up pass"
  lines=$(probe passes 5 40 300 30000 | tr -d '\r')
  check_eq "bursts: passes completed" 5 "$(grep -c '^pass .*completions' <<<"$lines")"
  while IFS= read -r line; do
    [[ "$line" == pass* ]] || continue
    check_pass_line "$line" $total "$expected"
    clicks="$clicks $(pass_field "$line" clicks)"
  done <<<"$lines"
  echo "     Refresh clicks per pass:$clicks"
  check_eq "bursts: clicks made during each pass (over 30)" "5" \
    "$(tr ' ' '\n' <<<"$clicks" | awk '$1 > 30' | grep -c .)"
  check_eq "bursts: status requests at the lab (6 passes, no more)" $((per_pass * 6)) "$(lab_requests)"
  check_responsive "after the bursts"
  exit_and_check_cache "bursts: Exit" $(ports 33064 33079)
}

# Row drops (a pass's reset) as R and completions as C, in the order the follower saw them.
watch_events() {  # FILE
  tr -d '\r' <"$1" | awk -F'\t' 'NF >= 4 {
      if (seen && $2 < rows) printf "R"
      if (seen && $4 ~ /^Completed\./ && text !~ /^Completed\./) printf "C"
      seen = 1; rows = $2; text = $4 }
    END { print "" }'
}

# The most rows the follower saw in each pass, the passes told apart by their resets.
watch_max_rows() {  # FILE
  tr -d '\r' <"$1" | awk -F'\t' 'NF >= 4 { if (seen && $2 < rows) n++; if (n > 0 && $2 > max[n]) max[n] = $2
      seen = 1; rows = $2 }
    END { for (i = 1; i <= n; i++) printf "%s%d", (i > 1 ? " " : ""), max[i]; print "" }'
}

# Update pressed while a pass of the cached servers runs: the download ends during the pass,
# the merge waits for the pass to complete, then its own pass lists the new list's servers.
race_update() {
  local a_ports b_ports a_expected b_expected first_b last_a sent
  # The cached servers' silent ones come last and are not in the list: the cached pass lasts
  # about 3.6 s and its last requests are told apart from the merged pass's.
  race_servers update "file=$WORK/update/servers.txt" $(answering_servers 33064 33073 20 20) \
    "33074|mode=silent" "33075|mode=silent" $(answering_servers 33076 33079 30 10) "33080|mode=silent" \
    "33081|mode=oversize" $(answering_servers 33082 33085 40 10)
  a_ports=$(ports 33064 33075) b_ports=$(ports 33070 33073; ports 33076 33085)
  addresses $b_ports >"$RACE_DIR/servers.txt"
  a_expected=$(answering_among $a_ports) b_expected=$(answering_among $b_ports)
  start_race $a_ports
  wait_completed "start-up pass"
  watch_start "$RACE_DIR/watch" 60000 2 1500
  probe press 141 || fatal "could not press Refresh"
  probe wait-status 0 "Querying" 5000 >/dev/null || fatal "the pass did not start"
  probe press 142 || fatal "could not press Update"
  local during
  during=$(probe status 0 | tr -d '\r')
  [[ "$during" != Completed* ]] && pass "Update pressed during the pass ($during)" || failed "Update came after the pass"
  watch_wait
  check_eq "update: the follower ended" 0 "$WATCH_STATUS"
  # The merge starts its pass within milliseconds of the cached pass's completion, so the
  # follower may not see that completion's text; the lab's time stamps below show it happened.
  local a_done="Completed. $(count_of "$a_expected") of 12 servers responded."
  local b_done="Completed. $(count_of "$b_expected") of 14 servers responded."
  local seen
  seen=$(watch_completions "$RACE_DIR/watch")
  check_eq "update: the merged pass completed once, last" "$b_done" "$(grep -v -F "$a_done" <<<"$seen")"
  check_range "update: the cached pass's completions seen" 0 1 "$(grep -c -F "$a_done" <<<"$seen")"
  # The merge clears the rows itself before its pass starts, while the cached pass's completion
  # text still shows: the follower may see that text before or only after the clearing.
  [[ "$(watch_events "$RACE_DIR/watch")" =~ ^RC?RC?C$ ]] && pass "update: resets and completions in order" ||
    failed "update: resets and completions out of order: $(watch_events "$RACE_DIR/watch")"
  check_eq "update: most rows in each pass" "$(count_of "$a_expected") $(count_of "$b_expected")" \
    "$(watch_max_rows "$RACE_DIR/watch")"
  check_eq "update: one master request" 1 "$(grep -c 'http GET /servers.txt' "$WORK/lab.log")"
  sent=$(grep -m1 'http sent' "$WORK/lab.log" | log_ms)
  last_a=$(grep "udp $(lab_port 33075) request from" "$WORK/lab.log" | tail -n 1 | log_ms)
  first_b=$(grep -E 'udp 330(7[6-9]|8[0-5]) request from' "$WORK/lab.log" | head -n 1 | log_ms)
  check_range "update: the list arrived while the cached pass ran (ms before its last wait ended)" 1 100000 \
    $((last_a + 1000 - sent))
  check_range "update: the merged pass began after the cached pass's last wait (ms after its last request)" \
    900 30000 $((first_b - last_a))
  check_eq "update: the dialog closed itself" "" "$(open_dialogs)"
  check_table "update: after the merged pass" 14 "$b_expected"
  check_eq "update: requests of a server only in the cache (start-up and the cached pass)" 2 "$(lab_requests $(lab_port 33064))"
  check_eq "update: requests of a server in both" 3 "$(lab_requests $(lab_port 33071))"
  check_eq "update: requests of a server only in the list" 1 "$(lab_requests $(lab_port 33077))"
  check_responsive "update"
  exit_and_check_cache "update: Exit" $b_ports
}

# The first download still runs: no "closed" line for it yet at the lab.
download_running() { ! grep -q 'http closed' "$WORK/lab.log"; }

# Abort ends the dialog but not its download; Update again meanwhile is refused, and that
# refusal's dialog is not closed by the first download's merge. Only one merge, one pass.
race_abort() {
  local b_ports b_expected dialog
  race_servers abort "file=$WORK/abort/servers.txt mode=slow piece=16 pause=500" \
    $(answering_servers 33064 33069 10 10) $(answering_servers 33070 33084 20 10) "33085|mode=silent"
  b_ports=$(ports 33070 33085)
  addresses $b_ports >"$RACE_DIR/servers.txt"  # 16 bytes a line: 16 pieces, 8 s
  b_expected=$(answering_among $b_ports)
  start_race $(ports 33064 33069)
  wait_completed "start-up pass"
  watch_start "$RACE_DIR/watch" 60000 1 2000
  probe press 142 || fatal "could not press Update"
  dialog=$(probe dialog "Varnet Server Browser" 10000 | tr -d '\r') || fatal "no update dialog"
  check_eq "abort: the dialog's button" "Abort" "$(grep -P '^1003\t' <<<"$dialog" | cut -f3)"
  probe dialog-press 1003 || fatal "could not press Abort"
  wait_no_dialog "abort: after Abort"
  download_running && pass "abort: the download goes on after Abort" || failed "abort: the download had ended"
  probe press 142 || fatal "could not press Update again"
  dialog=$(probe dialog "Varnet Server Browser" 10000 | tr -d '\r') || fatal "no second update dialog"
  download_running && pass "abort: Update again while the download runs" || failed "abort: the download had ended"
  check_eq "abort: the second Update is refused" "ERROR: Update already running." "$(grep -P '^1004\t' <<<"$dialog" | cut -f3)"
  check_eq "abort: the refusal's button" "Close" "$(grep -P '^1003\t' <<<"$dialog" | cut -f3)"
  check_responsive "abort: with the refusal open"
  watch_wait
  check_eq "abort: the follower ended" 0 "$WATCH_STATUS"
  check_eq "abort: one merged pass" "Completed. $(count_of "$b_expected") of 16 servers responded." \
    "$(watch_completions "$RACE_DIR/watch")"
  check_eq "abort: the refusal stays as it was" "ERROR: Update already running." "$(probe dialog-get 1004 | tr -d '\r')"
  probe dialog-press 1003 || fatal "could not press Close"
  wait_no_dialog "abort: after Close"
  check_eq "abort: one master request" 1 "$(grep -c 'http GET /servers.txt' "$WORK/lab.log")"
  check_table "abort: after the merge" 16 "$b_expected"
  update_after_download "$b_expected"
  exit_and_check_cache "abort: Exit" $b_ports
}

# Once the first download has ended, Update works again: a second request, one more pass.
update_after_download() {  # EXPECTED
  watch_start "$RACE_DIR/watch2" 60000 1 1500
  probe press 142 || fatal "could not press Update"
  local dialog
  dialog=$(probe dialog "Varnet Server Browser" 10000 | tr -d '\r') || fatal "no update dialog"
  check_eq "abort: Update after the download: not refused" "Abort" "$(grep -P '^1003\t' <<<"$dialog" | cut -f3)"
  watch_wait
  check_eq "abort: Update after the download: one pass" 1 "$(watch_completions "$RACE_DIR/watch2" | grep -c .)"
  wait_no_dialog "abort: Update after the download"
  check_eq "abort: Update after the download: a second master request" 2 "$(grep -c 'http GET /servers.txt' "$WORK/lab.log")"
  check_table "abort: after the second merge" 16 "$1"
}

# Silent servers whose three attempts a pass did not see to the end: proof that it was cut short.
cut_short() {  # PASSES PORT...
  local passes=$1 port cut=0
  shift
  for port in "$@"; do
    [ "$(lab_requests "$(lab_port "$port")")" -lt $((3 * passes)) ] && cut=$((cut + 1))
  done
  echo $cut
}

# Exit in the middle of a Refresh pass, and the close box in the middle of the start-up pass:
# the program ends with 0 and saves the whole table.
race_exit() {
  race_servers exit "" $(answering_servers 33064 33079 10 10) $(silent_servers 33080 33083)
  local a_ports during
  a_ports=$(ports 33064 33083)
  start_race $a_ports
  wait_completed "start-up pass"
  probe press 141 || fatal "could not press Refresh"
  probe wait-status 0 "Querying" 5000 >/dev/null || fatal "the pass did not start"
  during=$(probe status 0 | tr -d '\r')
  exit_and_check_cache "Exit during a pass" $a_ports
  [[ "$during" != Completed* ]] && pass "Exit pressed during the pass ($during)" || failed "Exit came after the pass"
  check_range "Exit during a pass: silent servers whose attempts it cut short" 1 4 "$(cut_short 2 $(ports 33080 33083))"

  rm -f "$RUN/kestrel.cache" "$RACE_DIR/browser.log"
  write_cache "$RUN/kestrel.cache" $(bound $a_ports)
  browser_start "$RUN" "$RACE_DIR/browser2.log"
  probe wait-status 0 "Querying" 10000 >/dev/null || fatal "the start-up pass did not start"
  during=$(probe status 0 | tr -d '\r')
  probe close || fatal "could not close the window"
  browser_wait_exit
  check_eq "close box during the start-up pass: exit code" "0" "$BROWSER_EXIT"
  [[ "$during" != Completed* ]] && pass "closed during the start-up pass ($during)" || failed "closed after the pass"
  check_eq "close box during the start-up pass: the cache holds the table" "$(addresses $a_ports)" \
    "$(cache_servers "$RUN/kestrel.cache")"
}

set_game_dir() {  # DIR
  local dir
  dir=$(windows_path "$1")
  wine reg delete 'HKCU\SOFTWARE\tallow\Varnet Server Browser' /f /reg:32 >/dev/null 2>&1 </dev/null
  wine reg add "$SETTINGS_KEY" /v Q2Dir /t REG_SZ /d "$dir\\" /f /reg:32 >/dev/null 2>&1 </dev/null
  wine reg add "$SETTINGS_KEY" /v q2Exe /t REG_SZ /d quake2.exe /f /reg:32 >/dev/null 2>&1 </dev/null
  wine reg add "$SETTINGS_KEY" /v "Alt. Startup Method" /t REG_DWORD /d 0 /f /reg:32 >/dev/null 2>&1 </dev/null
  GAME_DIR_WIN=$dir
}

game_started() {  # LOG: waits for the stand-in game's record
  for _ in $(seq 1 100); do
    grep -q "^end" "$1" 2>/dev/null && return 0
    sleep 0.1
  done
  return 1
}

check_launch() {  # WHEN PORT_PATTERN CACHE_COUNT
  local log=$GAME_DIR/fakegame.log
  game_started "$log"
  check_eq "$1: the game started once" 1 "$(grep -c '^end' "$log" 2>/dev/null)"
  local line
  line=$(grep '^command line:' "$log" | tr -d '\r')
  if [[ "$line" =~ ^command\ line:\ \+set\ game\ \"varnet\"\ \+connect\ \"127\.0\.0\.1:($2)\"\ \+exec\ autoexec\.cfg$ ]]; then
    pass "$1: game command line ($line)"
  else
    failed "$1: game command line [$line] does not connect to 127.0.0.1:($2)"
  fi
  check_eq "$1: game directory" "current directory: $GAME_DIR_WIN" "$(grep '^current directory:' "$log" | tr -d '\r')"
  check_eq "$1: cache file size" $(($3 * RECORD_BYTES)) "$(cache_size "$RUN/kestrel.cache")"
}

# A double-click on a row once every answer is in but the silent servers still hold the pass;
# and one on the first row while the start-up pass is still adding and sorting rows.
race_launch() {
  race_servers launch "" $(answering_servers 33064 33071 10 10) $(silent_servers 33072 33089)
  GAME_DIR=$RACE_DIR/game
  mkdir -p "$GAME_DIR"
  cp "$GAME" "$GAME_DIR/quake2.exe"
  set_game_dir "$GAME_DIR"
  start_race $(ports 33064 33089)
  wait_completed "start-up pass"
  local try row point during="Completed."
  for try in 1 2 3; do
    probe press 141 || fatal "could not press Refresh"
    for _ in $(seq 1 30); do
      [ "$(probe count servers | tr -d '\r')" == 8 ] && break
    done
    row=$(probe rows servers | tr -d '\r' | awk -F'\t' '$2 == "Race 33067" { print $1 }')
    point=$(probe item-point servers "${row:-0}")
    during=$(probe status 0 | tr -d '\r')
    [[ "$during" != Completed* ]] && break
    echo "     the pass ended before the double-click, once more ($try)"
    wait_completed "pass $try"
  done
  [[ "$during" != Completed* ]] || fatal "no double-click during a pass in 3 tries"
  double_click_at $point
  browser_wait_exit
  check_eq "double-click with the silent servers pending: exit code" "0" "$BROWSER_EXIT"
  pass "double-click during the pass ($during)"
  check_launch "double-click with the silent servers pending" "$(lab_port 33067)" 26
  check_range "double-click: silent servers whose attempts it cut short" 1 18 \
    "$(cut_short $((try + 1)) $(ports 33072 33089))"

  race_launch_arriving
}

race_launch_arriving() {
  race_servers launch2 "" "33064|delay=1500" "33065|delay=1100" "33066|delay=800" "33067|delay=600" \
    "33068|delay=400" "33069|delay=250" "33070|delay=120" "33071|delay=40" $(silent_servers 33072 33089)
  rm -f "$GAME_DIR/fakegame.log"
  start_race $(ports 33064 33089)
  local point during
  for _ in $(seq 1 50); do
    [ "$(probe count servers | tr -d '\r')" -ge 1 ] 2>/dev/null && break
  done
  point=$(probe item-point servers 0) || fatal "no first row"
  during=$(probe status 0 | tr -d '\r')
  double_click_at $point
  browser_wait_exit
  check_eq "double-click while rows arrive: exit code" "0" "$BROWSER_EXIT"
  [[ "$during" != Completed* ]] && pass "double-click during the start-up pass ($during)" || failed "the pass had ended"
  check_launch "double-click while rows arrive" "$(bound $(ports 33064 33071) | paste -sd '|')" 26
}

# Waits up to LIMIT seconds for the open dialog's control ID to read TEXT; prints what it read last.
wait_dialog_text() {  # ID TEXT LIMIT_S
  local text="" end=$((SECONDS + $3))
  while [ $SECONDS -lt $end ]; do
    text=$(probe dialog-get "$1" 2>/dev/null | tr -d '\r')
    [ "$text" == "$2" ] && break
    sleep 0.5
  done
  echo "$text"
}

# A master that sends its header one byte every 20 s: the download's deadline (15 s in this
# build) ends it as a failed transfer, nothing is merged, and the next Update fetches the list.
race_deadline() {
  local ports_all expected pressed shown before rows
  race_servers deadline "mode=slowhead" $(answering_servers 33064 33067 10 10)
  ports_all=$(ports 33064 33067)
  expected=$(answering_among $ports_all)
  start_race $ports_all
  wait_completed "start-up pass"
  before=$(probe status 0 | tr -d '\r')
  rows=$(row_addresses)
  pressed=$SECONDS
  probe press 142 || fatal "could not press Update"
  probe dialog "Varnet Server Browser" 10000 >/dev/null || fatal "no update dialog"
  shown=$(wait_dialog_text 1004 "ERROR: WinInet Error (12002)" 60)
  check_eq "deadline: the dialog's error" "ERROR: WinInet Error (12002)" "$shown"
  check_range "deadline: seconds from Update to the error" 14 40 $((SECONDS - pressed))
  check_eq "deadline: the button" "Close" "$(probe dialog-get 1003 | tr -d '\r')"
  grep -q 'http sent' "$WORK/lab.log" && failed "deadline: the header was sent whole" || pass "deadline: the header never ended"
  check_eq "deadline: nothing merged, no pass" "$before" "$(probe status 0 | tr -d '\r')"
  check_eq "deadline: the rows as before" "$rows" "$(row_addresses)"
  probe dialog-press 1003 || fatal "could not press Close"
  wait_no_dialog "deadline: after Close"

  # The same servers, now with a master that answers at once (the dialog may end before the
  # probe can read it, so the merged pass and the master's log show that Update worked).
  sed 's/^master .*/master port='"$MASTER_PORT"'/' "$RACE_DIR/lab.conf" >"$WORK/lab.conf"
  lab_start "$WORK/lab.conf" 300
  watch_start "$RACE_DIR/watch" 60000 1 1500
  probe press 142 || fatal "could not press Update again"
  watch_wait
  check_eq "deadline: the follower ended" 0 "$WATCH_STATUS"
  check_eq "deadline: Update again: one merged pass" "Completed. 4 of 4 servers responded." \
    "$(watch_completions "$RACE_DIR/watch")"
  wait_no_dialog "deadline: Update again"
  check_eq "deadline: Update again fetched the list" 1 "$(grep -c 'http sent' "$WORK/lab.log")"
  check_table "deadline: after Update again" 4 "$expected"
  exit_and_check_cache "deadline: Exit" $ports_all
}

# Marks record INDEX of a cache file as kept by the user (fromMasterList 0): a merge keeps it
# and moves it to the front.
keep_cached_record() {  # FILE INDEX
  printf '\x00' | dd of="$1" bs=1 seek=$(($2 * RECORD_BYTES + 2324)) conv=notrunc 2>/dev/null
}

# The stand-in game in C:\Games\Quake2 and no game directory set: a launch searches the drives.
game_on_drive_c() {
  DRIVE_C=$WINEPREFIX/drive_c
  rm -rf "$DRIVE_C/Games"
  mkdir -p "$DRIVE_C/Games/Quake2"
  cp "$GAME" "$DRIVE_C/Games/Quake2/quake2.exe"
  wine reg delete 'HKCU\SOFTWARE\tallow\Varnet Server Browser' /f /reg:32 >/dev/null 2>&1 </dev/null
  wine reg delete "$SETTINGS_KEY" /v Q2Dir /f /reg:32 >/dev/null 2>&1 </dev/null
}

# A double-click on a kept server with no game directory set: the drive search asks about the
# stand-in game, and while its question box is open a dismissed Update merges its list, which
# moves the kept server from record 3 to record 0 and clears record 3. Yes then starts the
# game connected to the server that was clicked.
race_launch_merge() {
  local gate row point
  race_servers launchmerge "file=$WORK/launchmerge/servers.txt gate=$WORK/launchmerge/gate.open" \
    $(answering_servers 33064 33069 10 10)
  gate=$RACE_DIR/gate.open
  addresses 33068 33069 >"$RACE_DIR/servers.txt"
  game_on_drive_c
  local drive_c=$DRIVE_C
  write_cache "$RUN/kestrel.cache" $(bound $(ports 33064 33067))
  keep_cached_record "$RUN/kestrel.cache" 3
  cp "$RACE_DIR/lab.conf" "$WORK/lab.conf"
  lab_start "$WORK/lab.conf" 300
  browser_start "$RUN" "$RACE_DIR/browser.log"
  probe wait-status 0 "Completed. 4 of 4" $PASS_LIMIT_MS >/dev/null || fatal "launchmerge: no start-up completion"

  probe press 142 || fatal "could not press Update"
  probe dialog "Varnet Server Browser" 10000 >/dev/null || fatal "no update dialog"
  probe dialog-press 1003 || fatal "could not press Abort"
  wait_no_dialog "launchmerge: after Abort"
  grep -q 'http gated' "$WORK/lab.log" && pass "launchmerge: the list is held at the master" || failed "launchmerge: the list was not held"

  row=$(probe rows servers | tr -d '\r' | awk -F'\t' '$2 == "Race 33067" { print $1 }')
  point=$(probe item-point servers "${row:-none}") || fatal "no row for the kept server"
  double_click_at $point
  probe dialog "Quake II Location" 60000 >/dev/null || fatal "launchmerge: the search asked nothing"
  touch "$gate"
  probe wait-status 0 "Completed. 3 of 3" $PASS_LIMIT_MS >/dev/null || fatal "launchmerge: no merged pass under the question box"
  check_eq "launchmerge: the question box is still open" "Quake II Location" \
    "$(probe dialog "" 1000 | tr -d '\r' | sed -n 's/^title //p')"
  probe dialog-press 6 || fatal "could not answer Yes"
  browser_wait_exit
  check_eq "launchmerge: exit code" "0" "$BROWSER_EXIT"
  GAME_DIR=$drive_c/Games/Quake2 GAME_DIR_WIN='C:\Games\Quake2'
  check_launch "launchmerge: Yes after the merge" "$(lab_port 33067)" 3
  rm -rf "$drive_c/Games"
}

# Closing the window while the search asks ends the run at once: with drive Z: (the whole Linux
# file system) still to walk, a search that went on would keep the browser well past 5 s.
race_close_search() {
  race_servers closesearch "" "33064|delay=10"
  game_on_drive_c
  start_race 33064
  probe wait-status 0 "Completed. 1 of 1" $PASS_LIMIT_MS >/dev/null || fatal "closesearch: no start-up completion"
  double_click_at $(probe item-point servers 0)
  probe dialog "Quake II Location" 60000 >/dev/null || fatal "closesearch: the search asked nothing"
  probe close || fatal "closesearch: could not close the window"
  EXIT_LIMIT_S=5 browser_wait_exit
  check_eq "closesearch: the browser ended within 5 s" 0 "$BROWSER_EXIT"
  rm -rf "$DRIVE_C/Games"
}

# The end of the session while the search asks: the browser saves and ends within 3 s and starts
# no game, although the walk still had every drive to go.
race_session_search() {
  race_servers sessionsearch "" "33064|delay=10"
  game_on_drive_c
  start_race 33064
  probe wait-status 0 "Completed. 1 of 1" $PASS_LIMIT_MS >/dev/null || fatal "sessionsearch: no start-up completion"
  : >"$RUN/kestrel.cache"
  double_click_at $(probe item-point servers 0)
  probe dialog "Quake II Location" 60000 >/dev/null || fatal "sessionsearch: the search asked nothing"
  check_eq "sessionsearch: WM_QUERYENDSESSION: TRUE" 1 "$(probe send 17 0 1 | tr -d '\r')"
  probe send 22 1 1 >/dev/null
  EXIT_LIMIT_S=3 browser_wait_exit
  check_eq "sessionsearch: the browser ended within 3 s" 0 "$BROWSER_EXIT"
  check_eq "sessionsearch: no game" missing "$(cache_size "$DRIVE_C/Games/Quake2/fakegame.log")"
  check_eq "sessionsearch: the table saved" $RECORD_BYTES "$(cache_size "$RUN/kestrel.cache")"
  rm -rf "$DRIVE_C/Games"
}

# The list's own line as a hostile author would write it: the address is everything before the
# colon, and the resolver stops at the space, so the server on that port answers for it.
HOSTILE_PORT=33092
HOSTILE_LINE='127.0.0.1 " +exec evil.cfg +set x ":'$(lab_port $HOSTILE_PORT)
BAD_ADDRESS_TEXT='Error: Bad server address:
    127.0.0.1 " +exec evil.cfg +set x "

A server address may hold only letters, digits, dots and dashes, and no more than 127 characters with its port.'

# A row whose address would carry console commands to the game shows as any other, but its
# double-click starts nothing, saves nothing and says why; a plain row then starts the game. The
# plain row is listed by a host name with a dash: the game connects to the address it reached.
race_hostile() {
  race_servers hostile "file=$WORK/hostile/servers.txt" "$HOSTILE_PORT|delay=10" "33064|delay=20"
  printf '%s\n' "$HOSTILE_LINE" "$DASHED_HOST:$(lab_port 33064)" >"$RACE_DIR/servers.txt"
  GAME_DIR=$RACE_DIR/game
  mkdir -p "$GAME_DIR"
  cp "$GAME" "$GAME_DIR/quake2.exe"
  set_game_dir "$GAME_DIR"
  start_race  # an empty cache: the rows come from the list alone
  probe press 142 || fatal "could not press Update"
  probe wait-status 0 "Completed." $PASS_LIMIT_MS >/dev/null || fatal "no completion text after Update"
  check_eq "hostile: both rows, the list's line as it came" "$(printf '%s\n' "$DASHED_HOST:$(lab_port 33064)" "$HOSTILE_LINE" | LC_ALL=C sort)" \
    "$(probe rows servers | tr -d '\r' | cut -f3 | LC_ALL=C sort)"
  local row point dialog
  row=$(probe rows servers | tr -d '\r' | awk -F'\t' '$3 ~ /evil/ { print $1 }')
  point=$(probe item-point servers "${row:-0}") || fatal "no point for the hostile row"
  double_click_at $point
  dialog=$(probe dialog "Couldn't start Quake II" 10000) || fatal "hostile: no warning box"
  dialog=$(tr -d '\r' <<<"$dialog")
  check_eq "hostile: the box is owned by the main window" "owner main" "$(sed -n 2p <<<"$dialog")"
  check_eq "hostile: the box names the address" "$BAD_ADDRESS_TEXT" "$(probe dialog-get 65535 | tr -d '\r')"
  check_eq "hostile: status text" "Couldn't start Quake II! Bad server address." "$(probe status 0 | tr -d '\r')"
  probe dialog-press 1 || fatal "could not press OK"
  wait_no_dialog "hostile: after OK"
  kill -0 "$BROWSER_PID" 2>/dev/null && pass "hostile: the browser stays open" || failed "hostile: the browser ended"
  check_eq "hostile: nothing saved" 0 "$(cache_size "$RUN/kestrel.cache")"
  # Had the refused row started a game as well, check_launch below would find two starts.
  check_eq "hostile: no game started" missing "$(cache_size "$GAME_DIR/fakegame.log")"

  row=$(probe rows servers | tr -d '\r' | awk -F'\t' -v a="$DASHED_HOST:$(lab_port 33064)" '$3 == a { print $1 }')
  point=$(probe item-point servers "${row:-0}") || fatal "no point for the plain row"
  double_click_at $point
  browser_wait_exit
  check_eq "hostile: a plain row then: exit code" "0" "$BROWSER_EXIT"
  check_launch "hostile: a plain row then" "$(lab_port 33064)" 2
  check_eq "hostile: the cache keeps the host name" 1 "$(cache_servers "$RUN/kestrel.cache" | grep -cx "$DASHED_HOST:$(lab_port 33064)")"
}

for race in ${RACES:-bursts update abort exit launch deadline launch_merge hostile close_search session_search}; do
  start=$SECONDS
  "race_$race"
  stop_lab
  echo "     race $race took $((SECONDS - start)) s"
done
