# Shared by the end-to-end tests: a fresh Wine prefix and Xvfb, the lab, the browser as a process, the probe, checks.
# Source it, then call e2e_init NAME EXE PROBE GAME LAB. Everything started here is stopped by PID.

E2E_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
E2E_FAILURES=0
E2E_CHECKS=0
LAB_PID="" BROWSER_PID=""

# Every wait has a limit: the browser's steps take well under these on a loaded machine.
START_LIMIT_MS=30000
PASS_LIMIT_MS=30000
EXIT_LIMIT_S=20

e2e_init() {
  E2E_NAME=$1
  local f
  for f in "$2" "$3" "$4" "$5"; do
    [ -f "$f" ] || { echo "e2e: missing $f"; exit 1; }
  done
  # Absolute, as the browser is started from its own start-up directory.
  EXE=$(realpath "$2") PROBE=$(realpath "$3") GAME=$(realpath "$4") LAB=$(realpath "$5")
  WORK=$E2E_ROOT/build/e2e/$E2E_NAME
  rm -rf "$WORK"
  mkdir -p "$WORK/prefix"
  # A fresh prefix per run keeps the registry under the test's control.
  export WINEPREFIX=$WORK/prefix
  unset DISPLAY
  source "$E2E_ROOT/scripts/lib/wine.sh"
  trap e2e_cleanup EXIT
  trap 'echo "e2e: interrupted"; exit 130' INT TERM
  start_xvfb || exit 1  # a display of its own: no other window can take a click
  setup_wine_prefix
  start_wineserver
  echo "e2e: $E2E_NAME in $WORK, display $DISPLAY"
}

e2e_cleanup() {
  local status=$?
  if [ -n "$BROWSER_PID" ] && kill -0 "$BROWSER_PID" 2>/dev/null; then kill "$BROWSER_PID" 2>/dev/null; fi
  [ -n "$BROWSER_PID" ] && wait "$BROWSER_PID" 2>/dev/null
  if [ -n "$LAB_PID" ]; then
    kill "$LAB_PID" 2>/dev/null
    wait "$LAB_PID" 2>/dev/null
  fi
  BROWSER_PID="" LAB_PID=""
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

# Starts the lab on CONFIG; another run may hold the master port for a while, so a busy port
# is tried again for up to 60 s.
lab_start() {
  local config=$1 try
  for try in $(seq 1 30); do
    rm -f "$WORK/lab.ready"
    "$LAB" --config "$config" --lifetime 300 --ready "$WORK/lab.ready" --log "$WORK/lab.log" >/dev/null 2>&1 &
    LAB_PID=$!
    for _ in $(seq 1 100); do
      [ -s "$WORK/lab.ready" ] && return 0
      kill -0 "$LAB_PID" 2>/dev/null || break
      sleep 0.05
    done
    wait "$LAB_PID" 2>/dev/null
    LAB_PID=""
    grep -q "in use" "$WORK/lab.log" 2>/dev/null || break
    echo "e2e: a lab port is in use, trying again ($try)"
    sleep 2
  done
  fatal "the lab did not start: $(tail -n 2 "$WORK/lab.log" 2>/dev/null)"
}

# Starts the browser from RUN_DIR (its start-up directory, where kestrel.cache lives).
browser_start() {
  local dir=$1 log=$2
  (cd "$dir" && exec wine "$EXE" >"$log" 2>&1 </dev/null) &
  BROWSER_PID=$!
  probe find $START_LIMIT_MS >/dev/null || fatal "the browser's window did not appear"
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
