# --watch: rows come as the devices answer; a device that falls silent gets
# a "gone" line while the others stay; Ctrl+C (SIGINT, which Wine hands to
# the console control handler as CTRL_C_EVENT) ends the run at once with
# status 0, discovery taken down (the page heap and Wine's heap checks
# watch the teardown).
# Usage: test_watch.sh PROGRAM_EXE WINPROBE_EXE SCAN_EXE
source "$(dirname "$0")/scan_lib.sh"

if [[ -z ${NDT_E2E_SCAN:-} ]]; then
  run_in_demo_lab "$@"
  exit
fi

scan_init "$@"
out=$E2E_TMP/watch.csv

has_line() {
  grep -q "^\"$1\",\"$2\"," "$out"
}

wait_line() {
  local seconds=$1 event=$2 ip=$3 deadline=$((SECONDS + $1))
  until has_line "$event" "$ip"; do
    ((SECONDS < deadline)) || { cat "$out" >&2; fail "no '$event' line for $ip within $seconds s"; }
    sleep 0.1
  done
}

start_scan "$out" --watch --format csv
wait_line 20 new 192.168.77.21
wait_line 20 new 192.168.77.41
wait_line 20 conflict 192.168.77.30
sleep 2

note "the hall device falls silent"
sim silence hall
silenced=$(now)
wait_line 15 gone 192.168.77.21
note "gone line $(elapsed "$silenced") s after the device fell silent"
sleep 2
for ip in 192.168.77.22 192.168.77.23 169.254.7.20 192.168.77.41; do
  has_line gone "$ip" && { cat "$out" >&2; fail "$ip was reported gone but still answers"; }
done

kill -INT "$SCAN_PID" || fail "cannot send SIGINT"
interrupted=$(now)
wait_scan_exit 5 || fail "the console did not end within 5 s of Ctrl+C"
took=$(elapsed "$interrupted")
note "the console ended $took s after Ctrl+C with status $SCAN_STATUS"
expect_eq "$SCAN_STATUS" 0 "exit status after Ctrl+C"
in_range "$took" 0 1.5 || fail "Ctrl+C took $took s to end the run"
sed 's/^/   watch /' "$out"
note "PASS"
