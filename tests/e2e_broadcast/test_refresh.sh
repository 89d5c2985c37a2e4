# Requests and rows on a PC with two interfaces, counted at the simulator:
# devices of both subnets are listed; with auto-refresh off the start, each
# Refresh and each subnet choice send exactly one pass of requests per
# admitted interface, to that interface's broadcast address, and nothing is
# sent in between; with it on each interface sends about two a second
# outside a pass; a subnet choice restricts both the requests and the rows to
# that network (a late answer that reaches the other interface's socket is
# not listed); with auto-refresh on, a device that stops
# answering disappears about three seconds after its last posted answer,
# with it off it stays.
# Usage: test_refresh.sh PROGRAM_EXE WINPROBE_EXE
source "$(dirname "$0")/bcast_lib.sh"

if [[ -z ${NDT_E2E_BCAST_SCENARIO:-} ]]; then
  run_in_scenario_lab two-interfaces "$@"
  exit
fi

bcast_init "$@"
pc_a=192.168.77.10
pc_b=192.168.88.10
ips_a=(192.168.77.21 192.168.77.22 192.168.77.29)
ips_b=(192.168.88.21 192.168.88.22)
all_ips=("${ips_a[@]}" "${ips_b[@]}")
# Sending rate accepted with auto-refresh on, requests per second per
# interface: a send every 500 ms, delayed by up to 100 ms by the receive wait.
rate_low=1.5
rate_high=2.3

# Requests the meter heard from each interface so far.
meter_counts() {
  echo "$(requests_from meter "$pc_a") $(requests_from meter "$pc_b")"
}

# expect_requests A B WHAT: once the passes are over, the totals each
# interface has sent are A and B, and stay so.
expect_requests() {
  settle_counts "$3: requests from $pc_a $pc_b" "$1 $2" meter_counts
}

# Requests from each interface, then the slow device's answers and the
# requests it heard.
meter_and_slow_counts() {
  echo "$(meter_counts) $(answers_of slow) $(requests_from slow "$pc_a")"
}

# wait_passes_over A B: the passes under way have brought the totals to at
# least A and B (auto-refresh on: requests continue).
wait_passes_over() {
  local deadline=$((SECONDS + 15))
  while read_counts && ! counts_reached "$(meter_counts)" "$1 $2"; do
    ((SECONDS < deadline)) || fail "requests from $pc_a $pc_b are $(meter_counts), expected at least $1 $2"
    sleep 0.2
  done
}

# measure_rates SECONDS: SENT_A and SENT_B over that time, and RATE_A,
# RATE_B: requests a second from the mean gap between those requests (the
# simulator's times), which no window's edges bias.
measure_rates() {
  local a0 b0 u0 a1 b1 u1 mark
  read_counts
  a0=$(requests_from meter "$pc_a") b0=$(requests_from meter "$pc_b") u0=$(uptime_of_counts)
  mark=$(counts_query "max([r['time'] for r in c['recent_requests']] + [0])")
  sleep "$1"
  read_counts
  a1=$(requests_from meter "$pc_a") b1=$(requests_from meter "$pc_b") u1=$(uptime_of_counts)
  SENT_A=$((a1 - a0)) SENT_B=$((b1 - b0))
  RATE_A=$(rate_since "$mark" "$pc_a")
  RATE_B=$(rate_since "$mark" "$pc_b")
  MEASURED=$(awk -v a="$u0" -v b="$u1" 'BEGIN { printf "%.2f", b - a }')
}

# rate_since MARK SOURCE: requests a second from SOURCE after simulator time
# MARK, from the first to the last of them; 0 with fewer than two.
rate_since() {
  counts_query "(lambda t: '%.2f' % ((len(t) - 1) / (t[-1] - t[0]) if len(t) > 1 else 0))(
    sorted(r['time'] for r in c['recent_requests'] if r['source'] == '$2' and r['time'] > $1))"
}

expect_only_subnet_b() {
  dump_list
  [[ $(listed_ips) == "${ips_b[*]} " ]] || {
    show_rows >&2
    fail "$1: listed $(listed_ips), expected only ${ips_b[*]}"
  }
}

start_app
wait_main_window 20
wait_for 15 "devices of both subnets listed" all_listed "${all_ips[@]}"
sleep 0.5
dump_list
show_rows
expect_row 192.168.77.21 02-4F-56-00-60-01 "IO-8 A1" "Orvel IO-8" Y 80 0
expect_row 192.168.77.22 02-4F-56-00-60-02 "IO-8 A2" "Orvel IO-8" Y 8080 0
expect_row 192.168.77.29 02-4F-56-00-60-09 "IO-8 Slow" "Orvel IO-8" Y 80 0
expect_row 192.168.88.21 02-4F-56-00-60-03 "IO-8 B1" "Orvel IO-8" Y 80 0
expect_row 192.168.88.22 02-4F-56-00-60-04 "IO-8 B2" "Orvel IO-8" Y 8080 0
expect_eq "$(row_count)" 5 "number of rows (the meter never answers)"
subnet_b=$(combo_index 192.168.88.0)
[[ -n $subnet_b ]] || fail "no subnet entry 192.168.88.0: $(dump_lines combo | tr '\n' ' ')"

p=$PASS_REQUESTS
note "auto-refresh off: one pass per interface at the start, nothing without a trigger"
expect_requests $p $p "after the start"
destinations=$(counts_query "sorted(set((r['source'], r['destination']) for r in c['recent_requests']))")
expect_eq "$destinations" "[('$pc_a', '192.168.77.255'), ('$pc_b', '192.168.88.255')]" \
  "sources and destinations of the requests"

note "Refresh: one more pass per interface"
winprobe command 1001 || fail "cannot post Refresh"
expect_requests $((2 * p)) $((2 * p)) "after Refresh"
wait_for 5 "all rows after Refresh" all_listed "${all_ips[@]}"

note "subnet choice 192.168.88.0 with auto-refresh off"
# Refresh first, and choose as soon as its passes are over: the slow device
# answers the last requests two seconds later, by then to a socket whose
# interface is no longer chosen. The choice starts a pass on 192.168.88.10.
winprobe command 1001 || fail "cannot post Refresh"
wait_counts "requests of the Refresh" "$((3 * p)) $((3 * p))" meter_counts
winprobe select-subnet "$subnet_b" || fail "cannot choose subnet $subnet_b"
read_counts
(($(answers_of slow) < $(requests_from slow "$pc_a"))) ||
  fail "the slow device had answered every request before the subnet choice: the test needs it late"
# One answer per request the slow device heard, all of them sent by now.
settle_counts "after Refresh and the subnet choice: requests from $pc_a $pc_b, answers and requests of slow" \
  "$((3 * p)) $((4 * p)) $((3 * p)) $((3 * p))" meter_and_slow_counts
expect_only_subnet_b "with subnet 192.168.88.0 chosen"

note "All Interfaces again"
winprobe select-subnet 0 || fail "cannot choose All Interfaces"
expect_requests $((4 * p)) $((5 * p)) "after choosing All Interfaces"
wait_for 5 "all rows with All Interfaces" all_listed "${all_ips[@]}"

note "auto-refresh on: a pass, then about two requests a second per interface"
winprobe auto-refresh 1 || fail "cannot check Auto-refresh"
wait_passes_over $((5 * p)) $((6 * p))
measure_rates 3
note "in $MEASURED s: $SENT_A from $pc_a ($RATE_A/s), $SENT_B from $pc_b ($RATE_B/s)"
in_range "$RATE_A" $rate_low $rate_high || fail "rate from $pc_a is $RATE_A/s, expected $rate_low to $rate_high"
in_range "$RATE_B" $rate_low $rate_high || fail "rate from $pc_b is $RATE_B/s, expected $rate_low to $rate_high"

note "auto-refresh on, subnet 192.168.88.0: only that interface sends and lists"
read_counts
before_b=$(requests_from meter "$pc_b")
winprobe select-subnet "$subnet_b" || fail "cannot choose subnet $subnet_b"
# The choice starts a pass on 192.168.88.10; measure after it.
wait_passes_over 0 $((before_b + p))
measure_rates 3
note "in $MEASURED s: $SENT_A from $pc_a, $SENT_B from $pc_b ($RATE_B/s)"
expect_eq "$SENT_A" 0 "requests from $pc_a while 192.168.88.0 is chosen"
in_range "$RATE_B" $rate_low $rate_high || fail "rate from $pc_b is $RATE_B/s, expected $rate_low to $rate_high"
expect_only_subnet_b "with auto-refresh and subnet 192.168.88.0"
winprobe select-subnet 0 || fail "cannot choose All Interfaces"
wait_for 5 "all rows with All Interfaces and auto-refresh" all_listed "${all_ips[@]}"

note "auto-refresh on: a silent device disappears"
others_listed() {
  all_listed 192.168.77.21 192.168.88.21 || {
    show_rows >&2
    fail "a device that still answers disappeared"
  }
}
sleep 1
sim silence b2
silenced=$(now)
gone=""
last_seen_listed=0
while [[ -z $gone ]] && in_range "$(elapsed "$silenced")" 0 8; do
  dump_list
  others_listed
  if [[ -n $(rows_with_ip 192.168.88.22) ]]; then
    last_seen_listed=$(elapsed "$silenced")
  else
    gone=$(elapsed "$silenced")
  fi
  sleep 0.1
done
[[ -n $gone ]] || fail "192.168.88.22 still listed 8 s after its device fell silent"
note "192.168.88.22 last listed $last_seen_listed s and gone $gone s after its device fell silent"
# Its last posted answer came at most two sending periods (1.2 s) before the
# silence (a repeat within 0.6 s of a posted one is held back); a tick every
# 250 ms removes its row once 3 s have passed since that answer.
in_range "$gone" 1.5 5.0 || fail "192.168.88.22 disappeared after $gone s, expected 1.8 to 3.25 s (1.5 to 5.0 accepted)"
sim resume b2
wait_for 3 "192.168.88.22 back after its device answers again" all_listed "${all_ips[@]}"

note "auto-refresh off: a silent device stays"
winprobe auto-refresh 0 || fail "cannot clear Auto-refresh"
sleep 1
read_counts
before_a=$(requests_from meter "$pc_a") before_b=$(requests_from meter "$pc_b")
sim silence b2
sleep 5
dump_list
all_listed "${all_ips[@]}" || { show_rows >&2; fail "a row disappeared with auto-refresh off"; }
expect_eq "$(row_count)" 5 "number of rows 5 s after a device fell silent with auto-refresh off"
expect_requests "$before_a" "$before_b" "5 s with auto-refresh off"
sim resume b2

close_app_expect_exit 0
note "PASS"
