# Helpers for the multicast DNS end-to-end scripts, on top of
# tests/e2e_broadcast/bcast_lib.sh (rows, waits, timing) and tests/e2e/lib.sh
# (the program, the winprobe): a lab per scenario with the scenario's
# multicast DNS devices (tools/mdns-devices) on its LAN.
#
# A script starts in the lab that ctest runs in and calls run_in_mdns_lab
# for each scenario it needs; that runs the script again inside a new lab
# whose PC has the scenario's addresses, with NDT_E2E_MDNS_SCENARIO set. The
# inner run calls mdns_init, which starts the devices, and ends everything
# it started on exit.

source "$(dirname "${BASH_SOURCE[0]}")/../e2e_broadcast/bcast_lib.sh"
MDNS_DIR=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
MDNS_DEVICES=$BCAST_TOOLS/mdns-devices
MDNS_SCENARIO_FILE=""
MDNS_STARTED=""

mdns_scenario_file() {
  printf '%s/scenarios/%s.json' "$MDNS_DIR" "$1"
}

# run_in_mdns_lab SCENARIO ARGS...: this script again, in a lab of its own.
run_in_mdns_lab() {
  local scenario=$1
  shift
  run_script_in_lab NDT_E2E_MDNS_SCENARIO "$scenario" "$MDNS_DEVICES" "$(mdns_scenario_file "$scenario")" "$@"
}

# mdns_init PROGRAM_EXE WINPROBE_EXE: inside the scenario's lab.
mdns_init() {
  e2e_init "$@"
  MDNS_SCENARIO_FILE=$(mdns_scenario_file "$NDT_E2E_MDNS_SCENARIO")
  trap mdns_cleanup EXIT
  trap 'exit 143' TERM
  trap 'exit 130' INT
  note "inside lab $NDT_LAB ($(ip -4 -o addr show | awk '$2 != "lo" { print $4 }' | tr '\n' ' '))"
  reset_settings
  MDNS_STARTED=1
  "$MDNS_DEVICES" start "$NDT_LAB" "$MDNS_SCENARIO_FILE" ||
    fail "could not start the multicast DNS devices of $MDNS_SCENARIO_FILE"
}

mdns_cleanup() {
  local status=$?
  stop_app
  if [[ -n $MDNS_STARTED ]]; then
    if ((status != 0)); then
      echo "-- multicast DNS devices' log:"
      sed 's/^/   /' "$NDT_LAB_DIR/mdns/log" 2>/dev/null
    fi
    "$MDNS_DEVICES" stop "$NDT_LAB" || echo "FAIL: could not stop the multicast DNS devices" >&2
  fi
  (exit "$status")
  e2e_cleanup
}

# The addresses of the scenario's devices that the program must list.
mdns_listed_ips() {
  "$MDNS_DEVICES" list "$MDNS_SCENARIO_FILE" |
    /usr/bin/python3 -c 'import json, sys
print(" ".join(d["ip"] for d in map(json.loads, sys.stdin) if d["listed_as"]))'
}

# mdns_sim INDEX WORDS...: a command to the broadcast simulator of device INDEX.
mdns_sim() {
  local index=$1
  shift
  "$BCAST_TOOLS/simulate" ctl "$NDT_LAB_DIR/mdns/simulator-m$index.sock" "$@" >/dev/null ||
    fail "simulator of device $index: command failed: $*"
}

# hold_listed SECONDS IP...: reads the list about every half second for that
# long; fails at the first read that lacks one of the addresses.
hold_listed() {
  local seconds=$1 start missing ip reads=0
  shift
  start=$(now)
  while in_range "$(elapsed "$start")" 0 "$seconds"; do
    dump_list
    reads=$((reads + 1))
    missing=""
    for ip in "$@"; do
      [[ -n $(rows_with_ip "$ip") ]] || missing+="$ip "
    done
    if [[ -n $missing ]]; then
      show_rows >&2
      fail "$(elapsed "$start") s into the hold (read $reads): not listed: $missing"
    fi
    sleep 0.2
  done
  note "all $# devices listed in each of $reads reads over $seconds s"
}
