# Shared by the end-to-end tests: a Wine prefix and Xvfb, the lab, the browser as a process, the probe, checks,
# and for the soak and the races: cache files, pass checks and a follower of the status bar.
# Source it, then call e2e_init NAME EXE PROBE GAME LAB. Everything started here is stopped by PID.

E2E_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
E2E_FAILURES=0
E2E_CHECKS=0
LAB_PID="" BROWSER_PID=""

# Every wait has a limit: the browser's steps take well under these on a loaded machine.
START_LIMIT_MS=30000
PASS_LIMIT_MS=30000
EXIT_LIMIT_S=20
RECORD_BYTES=2328

# Everything in build/e2e/NAME goes at the start of a run, so no file of an earlier run can pass
# for this one's. The prefix goes too, so the registry is under the test's control, unless
# E2E_KEEP_PREFIX is set (the soak and the races start every program from its own directory and
# read no setting they did not write).
e2e_init() {
  E2E_NAME=$1
  local f
  for f in "$2" "$3" "$4" "$5"; do
    [ -f "$f" ] || { echo "e2e: missing $f"; exit 1; }
  done
  # Absolute, as the browser is started from its own start-up directory.
  EXE=$(realpath "$2") PROBE=$(realpath "$3") GAME=$(realpath "$4") LAB=$(realpath "$5")
  WORK=$E2E_ROOT/build/e2e/$E2E_NAME
  mkdir -p "$WORK"
  if [ -n "${E2E_KEEP_PREFIX:-}" ]; then
    find "$WORK" -mindepth 1 -maxdepth 1 ! -name prefix -exec rm -rf {} +
  else
    rm -rf "${WORK:?}"/*
  fi
  export WINEPREFIX=$WORK/prefix
  unset DISPLAY
  source "$E2E_ROOT/scripts/lib/wine.sh"
  source "$E2E_ROOT/scripts/lib/ports.sh"
  trap e2e_cleanup EXIT
  trap 'echo "e2e: interrupted"; exit 130' INT TERM
  start_xvfb || exit 1  # a display of its own: no other window can take a click
  setup_wine_prefix
  start_wineserver
  reserve_ports || exit 1  # after the prefix's own processes start: they need not hold it
  echo "e2e: $E2E_NAME in $WORK, display $DISPLAY, ports moved by $PORT_OFFSET"
}

e2e_cleanup() {
  local status=$?
  declare -F e2e_stop_more >/dev/null && e2e_stop_more  # what a script started beside the lab
  stop_watch
  if [ -n "$BROWSER_PID" ] && kill -0 "$BROWSER_PID" 2>/dev/null; then kill "$BROWSER_PID" 2>/dev/null; fi
  [ -n "$BROWSER_PID" ] && wait "$BROWSER_PID" 2>/dev/null
  stop_lab
  BROWSER_PID=""
  stop_wineserver  # this run's own prefix only
  stop_xvfb
  if [ "$status" -eq 0 ] && [ "$E2E_FAILURES" -ne 0 ]; then status=1; fi
  echo "e2e: $E2E_NAME: $E2E_CHECKS checks, $E2E_FAILURES failed"
  exit "$status"
}

# Background and wait, so Ctrl-C reaches the trap at once (Wine ends a program on SIGINT with 0).
probe() {
  wine "$PROBE" "$@" 2>>"$WORK/probe.log" </dev/null &
  wait $!
}

pass() {
  E2E_CHECKS=$((E2E_CHECKS + 1))
  echo "ok   $*"
}

failed() {
  E2E_CHECKS=$((E2E_CHECKS + 1))
  E2E_FAILURES=$((E2E_FAILURES + 1))
  echo "FAIL $*"
}

# A check that later steps depend on: stop here.
fatal() {
  failed "$*"
  [ -f "$WORK/lab.log" ] && { echo "--- lab log (end) ---"; tail -n 20 "$WORK/lab.log"; }
  exit 1
}

# Lists print on one line, their items joined by " | ".
one_line() { sed ':a;N;$!ba;s/\n/ | /g' <<<"$1"; }

check_eq() {  # WHAT EXPECTED ACTUAL
  if [ "$2" == "$3" ]; then
    pass "$1: $(one_line "$3")"
  else
    failed "$1: expected [$(one_line "$2")], got [$(one_line "$3")]"
  fi
}

check_range() {  # WHAT LOW HIGH ACTUAL
  if [[ "$4" =~ ^-?[0-9]+$ ]] && [ "$4" -ge "$2" ] && [ "$4" -le "$3" ]; then
    pass "$1: $4 in $2..$3"
  else
    failed "$1: expected $2..$3, got [$4]"
  fi
}

# Where the lab serves a port of this script's configs (scripts/lib/ports.sh).
lab_port() { echo $(($1 + PORT_OFFSET)); }

# Starts the lab on CONFIG with its own LIFETIME (seconds, 300 by default), so it ends by itself
# even if this script dies. Its ports are this run's; a port of an earlier lab may be busy for a
# moment, so a busy port is tried again for up to 60 s.
lab_start() {  # CONFIG [LIFETIME]
  local config=$1 lifetime=${2:-300} try
  stop_lab
  for try in $(seq 1 30); do
    rm -f "$WORK/lab.ready"
    "$LAB" --config "$config" --port-offset "$PORT_OFFSET" --lifetime "$lifetime" --ready "$WORK/lab.ready" --log "$WORK/lab.log" >/dev/null 2>&1 &
    LAB_PID=$!
    for _ in $(seq 1 100); do
      [ -s "$WORK/lab.ready" ] && return 0
      kill -0 "$LAB_PID" 2>/dev/null || break
      sleep 0.05
    done
    wait "$LAB_PID" 2>/dev/null
    LAB_PID=""
    grep -q "in use" "$WORK/lab.log" 2>/dev/null || break
    echo "$E2E_NAME: a lab port is in use, trying again ($try)"
    sleep 2
  done
  fatal "the lab did not start: $(tail -n 2 "$WORK/lab.log" 2>/dev/null)"
}

# Update fetches the list from the lab's master on PORT of the config.
use_lab_master() { use_master_port "$(lab_port "$1")"; }  # PORT

stop_lab() {
  if [ -n "$LAB_PID" ]; then
    kill "$LAB_PID" 2>/dev/null
    wait "$LAB_PID" 2>/dev/null
  fi
  LAB_PID=""
}

# Starts the browser from RUN_DIR (its start-up directory, where kestrel.cache lives).
# Once, in a clean-clone run on a loaded machine, a start showed no window in 30 s and left no
# output; so a start that shows none says what was there, and gets one more try.
browser_start() {
  local dir=$1 log=$2 try state
  for try in 1 2; do
    (cd "$dir" && exec wine "$EXE" >"$log" 2>&1 </dev/null) &
    BROWSER_PID=$!
    probe find $START_LIMIT_MS >/dev/null && return 0
    kill -0 "$BROWSER_PID" 2>/dev/null && state=running || state=ended
    echo "$E2E_NAME: no browser window after $START_LIMIT_MS ms (start $try, process $state," \
      "log: $(one_line "$(cat "$log" 2>/dev/null)"); windows: $(one_line "$(probe windows | tr -d '\r')"))"
    kill "$BROWSER_PID" 2>/dev/null
    wait "$BROWSER_PID" 2>/dev/null
    BROWSER_PID=""
  done
  fatal "the browser's window did not appear"
}

# Sets BROWSER_EXIT to the browser's exit code once it has ended by itself, or to "still
# running" (and stops it) after EXIT_LIMIT_S seconds. Not for $(...): only this shell can wait.
browser_wait_exit() {
  for _ in $(seq 1 $((EXIT_LIMIT_S * 10))); do
    kill -0 "$BROWSER_PID" 2>/dev/null || break
    sleep 0.1
  done
  if kill -0 "$BROWSER_PID" 2>/dev/null; then
    kill "$BROWSER_PID" 2>/dev/null
    wait "$BROWSER_PID" 2>/dev/null
    BROWSER_EXIT="still running"
  else
    wait "$BROWSER_PID"
    BROWSER_EXIT=$?
  fi
  BROWSER_PID=""
}

# Real mouse input on the display. Separate clicks are kept 600 ms apart, or Wine would make
# two of them a double-click.
click_at() {
  xdotool mousemove "$1" "$2" click 1
  sleep 0.6
}

double_click_at() {
  xdotool mousemove "$1" "$2" click --repeat 2 --delay 80 1
}

click_row() {  # LIST ROW
  local point
  point=$(probe item-point "$1" "$2") || fatal "no point for $1 row $2"
  click_at $point
}

click_header() {  # LIST COLUMN
  local point
  point=$(probe header-point "$1" "$2") || fatal "no point for $1 header $2"
  click_at $point
}

# One column of a list, one cell per line (column 0 is the first cell after the row number).
list_column() {  # LIST COLUMN
  probe rows "$1" | tr -d '\r' | cut -f $(($2 + 2))
}

cache_size() {  # FILE
  if [ -f "$1" ]; then stat -c %s "$1"; else echo "missing"; fi
}

# The value of one registry value, as `reg query` prints it (type and data), or "missing".
registry_value() {  # KEY VALUE [VIEW-OPTION]
  local line
  line=$(wine reg query "$1" /v "$2" ${3:-} 2>/dev/null </dev/null | tr -d '\r' | grep -F "    $2    ")
  if [ -z "$line" ]; then echo "missing"; return; fi
  echo "${line#    $2    }"
}

windows_path() {
  winepath -w "$1" 2>/dev/null </dev/null | tr -d '\r'
}

# Polls until COMMAND prints EXPECTED (carriage returns dropped), for at most LIMIT_MS; prints
# what it printed last. For effects of real input, which the browser handles in its own time.
wait_output() {  # LIMIT_MS EXPECTED COMMAND...
  local limit=$1 expected=$2 output=""
  shift 2
  for _ in $(seq 1 $((limit / 100))); do
    output=$("$@" | tr -d '\r')
    [ "$output" == "$expected" ] && break
    sleep 0.1
  done
  echo "$output"
}

# The prefix user's per-user cache file (under %LOCALAPPDATA%), as a Linux path.
user_cache_file() {
  local dir
  dir=$(wine cmd /c 'echo %LOCALAPPDATA%' 2>/dev/null </dev/null | tr -d '\r')
  echo "$(winepath -u "$dir" 2>/dev/null </dev/null | tr -d '\r' | sed 's:/*$::')/Varnet Server Browser/kestrel.cache"
}

# A cache file as the browser writes it: one record per port, address 127.0.0.1, every other
# field zero except fromMasterList (1), so a master list replaces them all.
write_cache() {  # FILE PORT...
  local file=$1 port
  shift
  : >"$file"
  for port in "$@"; do
    {
      printf '127.0.0.1'
      head -c 247 /dev/zero
      printf '%b' "$(printf '\\x%02x\\x%02x' $((port & 255)) $((port >> 8)))"
      head -c 2066 /dev/zero
      printf '\x01\x00\x00\x00'
    } >>"$file"
  done
}

# The addresses and ports of a cache file's records, "ADDRESS:PORT" one per line.
cache_servers() {  # FILE
  local size count i
  size=$(cache_size "$1")
  [[ "$size" =~ ^[0-9]+$ ]] || return 0
  count=$((size / RECORD_BYTES))
  for ((i = 0; i < count; i++)); do
    printf '%s:%s\n' "$(dd if="$1" bs=1 skip=$((i * RECORD_BYTES)) count=256 2>/dev/null | tr -d '\0')" \
      "$(od -An -tu2 -j$((i * RECORD_BYTES + 256)) -N2 "$1" | tr -d ' ')"
  done
}

plural() { [ "$1" -eq 1 ] && echo "" || echo "s"; }

# Status requests the lab received: on one port, or on all ports.
lab_requests() {  # [PORT]
  if [ $# -gt 0 ]; then grep -c "udp $1 request from" "$WORK/lab.log"; else grep -c "udp [0-9]* request from" "$WORK/lab.log"; fi
}

# One field of a "pass" line of `probe passes`: the text after "KEY " up to the next tab.
pass_field() {  # LINE KEY
  tr '\t' '\n' <<<"$1" | sed -n "s/^$2 //p" | head -n 1
}

# The checks every completed pass must pass; EXPECTED_ADDRESSES is the sorted, comma-joined list
# of the servers that answer. Quiet when all hold, one line per failure otherwise.
check_pass_line() {  # LINE TOTAL EXPECTED_ADDRESSES
  local line=$1 total=$2 expected=$3 pass rows players responders
  pass=$(pass_field "$line" pass)
  rows=$(pass_field "$line" rows)
  players=$(pass_field "$line" players)
  responders=$(tr ',' '\n' <<<"$expected" | grep -c .)
  quiet_check "pass $pass: one completion" 1 "$(pass_field "$line" completions)"
  quiet_check "pass $pass: no status change after the completion" 0 "$(pass_field "$line" changes_after)"
  quiet_check "pass $pass: completion text" "Completed. $responders of $total server$(plural "$total") responded." \
    "$(pass_field "$line" text)"
  quiet_check "pass $pass: rows" "$responders" "$rows"
  quiet_check "pass $pass: never more rows than answers" "$responders" "$(pass_field "$line" max_rows)"
  quiet_check "pass $pass: the answering servers, once each" "$expected" "$(pass_field "$line" addresses)"
  quiet_check "pass $pass: server counter" "$rows Server$(plural "${rows:-0}")" "$(pass_field "$line" part2)"
  quiet_check "pass $pass: player counter" "$players Player$(plural "${players:-0}")" "$(pass_field "$line" part1)"
  quiet_check "pass $pass: Refresh enabled again" 1 "$(pass_field "$line" enabled)"
}

# check_eq that prints only failures: a soak makes thousands of checks.
quiet_check() {  # WHAT EXPECTED ACTUAL
  E2E_CHECKS=$((E2E_CHECKS + 1))
  [ "$2" == "$3" ] && return 0
  E2E_FAILURES=$((E2E_FAILURES + 1))
  echo "FAIL $1: expected [$(cut -c1-300 <<<"$2")], got [$(cut -c1-300 <<<"$3")]"
}

# The probe's memory figures as "KEY VALUE" lines.
memory_figure() {  # FIGURES KEY
  sed -n "s/^$2 //p" <<<"$1" | head -n 1
}

# The program still answers window messages: every WM_NULL round trip well inside the probe's limit.
check_responsive() {  # WHEN
  local rtt max
  rtt=$(probe rtt 10 20 | tr -d '\r')
  max=$(sed -n 's/^rtt_max_ms \([0-9]*\).*/\1/p' <<<"$rtt")
  check_range "$1: the program answers (worst WM_NULL round trip, ms)" 0 1000 "${max:-none}"
}

WATCH_PID=""

stop_watch() {
  if [ -n "$WATCH_PID" ]; then
    kill "$WATCH_PID" 2>/dev/null
    wait "$WATCH_PID" 2>/dev/null
  fi
  WATCH_PID=""
}

# `probe watch` in the background into FILE, returned once it has taken its first look, so
# whatever the caller does next is seen.
watch_start() {  # FILE TIMEOUT_MS COMPLETIONS SETTLE_MS
  local file=$1
  : >"$file"
  wine "$PROBE" watch "$2" "$3" "$4" >"$file" 2>>"$WORK/probe.log" </dev/null &
  WATCH_PID=$!
  for _ in $(seq 1 300); do
    grep -q . "$file" && return 0
    kill -0 "$WATCH_PID" 2>/dev/null || break
    sleep 0.05
  done
  fatal "the follower did not start"
}

# Waits for the follower to end by itself (it is bounded by its own limit); sets WATCH_STATUS.
watch_wait() {
  wait "$WATCH_PID"
  WATCH_STATUS=$?
  WATCH_PID=""
}

# The completion texts a follower saw appear, one per line; its first look is where it began.
watch_completions() {  # FILE
  tr -d '\r' <"$1" | awk -F'\t' 'NF >= 4 && seen && $4 ~ /^Completed\./ && prev !~ /^Completed\./ { print $4 }
    NF >= 4 { prev = $4; seen = 1 }'
}

# The server rows as the pass lines give them: sorted addresses, comma-joined.
row_addresses() {
  probe rows servers | tr -d '\r' | cut -f3 | LC_ALL=C sort | paste -sd,
}

# The table after a pass: rows, counters and completion text agree with the servers that answer.
check_table() {  # WHEN TOTAL EXPECTED_ADDRESSES
  local rows players responders
  rows=$(probe rows servers | tr -d '\r')
  responders=$(tr ',' '\n' <<<"$3" | grep -c .)
  players=$(cut -f5 <<<"$rows" | awk '{ s += $1 } END { print s + 0 }')
  check_eq "$1: completion text" "Completed. $responders of $2 server$(plural "$2") responded." "$(probe status 0 | tr -d '\r')"
  check_eq "$1: the answering servers, once each" "$3" "$(cut -f3 <<<"$rows" | grep . | LC_ALL=C sort | paste -sd,)"
  check_eq "$1: server counter" "$(grep -c . <<<"$rows") Server$(plural "$(grep -c . <<<"$rows")")" "$(probe status 2 | tr -d '\r')"
  check_eq "$1: player counter" "$players Player$(plural "$players")" "$(probe status 1 | tr -d '\r')"
}
