# Forged answers make bounded traffic. For 12 s, 200 well-formed answers a
# second come from 510 addresses that the PC's neighbour table knows, each
# answer with a new name, while auto-refresh is on: each one posted starts
# its sender's direct requests over. The flooder, on the devices' side,
# counts the requests the program sends to those addresses: at most eight
# to one address in any 3 s (checked over 2.5 s, so that arrival jitter
# cannot push a ninth in) and at most 64 a second in all: over the whole
# flood, and within any one second as heard, where the program's send times
# shift its batches (up to 32 requests each) by some milliseconds, so one
# batch more may fall in. Without the bounds the program sends over a
# thousand a second.
# Usage: test_forged.sh PROGRAM_EXE WINPROBE_EXE
source "$(dirname "$0")/bcast_lib.sh"

if [[ -z ${NDT_E2E_BCAST_SCENARIO:-} ]]; then
  run_in_scenario_lab forged "$@"
  exit
fi

bcast_init "$@"
senders=510
rate=200
seconds=12

note "static neighbour rows for the $senders forged senders, with the MACs their answers report"
/usr/bin/python3 -c 'import sys
for i in range(int(sys.argv[1])):
    n = 257 + i  # 10.77.1.1 onwards
    print("neigh replace 10.77.%d.%d lladdr 06:46:4c:%02x:%02x:%02x dev pc0 nud permanent"
          % (n >> 8, n & 255, i >> 16, (i >> 8) & 255, i & 255))' "$senders" | ip -batch - ||
  fail "cannot add the neighbour rows"

start_app
wait_main_window 20
winprobe auto-refresh 1 || fail "cannot check Auto-refresh"
wait_for 15 "the real device listed" all_listed 10.77.0.2

summary=$("$BCAST_TOOLS/lab" dev "$NDT_LAB" -- "$BCAST_TOOLS/simulate" flood --rate "$rate" \
  --seconds "$seconds" --first 10.77.1.1 --senders "$senders" --wellformed 1 --fresh-names --seed 1) ||
  fail "the flood did not run"
summary=$(tail -n 1 <<<"$summary")
note "flood: $summary"
field() {
  /usr/bin/python3 -c 'import json, sys; print(json.loads(sys.argv[1])[sys.argv[2]])' "$summary" "$1"
}
app_running || fail "the program ended during the flood"
(($(field wellformed) >= rate * seconds * 9 / 10)) || fail "the flood sent too few answers"
requests=$(field requests)
per_second=$(awk -v r="$requests" -v s="$(field seconds)" 'BEGIN { printf "%.0f", r / s }')
note "the program sent $requests direct requests to forged senders: $per_second a second"
((requests > 0)) || fail "no direct request heard: nothing was counted"
(($(field requests_most_to_one_in_2_5_s) <= 8)) ||
  fail "more than eight requests to one address within 2.5 s"
(($(field requests_most_per_second) <= 64 + 32)) || fail "more than 64 requests and a batch within a second"
((requests <= 64 * (seconds + 1))) || fail "more than 64 requests a second over the flood"
close_app_expect_exit 0
note "PASS"
