#!/usr/bin/env bash
# Soak of the real VarnetBrowser.exe under Wine: back-to-back Refresh passes over 64 lab servers of mixed behaviour, every pass whole, memory and handles flat.
# usage: soak.sh [--long] EXE PROBE FAKEGAME LAB    (SOAK_PASSES=N sets the number of passes)
# The short soak (scripts/test) makes 20 passes, the long one (scripts/soak) 200. Both read the
# memory figures after a first batch of passes, when the program's caches have filled, and
# allow no more growth from there than a handful of handles and heap pages that come and go.
set -u
LONG=""
[ "${1:-}" == "--long" ] && LONG=1 && shift
E2E_KEEP_PREFIX=1
source "$(dirname "$0")/lib.sh"
e2e_init soak "$@"

if [ -n "$LONG" ]; then
  PASSES=${SOAK_PASSES:-200}
  BASE_PASS=20                 # the reading all growth is measured from
  BATCH=20                     # passes between two memory readings
  HANDLE_GROWTH_LIMIT=50       # from the reading after pass BASE_PASS to the last one
  PRIVATE_GROWTH_LIMIT_KB=20480
else
  PASSES=${SOAK_PASSES:-20}
  BASE_PASS=5
  BATCH=15
  HANDLE_GROWTH_LIMIT=10       # a leak of one handle a pass would show 15
  PRIVATE_GROWTH_LIMIT_KB=1024 # one record (2328 bytes) a server a pass would show 2 MB
fi
SETTLE_MS=300                # a pass's completion text must hold this long
FIRST_PORT=33000
FROM_PORT=33090              # where the fromport server's replies come from

# The 64 servers in query order, as lab options. A pass starts one query every 50 ms, so the
# servers that take long (silent ones wait 3 s) come first and the pass lasts about 3.2 s.
# No closed port: these ports lie in Linux's ephemeral range (32768-60999), so any socket may
# get an unbound one: the query socket that asks it (which then reads its own request) or some
# other program's socket that answers. One soak saw such a port answer once in 400 passes.
server_options() {  # POSITION
  local p=$1
  case $p in
    0 | 1 | 2) echo "mode=silent" ;;
    3) echo "mode=oversize players=\"A/1/1;B/2/2\"" ;;
    4) echo "mode=manyplayers" ;;
    5) echo "mode=longhost" ;;
    6) echo "ignore=2 delay=100 players=\"Third/1/100\"" ;;
    7) echo "delay=900 players=\"Far/3/900;Away/2/910\"" ;;
    8) echo "delay=650" ;;
    9) echo "mode=garbage" ;;
    10) echo "twice=1 delay=40 players=\"Echo/5/40;Echo2/4/41\"" ;;
    11) echo "fromport=$FROM_PORT delay=20 players=\"Elsewhere/7/20\"" ;;
    12) echo "mode=longnames" ;;
    13) echo "mode=nul players=\"Zed/4/44\"" ;;
    14) echo "mode=nolf players=\"Q/1/1\"" ;;
    15) echo "mode=cronly players=\"R/1/1\"" ;;
    16) echo "ignore=1 delay=50 players=\"Second/2/50\"" ;;
    *)
      local delay=$(((p * 53) % 300)) players="" n
      [ "$p" -ge 58 ] && delay=$((p - 50))
      for ((n = 0; n < p % 5; n++)); do players="$players${players:+;}P${p}x$n/$((n * 3))/$((delay + n))"; done
      echo "delay=$delay maxclients=$((8 + p % 9)) map=q2dm$((1 + p % 8)) players=\"$players\""
      ;;
  esac
}

# What a server's options mean for a pass: whether it answers (a datagram of 4096 bytes or less)
# and how many status requests reach the lab (three attempts without an answer).
answers() { ! grep -qE "mode=(silent|oversize|manyplayers|longhost)" <<<"$1"; }
requests_per_pass() { if answers "$1"; then echo 1; else echo 3; fi; }
first_pass_extra() { sed -n 's/.*ignore=\([0-9]*\).*/\1/p' <<<"$1" | grep . || echo 0; }

TOTAL=64 PER_PASS=0 FIRST_EXTRA=0 PORTS=() ANSWERING=()
{
  for ((p = 0; p < TOTAL; p++)); do
    port=$((FIRST_PORT + p)) options=$(server_options $p)
    PORTS+=("$(lab_port "$port")")  # as the lab serves it
    answers "$options" && ANSWERING+=("127.0.0.1:$(lab_port "$port")")
    PER_PASS=$((PER_PASS + $(requests_per_pass "$options")))
    FIRST_EXTRA=$((FIRST_EXTRA + $(first_pass_extra "$options")))
    echo "port=$port host=\"Soak $port\" $options"
  done
} >"$WORK/lab.conf" 2>&1
# The loop ran in this shell (the braces are a group, not a subshell), so the tables are filled.
EXPECTED=$(printf '%s\n' "${ANSWERING[@]}" | LC_ALL=C sort | paste -sd,)
RESPONDERS=${#ANSWERING[@]}
RUN=$WORK/run
mkdir -p "$RUN"
write_cache "$RUN/kestrel.cache" "${PORTS[@]}"
lab_start "$WORK/lab.conf" 1500
echo "soak: $TOTAL servers, $RESPONDERS answer, $PER_PASS status requests a pass; $PASSES passes"

# Prints one memory line and sets PRIVATE_KB and HANDLES.
memory_reading() {  # AFTER_PASS
  local figures
  figures=$(probe memory | tr -d '\r')
  PRIVATE_KB=$(memory_figure "$figures" private_kb)
  HANDLES=$(memory_figure "$figures" handles_in_system_list)
  echo "     memory after pass $1: private ${PRIVATE_KB} KB, handles ${HANDLES}," \
    "threads $(memory_figure "$figures" threads), working set $(memory_figure "$figures" working_set_kb) KB"
}

startup_pass() {
  browser_start "$RUN" "$WORK/browser.log"
  local watch
  watch=$(probe watch 60000 1 $SETTLE_MS | tr -d '\r') || fatal "the start-up pass did not complete: $(tail -n 1 <<<"$watch")"
  check_eq "start-up pass: one completion" "completions 1" "$(tail -n 1 <<<"$watch")"
  check_eq "start-up pass: completion text" "Completed. $RESPONDERS of $TOTAL servers responded." \
    "$(tail -n 2 <<<"$watch" | head -n 1 | cut -f4)"
  check_eq "start-up pass: rows" "$RESPONDERS" "$(probe count servers | tr -d '\r')"
}

# BATCH passes at a time, each line checked; a memory reading after every batch.
soak_passes() {
  local done=0 batch lines line count elapsed slowest=0 start=$SECONDS
  while [ $done -lt $PASSES ]; do
    batch=$BATCH
    [ $done -eq 0 ] && batch=$BASE_PASS
    [ $((PASSES - done)) -lt $batch ] && batch=$((PASSES - done))
    lines=$(probe passes $batch 0 $SETTLE_MS 30000 | tr -d '\r')
    count=0
    while IFS= read -r line; do
      [[ "$line" == pass* ]] || continue
      count=$((count + 1))
      line=$(sed "s/^pass [0-9]*/pass $((done + count))/" <<<"$line")
      [[ "$line" == *$'\t'ms* ]] || { failed "$(cut -c1-200 <<<"$line")"; continue; }
      check_pass_line "$line" $TOTAL "$EXPECTED"
      elapsed=$(pass_field "$line" ms)
      [ "$elapsed" -gt "$slowest" ] && slowest=$elapsed
    done <<<"$lines"
    echo "$lines" >>"$WORK/passes.log"
    done=$((done + batch))
    [ $count -eq $batch ] || fatal "passes $((done - batch + 1))-$done: only $count of $batch passes completed"
    memory_reading $done
    [ $done -eq $BASE_PASS ] && BASE_PRIVATE_KB=$PRIVATE_KB BASE_HANDLES=$HANDLES
  done
  echo "     $PASSES passes in $((SECONDS - start)) s, slowest pass ${slowest} ms (completion text held ${SETTLE_MS} ms)"
}

flat_figures() {
  local from=$BASE_PASS
  [ $PASSES -le $BASE_PASS ] && from=0
  check_range "handles from pass $from to pass $PASSES: growth" -1000 $HANDLE_GROWTH_LIMIT $((HANDLES - BASE_HANDLES))
  check_range "private bytes from pass $from to pass $PASSES: growth (KB)" -1000000 $PRIVATE_GROWTH_LIMIT_KB \
    $((PRIVATE_KB - BASE_PRIVATE_KB))
}

# The lab saw exactly the requests of the passes that completed: no pass ran twice or in part.
lab_accounting() {
  check_eq "status requests at the lab for $((PASSES + 1)) passes" "$((PER_PASS * (PASSES + 1) + FIRST_EXTRA))" \
    "$(lab_requests)"
  check_eq "requests of an answering server" "$((PASSES + 1))" "$(lab_requests "$(lab_port $((FIRST_PORT + 20)))")"
}

exit_after_soak() {
  check_responsive "after $PASSES passes"
  probe press 140 || fatal "could not press Exit"
  browser_wait_exit
  check_eq "Exit after the soak: exit code" "0" "$BROWSER_EXIT"
  check_eq "Exit after the soak: cache file size" "$((TOTAL * RECORD_BYTES))" "$(cache_size "$RUN/kestrel.cache")"
}

startup_pass
memory_reading 0
BASE_PRIVATE_KB=$PRIVATE_KB BASE_HANDLES=$HANDLES
soak_passes
flat_figures
lab_accounting
exit_after_soak
