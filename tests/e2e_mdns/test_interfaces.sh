# A PC with two interfaces on two separate LANs: each interface's browse
# finds the devices of its own network (all four listed, and with a subnet
# chosen, only that network's devices, whose LAN only that interface reaches).
# Usage: test_interfaces.sh PROGRAM_EXE WINPROBE_EXE
source "$(dirname "$0")/mdns_lib.sh"

if [[ -z ${NDT_E2E_MDNS_SCENARIO:-} ]]; then
  run_in_mdns_lab two-lans "$@"
  exit
fi

mdns_init "$@"
ips_a=(192.168.77.61 192.168.77.62)
ips_b=(192.168.88.61 192.168.88.62)

check_all_rows() {
  expect_row 192.168.77.61 02-4F-56-6D-00-61 x200-a1 "Orvel X200 - v1.4" Y 80 0
  expect_row 192.168.77.62 02-4F-56-6D-00-62 x200-a2 "Orvel X200 - v1.4" Y 80 0
  expect_row 192.168.88.61 02-4F-56-6D-01-61 x200-b1 "Orvel X200 - v1.4" Y 80 0
  expect_row 192.168.88.62 02-4F-56-6D-01-62 x200-b2 "Orvel X200 - v1.4" Y 80 0
  expect_eq "$(row_count)" 4 "number of rows"
}

# only_network NETWORK IPS...: choose that subnet; its devices alone return.
only_network() {
  local network=$1 index
  shift
  index=$(combo_index "$network")
  [[ -n $index ]] || fail "no subnet entry $network: $(dump_lines combo | tr '\n' ' ')"
  note "subnet choice $network"
  winprobe select-subnet "$index" || fail "cannot choose subnet $network"
  wait_for 15 "the devices of $network listed" all_listed "$@"
  sleep 3
  dump_list
  [[ $(listed_ips) == "$* " ]] || { show_rows >&2; fail "with $network chosen: listed $(listed_ips), expected $*"; }
}

start_app
wait_main_window 20
wait_for 20 "the devices of both networks listed" all_listed "${ips_a[@]}" "${ips_b[@]}"
sleep 3
dump_list
show_rows
check_all_rows
only_network 192.168.88.0 "${ips_b[@]}"
only_network 192.168.77.0 "${ips_a[@]}"
note "All Interfaces again"
winprobe select-subnet 0 || fail "cannot choose All Interfaces"
wait_for 15 "the devices of both networks listed again" all_listed "${ips_a[@]}" "${ips_b[@]}"
sleep 3
dump_list
check_all_rows

close_app_expect_exit 0
note "PASS"
