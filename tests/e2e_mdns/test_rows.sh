# Rows of devices that speak only multicast DNS: description from the TXT
# keys, host name, the MAC the PC learns by ARP, port 80 whatever the SRV
# record says; answers by multicast only are heard; the vendor test takes
# "ORVEL" (keeping its letter case) and rejects "Vendor=Orvel" and "Orvel Ltd".
# Usage: test_rows.sh PROGRAM_EXE WINPROBE_EXE
source "$(dirname "$0")/mdns_lib.sh"

if [[ -z ${NDT_E2E_MDNS_SCENARIO:-} ]]; then
  run_in_mdns_lab resolve "$@"
  exit
fi

mdns_init "$@"
start_app
wait_main_window 20
# The window's first browse (auto-refresh off) resolves every device.
wait_for 20 "the devices of Orvel listed" all_listed 192.168.77.31 192.168.77.32 192.168.77.33 192.168.77.36
# Resolving goes on one instance at a time: let it reach the rejected ones.
sleep 3
dump_list
show_rows
# python3-zeroconf, SRV port 8080.
expect_row 192.168.77.31 02-4F-56-6D-00-31 x200-hall "Orvel X200 - v1.4" Y 80 0
# Our own responder: multicast answers only, TXT keys in another order.
expect_row 192.168.77.32 02-4F-56-6D-00-32 x200-stage "Orvel X200 - v1.4" Y 80 0
expect_row 192.168.77.33 02-4F-56-6D-00-33 x200-upper "ORVEL X200" Y 80 0
expect_row 192.168.77.36 02-4F-56-6D-00-36 x200-nomodel "Orvel - v2.0" Y 80 0
# "Vendor=Orvel" (key in the wrong case) and "vendor=Orvel Ltd".
expect_not_listed 192.168.77.34 192.168.77.35
expect_eq "$(row_count)" 4 "number of rows"

close_app_expect_exit 0
note "PASS"
