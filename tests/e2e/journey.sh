#!/usr/bin/env bash
# End-to-end journey of the real VarnetBrowser.exe under Wine: first start, Update, players, sorting, Config, Exit, restart,
# the keyboard and a launch with Enter, the server list's menu and a launch with its Connect. The four commands go by their
# shortcut keys. The start-up folder's name has Cyrillic and CJK letters,
# which the prefix's ANSI code page lacks.
# usage: journey.sh EXE PROBE FAKEGAME LAB
set -u
source "$(dirname "$0")/lib.sh"
e2e_init journey "$@"

# The lab's servers, and from the same table the rows the browser must show:
# port|host|map|maxclients|delay ms (or "silent")|players NAME/SCORE/PING;...
# The delays keep well clear of the ping colours' limits (150 and 300 ms).
SERVERS=(
  "28410|Frag Central|q2dm1|16|20|Rocketeer/24/38;Big Mike/17/41;Slipgate/9/35"
  "28411|[EU] Railgun Arena|q2dm3|12|80|Deadeye/31/85;Kaiser/22/90"
  "28412|Base Camp Coop|base1|4|190|Sarge/0/60"
  "28413|Outpost Gamma|base2|16|silent|"
  "28414|Lava Pit CTF|q2dm6|20|220|"
  "28415|[AU] Down Under Frags|q2dm8|16|400|Dingo/13/349;Wombat/10/362;Kookaburra/4/371;Emu/2/380"
)
declare -A MAP MAXC DELAY PLAYERS PORT  # PORT: where the lab serves it
MASTER_PORT=28400
ANSWERING=0 PLAYER_TOTAL=0
write_lab_config() {
  # A slow master keeps the update dialog open long enough to be seen.
  echo "master port=$MASTER_PORT mode=slow piece=32 pause=800"
  local entry port host map maxc delay players
  for entry in "${SERVERS[@]}"; do
    IFS='|' read -r port host map maxc delay players <<<"$entry"
    PORT[$host]=$(lab_port "$port") MAP[$host]=$map MAXC[$host]=$maxc DELAY[$host]=$delay PLAYERS[$host]=$players
    if [ "$delay" == silent ]; then
      echo "port=$port host=\"$host\" map=$map mode=silent"
      continue
    fi
    ANSWERING=$((ANSWERING + 1))
    [ -n "$players" ] && PLAYER_TOTAL=$((PLAYER_TOTAL + $(tr ';' '\n' <<<"$players" | wc -l)))
    echo "port=$port host=\"$host\" map=$map maxclients=$maxc delay=$delay players=\"$players\""
  done
}
write_lab_config >"$WORK/lab.conf"  # in this shell, so the tables stay filled
TOTAL=${#SERVERS[@]}
RUN="$WORK/run Дмитрий 漢字" GAME_DIR=$WORK/game
mkdir -p "$RUN" "$GAME_DIR"
cp "$GAME" "$GAME_DIR/quake2.exe"
lab_start "$WORK/lab.conf"
use_lab_master $MASTER_PORT

player_count() { [ -z "$1" ] && echo 0 || tr ';' '\n' <<<"$1" | wc -l; }
ping_image() { if [ "$1" -le 150 ]; then echo 1; elif [ "$1" -le 300 ]; then echo 2; else echo 3; fi; }
http_requests() { grep -c "http GET /servers.txt" "$WORK/lab.log"; }
COMPLETED="Completed. $ANSWERING of $TOTAL server$(plural $TOTAL) responded."

first_start() {
  browser_start "$RUN" "$WORK/browser1.log"
  local hint
  hint=$(probe wait-status 0 "No servers" $START_LIMIT_MS | tr -d '\r')
  check_eq "first start: status hint" "No servers to query! Try clicking the Update button." "$hint"
  check_eq "first start: player count" "0 Players" "$(probe status 1 | tr -d '\r')"
  check_eq "first start: server count" "0 Servers" "$(probe status 2 | tr -d '\r')"
  check_eq "first start: server rows" "0" "$(probe count servers | tr -d '\r')"
  check_eq "first start: the server list has the focus" "$SERVER_LIST_FOCUS" "$(probe focus | tr -d '\r')"
}

update() {
  xdotool key alt+u
  local dialog
  dialog=$(probe dialog "Varnet Server Browser" 10000 | tr -d '\r')
  probe press 142 || fatal "could not press Update while its dialog is up"  # the dialog must still close itself
  check_eq "update dialog: title" "title Varnet Server Browser" "$(head -n 1 <<<"$dialog")"
  check_eq "update dialog: its button" "Abort" "$(grep -P '^1003\t' <<<"$dialog" | cut -f3)"
  echo "     update dialog text: $(grep -P '^1004\t' <<<"$dialog" | cut -f3)"
  local status
  status=$(probe wait-status 0 "Completed." $PASS_LIMIT_MS | tr -d '\r') || fatal "no completion text after Update"
  check_eq "update: completion text" "$COMPLETED" "$status"
  check_eq "update: the dialog closed itself" "" "$(open_dialogs)"
  check_eq "update: one master request" "1" "$(http_requests)"
}

# Every answering server once, with its texts, a ping near its delay and the ping's image; the
# list ordered by ping.
check_rows() {  # WHEN
  local rows host address map players ping image row
  rows=$(probe rows servers | tr -d '\r')
  check_eq "$1: rows" "$ANSWERING" "$(grep -c . <<<"$rows")"
  while IFS=$'\t' read -r row host address map players ping image; do
    [ -n "${PORT[$host]:-}" ] || { failed "$1: unknown row host [$host]"; continue; }
    check_eq "$1: $host address" "127.0.0.1:${PORT[$host]}" "$address"
    check_eq "$1: $host map" "${MAP[$host]}" "$map"
    check_eq "$1: $host players" "$(player_count "${PLAYERS[$host]}") / ${MAXC[$host]}" "$players"
    check_range "$1: $host ping" $((DELAY[$host] - 1)) $((DELAY[$host] + 100)) "$ping"
    [[ "$ping" =~ ^[0-9]+$ ]] && check_eq "$1: $host ping image" "$(ping_image "$ping")" "$image"
    check_eq "$1: $host ping colour fits its delay" "$(ping_image "${DELAY[$host]}")" "$image"
  done <<<"$rows"
  check_eq "$1: sorted by ping" "$(cut -f6 <<<"$rows" | sort -n)" "$(cut -f6 <<<"$rows")"
  check_eq "$1: player count" "$PLAYER_TOTAL Player$(plural $PLAYER_TOTAL)" "$(probe status 1 | tr -d '\r')"
  check_eq "$1: server count" "$ANSWERING Server$(plural $ANSWERING)" "$(probe status 2 | tr -d '\r')"
}

open_dialogs() { probe windows | tr -d '\r' | awk -F'\t' '$2 == "#32770" && $3 == 1'; }
SERVER_LIST_FOCUS=$'143\tSysListView32' PLAYER_LIST_FOCUS=$'144\tSysListView32'

# The players of HOST as the player list shows them, "NAME<TAB>SCORE<TAB>PING" in reply order.
players_of() {  # HOST
  [ -n "${PLAYERS[$1]}" ] || return 0
  tr ';' '\n' <<<"${PLAYERS[$1]}" | awk -F/ '{ n = NF; name = $1; for (i = 2; i <= n - 2; i++) name = name "/" $i; print name "\t" $(n-1) "\t" $n }'
}

row_of() {  # HOST: the row index of that host in the server list
  probe rows servers | tr -d '\r' | awk -F'\t' -v h="$1" '$2 == h { print $1 }'
}

players_of_clicked_row() {
  local host="[AU] Down Under Frags" row expected
  row=$(row_of "$host")
  [ -n "$row" ] || fatal "no row for $host"
  click_row servers "$row"
  expected=$(players_of "$host")
  check_eq "click on $host: its players" "$expected" "$(probe rows players | tr -d '\r' | cut -f2-)"
  click_header players 1
  check_eq "players sorted by score, highest first" "$(cut -f2 <<<"$expected" | sort -rn)" "$(list_column players 1)"
}

sorting() {
  local hosts
  # A pass leaves the list in ping order, so the first click on Ping reverses it.
  click_header servers 4
  check_eq "ping header after a pass: slowest first" "$(list_column servers 4 | sort -nr)" "$(list_column servers 4)"
  click_header servers 4
  check_eq "ping header again: fastest first" "$(list_column servers 4 | sort -n)" "$(list_column servers 4)"
  hosts=$(list_column servers 0)
  click_header servers 0
  check_eq "host name header: ascending" "$(LC_ALL=C sort <<<"$hosts")" "$(list_column servers 0)"
  click_header servers 0
  check_eq "host name header again: descending" "$(LC_ALL=C sort -r <<<"$hosts")" "$(list_column servers 0)"
  click_header servers 3
  check_eq "players header: fullest first" "$(list_column servers 3 | sort -t/ -k1,1nr)" "$(list_column servers 3)"
}

configure_game_dir() {
  click_row players 0  # the focus goes to the player list, and must come back there
  check_eq "config: the player list has the focus before" "$PLAYER_LIST_FOCUS" "$(probe focus | tr -d '\r')"
  xdotool key alt+c
  local dialog
  dialog=$(probe dialog "Miscellaenous Configuration" 10000 | tr -d '\r') || fatal "no configuration dialog"
  probe press 161 || fatal "could not press Config while its dialog is up"  # one dialog at a time
  check_eq "config: game directory at first" "" "$(grep -P '^1013\t' <<<"$dialog" | cut -f3)"
  check_eq "config: executable at first" "quake2.exe" "$(grep -P '^1014\t' <<<"$dialog" | cut -f3)"
  check_eq "config: alternate start at first" "0" "$(probe dialog-check 1012 | tr -d '\r')"
  GAME_DIR_WIN=$(windows_path "$GAME_DIR")
  probe dialog-set 1013 "$GAME_DIR_WIN" || fatal "could not type the game directory"
  probe dialog-press 1 || fatal "could not press OK"
  for _ in $(seq 1 50); do
    probe windows | tr -d '\r' | awk -F'\t' '$2 == "#32770" && $3 == 1' | grep -q . || break
    sleep 0.1
  done
  check_eq "config: the dialog closed" "" "$(probe windows | tr -d '\r' | awk -F'\t' '$2 == "#32770" && $3 == 1')"
  check_eq "config: the focus is back on the player list" "$PLAYER_LIST_FOCUS" \
    "$(wait_output 5000 "$PLAYER_LIST_FOCUS" probe focus)"
}

SETTINGS_KEY='HKLM\SOFTWARE\tallow\Varnet Server Browser'
check_saved_state() {  # WHEN
  check_eq "$1: cache file size ($TOTAL records of 2328 bytes)" "$((TOTAL * 2328))" "$(cache_size "$RUN/kestrel.cache")"
  local first
  first=$(lab_port "${SERVERS[0]%%|*}")
  check_eq "$1: cache record 0 address" "127.0.0.1" "$(head -c 9 "$RUN/kestrel.cache")"
  check_eq "$1: cache record 0 port" "$first" "$(od -An -tu2 -j256 -N2 "$RUN/kestrel.cache" | tr -d ' ')"
  check_eq "$1: cache record 0 from the master list" "1" "$(od -An -td4 -j2324 -N4 "$RUN/kestrel.cache" | tr -d ' ')"
  check_eq "$1: registry Q2Dir" "REG_SZ    $GAME_DIR_WIN\\" "$(registry_value "$SETTINGS_KEY" Q2Dir /reg:32)"
  check_eq "$1: registry q2Exe" "REG_SZ    quake2.exe" "$(registry_value "$SETTINGS_KEY" q2Exe /reg:32)"
  check_eq "$1: registry Alt. Startup Method" "REG_DWORD    0x0" "$(registry_value "$SETTINGS_KEY" "Alt. Startup Method" /reg:32)"
}

exit_button() {
  xdotool key alt+e
  browser_wait_exit
  check_eq "Exit: exit code" "0" "$BROWSER_EXIT"
  check_saved_state "after Exit"
  check_eq "after Exit: nothing in the per-user key" "missing" \
    "$(registry_value 'HKCU\SOFTWARE\tallow\Varnet Server Browser' Q2Dir)"
  check_eq "after Exit: no per-user cache file" "missing" "$(cache_size "$(user_cache_file)")"
}

restart() {
  local before status
  before=$(http_requests)
  browser_start "$RUN" "$WORK/browser2.log"
  status=$(probe wait-status 0 "Completed." $PASS_LIMIT_MS | tr -d '\r')
  check_eq "restart: the cached servers refreshed" "$COMPLETED" "$status"
  check_eq "restart: no master request" "$before" "$(http_requests)"
  check_rows "restart"
  check_eq "restart: the server list has the focus" "$SERVER_LIST_FOCUS" "$(probe focus | tr -d '\r')"
  refresh_by "a click on Refresh" click_at $(probe window-point 141)
  check_eq "Refresh clicked: the focus is back in the server list" "$SERVER_LIST_FOCUS" "$(probe focus | tr -d '\r')"
  refresh_by "F5" xdotool key F5
  refresh_by "Alt+R" xdotool key alt+r
}

# One pass from the given input; F5 and Alt+R while Refresh is disabled for it add none.
refresh_by() {  # WHAT COMMAND...
  local what=$1 before
  before=$(lab_requests "${PORT[Frag Central]}")
  shift
  "$@"
  [ "$(wait_output 5000 0 probe enabled 141)" == 0 ] || fatal "$what: no pass"
  xdotool key F5 alt+r
  wait_output $PASS_LIMIT_MS 1 probe enabled 141 >/dev/null
  check_eq "$what, then F5 and Alt+R during its pass: one query" $((before + 1)) "$(lab_requests "${PORT[Frag Central]}")"
}

# The game's log once it has ended, or fatal.
game_log_lines() {
  local log=$GAME_DIR/fakegame.log
  for _ in $(seq 1 100); do
    grep -q "^end" "$log" 2>/dev/null && break
    sleep 0.1
  done
  tr -d '\r' <"$log" 2>/dev/null
}

# A row selected by a program (LVM_SETITEMSTATE alone), then real keys: Down selects the next
# row and shows its players, Enter starts the game on it.
keyboard() {
  local host="[AU] Down Under Frags" row selected host_down
  row=$(row_of "$host")
  probe select servers "$row" || fatal "could not select row $row"
  check_eq "LVM_SETITEMSTATE: the row is selected and marked" "$row $row" "$(probe selected servers | tr -d '\r')"
  check_eq "LVM_SETITEMSTATE: that row's players" "$(players_of "$host")" \
    "$(wait_output 5000 "$(players_of "$host")" eval 'probe rows players | cut -f2-')"
  xdotool key Down
  selected=$(wait_output 5000 "0 0" probe selected servers)
  check_eq "Down: the first row selected and marked (nothing had the keyboard's item)" "0 0" "$selected"
  host_down=$(list_column servers 0 | head -n 1)
  check_eq "Down: $host_down's players" "$(players_of "$host_down")" \
    "$(wait_output 5000 "$(players_of "$host_down")" eval 'probe rows players | cut -f2-')"
  xdotool key ctrl+c
  check_eq "Ctrl+C: the row's address" "127.0.0.1:${PORT[$host_down]}" "$(probe clipboard | tr -d '\r')"
  rm -f "$GAME_DIR/fakegame.log"
  xdotool key Return
  browser_wait_exit
  check_eq "Enter: exit code" "0" "$BROWSER_EXIT"
  local lines
  lines=$(game_log_lines)
  check_eq "Enter: the game started once" "1" "$(grep -c '^end' <<<"$lines")"
  check_eq "Enter: game command line" \
    "command line: +set game \"varnet\" +connect \"127.0.0.1:${PORT[$host_down]}\" +exec autoexec.cfg" \
    "$(grep '^command line:' <<<"$lines")"
}

third_start() {
  browser_start "$RUN" "$WORK/browser3.log"
  probe wait-status 0 "Completed." $PASS_LIMIT_MS >/dev/null || fatal "no pass at the third start"
}

launch() {
  local host="[EU] Railgun Arena" row point log
  row=$(row_of "$host")
  [ -n "$row" ] || fatal "no row for $host"
  point=$(probe item-point servers "$row") || fatal "no point for row $row"
  rm -f "$GAME_DIR/fakegame.log"
  xdotool mousemove $point click 3
  wait_output 5000 1 eval "probe windows | grep -c '#32768.1'" >/dev/null
  xdotool key a
  check_eq "menu: Copy Address" "127.0.0.1:${PORT[$host]}" "$(wait_output 5000 "127.0.0.1:${PORT[$host]}" probe clipboard)"
  xdotool key shift+F10
  wait_output 5000 1 eval "probe windows | grep -c '#32768.1'" >/dev/null
  xdotool key c
  browser_wait_exit
  check_eq "Shift+F10, Connect: exit code" "0" "$BROWSER_EXIT"
  log=$(game_log_lines)
  check_eq "Connect: the game started once" "1" "$(grep -c '^end' <<<"$log")"
  check_eq "Connect: game command line" \
    "command line: +set game \"varnet\" +connect \"127.0.0.1:${PORT[$host]}\" +exec autoexec.cfg" \
    "$(grep '^command line:' <<<"$log")"
  check_eq "Connect: game directory" "current directory: $GAME_DIR_WIN" "$(grep '^current directory:' <<<"$log")"
  check_saved_state "after the launch"
}

first_start
update
check_rows "after Update"
players_of_clicked_row
sorting
configure_game_dir
exit_button
restart
keyboard
third_start
launch
