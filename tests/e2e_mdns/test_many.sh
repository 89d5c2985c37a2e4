# Ten devices that speak only multicast DNS: one Refresh with auto-refresh
# off lists all ten (a browse pass must not end while instances are still
# waiting to be resolved); with auto-refresh on every one stays listed, with
# no gap, for 30 s (a device that keeps answering must not expire between
# two reports of the browse).
# Usage: test_many.sh PROGRAM_EXE WINPROBE_EXE
source "$(dirname "$0")/mdns_lib.sh"

if [[ -z ${NDT_E2E_MDNS_SCENARIO:-} ]]; then
  run_in_mdns_lab ten "$@"
  exit
fi

mdns_init "$@"
read -r -a ips <<<"$(mdns_listed_ips)"
expect_eq "${#ips[@]}" 10 "devices in the scenario"
start_app
wait_main_window 20
wait_for 30 "ten devices listed after the start" all_listed "${ips[@]}"
# The start's browse ends 2 s after its last new host; Refresh then starts
# a browse of its own.
sleep 4

note "auto-refresh off: one Refresh"
winprobe command 1001 || fail "cannot post Refresh"
refreshed=$(now)
wait_for 30 "all ten devices listed after one Refresh" all_listed "${ips[@]}"
note "all ten listed $(elapsed "$refreshed") s after Refresh"
for ip in "${ips[@]}"; do
  octet=${ip##*.}
  expect_row "$ip" "$(printf '02-4F-56-6D-4D-%02X' "$octet")" "x200-$octet" "Orvel X200 - v1.4" Y 80 0
done
expect_eq "$(row_count)" 10 "number of rows"

note "auto-refresh on: the devices stay listed"
winprobe auto-refresh 1 || fail "cannot check Auto-refresh"
# Refresh empties the list; rows from before auto-refresh are not the point.
winprobe command 1001 || fail "cannot post Refresh"
wait_for 30 "all ten devices listed with auto-refresh on" all_listed "${ips[@]}"
hold_listed 30 "${ips[@]}"

close_app_expect_exit 0
note "PASS"
