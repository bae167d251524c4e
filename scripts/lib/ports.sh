# Shared by the tests and benches that start the lab: a range of UDP and TCP ports of 127.0.0.1
# that no other run of them on this machine uses at the same time. Source it, then call
# reserve_ports; the lab takes --port-offset "$PORT_OFFSET" and every port of the run's configs
# moves by it.
#
# The configs name ports between 28100 and 33100. Each offset below moves that whole range to one
# that overlaps no other's and stays clear of 27900-27999, where Quake II servers and their
# masters listen, so neither a real server nor a second worktree's tests can take a port of ours.
# A run holds its range with a lock on a file until it ends (the lock goes with the last process
# that inherited it); a run that finds every range taken waits for one.
PORT_OFFSETS=(0 -5300 -10600 -15900 -21200)
PORT_WAIT_S=900

# Points the browser of $WINEPREFIX at a master on 127.0.0.1:PORT through MasterURL in the
# machine's settings key: a real master may listen on the built-in address.
use_master_port() {  # PORT
  wine reg add 'HKLM\SOFTWARE\tallow\Varnet Server Browser' /v MasterURL /t REG_SZ \
    /d "http://127.0.0.1:$1/servers.txt" /f /reg:32 >/dev/null 2>&1 </dev/null
}

reserve_ports() {
  local waited slot
  [ -n "${PORT_FD:-}" ] && return 0
  for ((waited = 0; waited <= PORT_WAIT_S; waited++)); do
    for slot in "${!PORT_OFFSETS[@]}"; do
      exec {PORT_FD}>>"/tmp/varnet-ports.$slot.lock"
      if flock -n "$PORT_FD"; then
        export PORT_OFFSET=${PORT_OFFSETS[$slot]}
        return 0
      fi
      exec {PORT_FD}>&-
    done
    [ "$waited" -eq 0 ] && echo "ports: every range of test ports is in use by another run; waiting" >&2
    sleep 1
  done
  PORT_FD=""
  echo "ports: no range of test ports came free in $PORT_WAIT_S s" >&2
  return 1
}
