# Rows and columns of broadcast answers, one lab per PC setting: a PC with one
# interface (own subnet with every form of MAC and port line, other subnets,
# other vendors, an address conflict) and a PC with only a link-local address.
# States: 0 Normal, 1 LinkLocal, 2 OtherSubnet, 3 Conflict.
# Usage: test_rows.sh PROGRAM_EXE WINPROBE_EXE
source "$(dirname "$0")/bcast_lib.sh"

if [[ -z ${NDT_E2E_BCAST_SCENARIO:-} ]]; then
  run_in_scenario_lab same-subnet "$@" || exit 1
  run_in_scenario_lab link-local "$@" || exit 1
  exit 0
fi

bcast_init "$@"
pc=$(ip -4 -o addr show dev pc0 | awk '{ sub(/\/.*/, "", $4); print $4; exit }')
same_subnet_ips=(192.168.77.21 192.168.77.22 192.168.77.23 192.168.77.24 192.168.77.25 192.168.77.30
  10.20.30.40 192.168.78.21 169.254.30.4)

check_same_subnet_rows() {
  # Own subnet: "Y" only when the MAC line names the address the PC's ARP
  # table holds, in any letter case, with hyphens or colons. The list shows
  # every six-pair MAC line in one spelling (upper case, hyphens).
  expect_row 192.168.77.21 02-4F-56-00-10-21 "IO-8 Hall" "Orvel IO-8" Y 80 0
  expect_row 192.168.77.22 02-4F-56-00-10-22 "IO-8 Store" "Orvel IO-8" Y 80 0
  expect_row 192.168.77.23 02-4F-56-00-10-23 "DIM-4 Stage" "Orvel DIM-4" Y 80 0
  expect_row 192.168.77.24 02-4F-56-00-99-99 "IO-8 Office" "Orvel IO-8" "*" 80 0
  expect_row 192.168.77.25 02-4F-56-00-10-25 "GW-1 Gateway" "Orvel GW-1" Y 8080 0
  # Other subnets, a link-local device included, are grey.
  expect_row 10.20.30.40 02-4F-56-00-20-01 "IO-8 Tower" "Orvel IO-8" Y 80 2
  expect_row 192.168.78.21 02-4F-56-00-20-02 "IO-8 Annex" "Orvel IO-8" Y 8081 2
  expect_row 169.254.30.4 02-4F-56-00-20-03 "IO-8 Fresh" "Orvel IO-8" Y 80 2
  # One address, two MAC addresses: each has a row, and both rows are in the
  # Conflict state.
  expect_row 192.168.77.30 02-4F-56-00-40-01 "IO-8 Left" "Orvel IO-8" - 80 3
  expect_row 192.168.77.30 02-4F-56-00-40-02 "IO-8 Right" "Orvel IO-8" - 80 3
  # Other vendors, and descriptions that only resemble the maker's prefix.
  expect_not_listed 192.168.77.42 192.168.77.43 192.168.77.44 192.168.77.45
  expect_eq "$(row_count)" 10 "number of rows"
}

# Requests each device heard from the PC and answers it sent, device by device.
heard_and_answered() {
  local device
  for device in upper acme bare-word lower-word leading-blank left right ten-net; do
    printf '%s %s ' "$(requests_from "$device" "$pc")" "$(answers_of "$device")"
  done
}

# passes_counts N: what heard_and_answered prints after N passes, one answer
# per request.
passes_counts() {
  local device
  for device in upper acme bare-word lower-word leading-blank left right ten-net; do
    printf '%s %s ' $(($1 * PASS_REQUESTS)) $(($1 * PASS_REQUESTS))
  done
}

case $NDT_E2E_BCAST_SCENARIO in
same-subnet)
  start_app
  wait_main_window 20
  # The window's first pass of requests (auto-refresh off) lists every
  # device; each device hears the whole pass and answers every request.
  wait_for 15 "the devices of Orvel listed" all_listed "${same_subnet_ips[@]}"
  settle_counts "requests heard from $pc and answers sent, device by device" "$(passes_counts 1)" heard_and_answered
  dump_list
  show_rows
  check_same_subnet_rows

  note "Refresh lists the same rows again"
  winprobe command 1001 || fail "cannot post Refresh"
  settle_counts "requests and answers after Refresh" "$(passes_counts 2)" heard_and_answered
  wait_for 10 "the devices of Orvel listed after Refresh" all_listed "${same_subnet_ips[@]}"
  dump_list
  check_same_subnet_rows
  ;;
link-local)
  start_app
  wait_main_window 20
  wait_for 15 "all three devices listed" all_listed 169.254.7.20 169.254.200.3 192.168.77.21
  sleep 1
  dump_list
  show_rows
  expect_row 169.254.7.20 02-4F-56-00-30-01 "IO-8 Unset" "Orvel IO-8" Y 80 1
  expect_row 169.254.200.3 02-4F-56-00-30-02 "DIM-4 Unset" "Orvel DIM-4" Y 8080 1
  expect_row 192.168.77.21 02-4F-56-00-30-03 "IO-8 Fixed" "Orvel IO-8" Y 80 2
  expect_eq "$(row_count)" 3 "number of rows"
  ;;
*)
  fail "unknown scenario $NDT_E2E_BCAST_SCENARIO"
  ;;
esac

close_app_expect_exit 0
note "PASS ($NDT_E2E_BCAST_SCENARIO)"
