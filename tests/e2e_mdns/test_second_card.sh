# Three devices whose broadcast reply names a MAC other than the one the
# PC's neighbour table has for them (a second card), each answering both
# ways, and a plain device: four rows, none a conflict, each with the MAC
# and name of its broadcast reply and, for the three, the ARP column's "*".
# Usage: test_second_card.sh PROGRAM_EXE WINPROBE_EXE
source "$(dirname "$0")/mdns_lib.sh"

if [[ -z ${NDT_E2E_MDNS_SCENARIO:-} ]]; then
  run_in_mdns_lab second-card "$@"
  exit
fi

mdns_init "$@"
ips=(192.168.77.71 192.168.77.72 192.168.77.73 192.168.77.74)

# Every read for SECONDS: four rows, none red.
hold_four_rows() {
  local deadline=$((SECONDS + $1)) index
  while ((SECONDS < deadline)); do
    dump_list
    rows_are 4 || { show_rows >&2; fail "$2: expected four rows"; }
    for index in 0 1 2 3; do
      [[ $(row_state "$index") != 3 ]] || { show_rows >&2; fail "$2: row $index is a conflict"; }
    done
    sleep 0.3
  done
}

start_app
wait_main_window 20
wait_for 20 "the four devices listed" all_listed "${ips[@]}"
winprobe auto-refresh 1 || fail "cannot check Auto-refresh"
hold_four_rows 8 "both ways"
show_rows
for n in 1 2 3; do
  expect_row "192.168.77.7$n" "02-4F-56-6D-00-7$n" "X200 C$n" "Orvel X200 - v1.4" "*" 80 0
done
expect_row 192.168.77.74 02-4F-56-6D-00-74 "X200 Plain" "Orvel X200 - v1.4" - 80 0

close_app_expect_exit 0
note "PASS"
