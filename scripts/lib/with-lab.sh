#!/usr/bin/env bash
# Runs a command while the lab serves the given config on 127.0.0.1; stops the lab by its PID.
# The config's ports move by this run's offset (scripts/lib/ports.sh), which the command finds in
# VARNET_PORT_OFFSET.
# usage: with-lab.sh LAB_BINARY CONFIG COMMAND [ARGS...]
set -u
lab=$1 config=$2
shift 2
source "$(dirname "${BASH_SOURCE[0]}")/ports.sh"
reserve_ports || exit 1
export VARNET_PORT_OFFSET=$PORT_OFFSET
work=$(mktemp -d)
"$lab" --config "$config" --port-offset "$PORT_OFFSET" --lifetime 600 --ready "$work/ready" --log "$work/lab.log" \
  >/dev/null 2>&1 &
lab_pid=$!
stop_lab() {
  kill "$lab_pid" 2>/dev/null || true
  wait "$lab_pid" 2>/dev/null || true
}
trap stop_lab EXIT
for _ in $(seq 1 100); do
  [ -s "$work/ready" ] && break
  kill -0 "$lab_pid" 2>/dev/null || { echo "lab failed to start"; cat "$work/lab.log"; exit 1; }
  sleep 0.05
done
[ -s "$work/ready" ] || { echo "lab not ready"; exit 1; }
export VARNET_LAB_LOG="$work/lab.log"
"$@" {PORT_FD}>&-  # the range is ours until this script ends, not until a Wine helper does
status=$?
if [ $status -ne 0 ]; then echo "--- lab log ---"; tail -n 50 "$work/lab.log"; fi
exit $status
