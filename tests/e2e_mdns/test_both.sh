# A device that answers both by multicast DNS and the broadcast request
# (same address, same MAC) is one row: after either path alone, and with
# both answering, with auto-refresh off and on. The two paths name it
# differently ("x200-both" by its host name, "X200 Both" in the broadcast
# answer), which shows which path gave the row.
# Usage: test_both.sh PROGRAM_EXE WINPROBE_EXE
source "$(dirname "$0")/mdns_lib.sh"

if [[ -z ${NDT_E2E_MDNS_SCENARIO:-} ]]; then
  run_in_mdns_lab both "$@"
  exit
fi

mdns_init "$@"
ip=192.168.77.51
mac=02-4F-56-6D-00-51

one_row() {
  rows_are 1 && [[ -n $(row_of "$ip" "$mac") ]]
}

expect_one_row() {
  dump_list
  one_row || { show_rows >&2; fail "$1: expected one row for $ip with MAC $mac"; }
  expect_eq "$(row_state 0)" 0 "state of the row ($1)"
}

start_app
wait_main_window 20
wait_for 15 "the device listed" all_listed "$ip"
sleep 3
expect_one_row "after the start"

note "multicast DNS alone"
mdns_sim 1 silence all
winprobe command 1001 || fail "cannot post Refresh"
wait_for 15 "the device listed by multicast DNS" all_listed "$ip"
sleep 3
dump_list
show_rows
expect_row "$ip" "$mac" x200-both "Orvel X200 - v1.4" Y 80 0
expect_eq "$(row_count)" 1 "number of rows"

note "both paths again"
mdns_sim 1 resume all
winprobe command 1001 || fail "cannot post Refresh"
wait_for 15 "the device listed" all_listed "$ip"
sleep 3
expect_one_row "after Refresh with both paths"

note "auto-refresh on: one row throughout"
winprobe auto-refresh 1 || fail "cannot check Auto-refresh"
names=""
settled=$((SECONDS + 2))  # the broadcast answer of the last Refresh has aged out by now
deadline=$((SECONDS + 12))
while ((SECONDS < deadline)); do
  expect_one_row "auto-refresh on"
  ((SECONDS >= settled)) && names+="$(dump_lines row | cut -f 3)"$'\n'
  sleep 0.3
done
seen=$(sort -u <<<"$names" | grep .)
note "names seen: $(tr '\n' ',' <<<"$seen")"
# Once both paths answer steadily, the row keeps the device's own name
# from its broadcast reply: the multicast DNS answers in between must not
# rename it.
[[ $seen == "X200 Both" ]] || fail "the row's name changed while both paths answered: $(tr '\n' ',' <<<"$seen")"

close_app_expect_exit 0
note "PASS"
