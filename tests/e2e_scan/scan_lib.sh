# Helpers for the console program's end-to-end scripts, on top of
# tests/e2e_mdns/mdns_lib.sh: a lab with the demo network (the broadcast
# devices of tools/scenarios/demo.json and the multicast DNS devices of
# tools/scenarios/mdns/demo.json), and the console run in it.
#
# A script calls run_in_demo_lab from the lab ctest runs in; that runs the
# script again in a lab of its own with NDT_E2E_SCAN set, where scan_init
# starts the devices. The console's stderr joins the program log, so memory
# errors there fail the test as the window's do.

source "$(dirname "${BASH_SOURCE[0]}")/../e2e_mdns/mdns_lib.sh"
SCAN_EXE=""
SCAN_PID=""
SCAN_STATUS=""

run_in_demo_lab() {
  run_script_in_lab NDT_E2E_SCAN demo "$BCAST_TOOLS/simulate" "$BCAST_TOOLS/scenarios/demo.json" "$@"
}

# scan_init PROGRAM_EXE WINPROBE_EXE SCAN_EXE: inside the demo lab.
scan_init() {
  e2e_init "$1" "$2"
  SCAN_EXE=$3
  [[ -f $SCAN_EXE ]] || fail "console program not built: $SCAN_EXE"
  trap scan_cleanup EXIT
  trap 'exit 143' TERM
  trap 'exit 130' INT
  reset_settings
  SCENARIO_FILE=$BCAST_TOOLS/scenarios/demo.json
  COUNTS=$E2E_TMP/counts.json
  SIMULATOR_STARTED=1
  "$BCAST_TOOLS/demo" start "$NDT_LAB" "$SCENARIO_FILE" || fail "could not start the demo devices"
  learn_device_addresses
  MDNS_STARTED=1
  "$MDNS_DEVICES" start "$NDT_LAB" "$BCAST_TOOLS/scenarios/mdns/demo.json" >/dev/null ||
    fail "could not start the demo's multicast DNS devices"
}

scan_cleanup() {
  local status=$?
  if [[ -n $SCAN_PID ]] && kill -0 "$SCAN_PID" 2>/dev/null; then
    kill -KILL "$SCAN_PID" 2>/dev/null
    wait "$SCAN_PID" 2>/dev/null
  fi
  stop_app
  [[ -n $MDNS_STARTED ]] && "$MDNS_DEVICES" stop "$NDT_LAB"
  [[ -n $SIMULATOR_STARTED ]] && "$BCAST_TOOLS/demo" stop "$NDT_LAB"
  (exit "$status")
  e2e_cleanup
}

# start_scan OUT ARGS...: the console in the background, stdout to OUT.
start_scan() {
  local out=$1
  shift
  wine "$SCAN_EXE" "$@" >"$out" 2>>"$APP_LOG" &
  SCAN_PID=$!
  note "started the console (pid $SCAN_PID): $*"
}

# wait_scan_exit SECONDS: its status into SCAN_STATUS; fails on time-out.
wait_scan_exit() {
  local deadline
  deadline=$(awk -v s="$(now)" -v d="$1" 'BEGIN { printf "%.3f", s + d }')
  while kill -0 "$SCAN_PID" 2>/dev/null && [[ $(awk '{print $3}' "/proc/$SCAN_PID/stat" 2>/dev/null) != Z ]]; do
    in_range "$(now)" 0 "$deadline" || return 1
    sleep 0.02
  done
  wait "$SCAN_PID"
  SCAN_STATUS=$?
  SCAN_PID=""
}
