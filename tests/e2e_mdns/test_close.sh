# Closing the main window while every interface of a PC with three
# interfaces runs a browse (devices that speak only multicast DNS in each
# network) ends the process with code 0 in under a second, with auto-refresh
# off and on. The timing is that of the broadcast tests' test_close.sh, which
# runs here unchanged inside this lab, with this scenario (it has no
# broadcast devices).
# Usage: test_close.sh PROGRAM_EXE WINPROBE_EXE (NDT_E2E_CLOSE_RUNS: closes, default 4)
source "$(dirname "$0")/mdns_lib.sh"

if [[ -z ${NDT_E2E_MDNS_SCENARIO:-} ]]; then
  run_in_mdns_lab close-three "$@"
  exit
fi

mdns_init "$@"
# bcast_lib.sh looks its scenario up relative to its own scenarios folder.
NDT_E2E_BCAST_SCENARIO=../../e2e_mdns/scenarios/$NDT_E2E_MDNS_SCENARIO \
  bash "$BCAST_DIR/test_close.sh" "$@" || fail "closing took too long or failed (above)"
# The responders of our own log the queries they hear: every interface browsed.
for pc in $("$MDNS_DEVICES" pc "$MDNS_SCENARIO_FILE"); do
  grep -q "query from ${pc%/*}:" "$NDT_LAB_DIR/mdns/log" || fail "no multicast DNS query from ${pc%/*}"
done
note "PASS"
