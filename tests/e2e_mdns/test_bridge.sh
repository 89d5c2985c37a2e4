# Three devices behind a bridge that rewrites MACs: the PC's neighbour table
# gives each the bridge's MAC, their broadcast replies name their own, and
# each answers both ways. Each is one row with its own name and MAC, none is
# a conflict, and the ARP column says the table knows another MAC ("*").
# Usage: test_bridge.sh PROGRAM_EXE WINPROBE_EXE
source "$(dirname "$0")/mdns_lib.sh"

if [[ -z ${NDT_E2E_MDNS_SCENARIO:-} ]]; then
  run_in_mdns_lab bridge "$@"
  exit
fi

mdns_init "$@"
ips=(192.168.77.61 192.168.77.62 192.168.77.63)

# Every read for SECONDS: three rows, none red.
hold_three_rows() {
  local deadline=$((SECONDS + $1)) index
  while ((SECONDS < deadline)); do
    dump_list
    rows_are 3 || { show_rows >&2; fail "$2: expected three rows"; }
    for index in 0 1 2; do
      [[ $(row_state "$index") != 3 ]] || { show_rows >&2; fail "$2: row $index is a conflict"; }
    done
    sleep 0.3
  done
}

start_app
wait_main_window 20
wait_for 20 "the three devices listed" all_listed "${ips[@]}"
note "auto-refresh off"
hold_three_rows 6 "auto-refresh off"
show_rows

note "auto-refresh on: each row shows its device's own reply"
winprobe auto-refresh 1 || fail "cannot check Auto-refresh"
hold_three_rows 8 "auto-refresh on"
show_rows
for n in 1 2 3; do
  expect_row "192.168.77.6$n" "02-4F-56-6D-00-6$n" "X200 B$n" "Orvel X200 - v1.4" "*" 80 0
done

close_app_expect_exit 0
note "PASS"
