# Adding or removing an IPv4 address while the program runs brings up one box
# "IP Configuration Change". While it is open the subnet choice and the device
# list stay as they were and no discovery runs; once it is answered the list
# is emptied, the subnet choice lists the new set of networks, and discovery
# starts on them. A chosen subnet that disappears leaves "All Interfaces"
# selected. Simulated devices in the PC's own subnet provide the rows.
# Usage: test_watcher.sh PROGRAM_EXE WINPROBE_EXE
source "$(dirname "$0")/lib.sh"
source "$(dirname "$0")/watcher_lib.sh"
e2e_init "$@"
watcher_init

extra_iface=pc1
extra_address=172.30.5.10/24
extra_network=172.30.5.0
watcher_require_iface "$extra_iface"
watcher_require_absent "$extra_address"

reset_settings
# Devices on 192.168.77.0/24 only, which the lab's pc0 already has.
start_simulator same-subnet
start_app
wait_main_window 20
wait_rows_steady 20
rows_at_start=$ROWS
note "$rows_at_start device rows listed with auto-refresh off"
before=$(combo_networks)
note "subnet entries at start: $before"
[[ $before == *" 10.77.0.0 "* && $before == *" 192.168.77.0 "* ]] ||
  fail "the subnet choice at start lacks the lab's networks: $before"
# shellcheck disable=SC2086 # one word per network
expected_after_add=$(sorted_words $before $extra_network)

# The devices fall silent: rows listed from now on can only be old ones.
simulator_ctl silence all

# --- an address appears ------------------------------------------------------
address_change add "$extra_iface" "$extra_address"
expect_change_box 5
expect_combo_while_box_open "$before"
expect_eq "$(row_count)" "$rows_at_start" "device rows while the box is open (the list is cleared only after OK)"
answer_change_box
wait_combo "$expected_after_add" 10 || fail "after OK the subnet choice is '$(combo_networks)', expected '$expected_after_add'"
note "after OK the subnet choice lists $extra_network: $(combo_networks)"
wait_rows 0 5 || fail "after OK the device list still has $ROWS rows, expected it emptied"
expect_no_change_box 3 "after adding $extra_address"
dump_app
expect_eq "$(row_count)" "0" "device rows 3 s after OK with every device silent"

# Restrict discovery to the new network, then take it away.
index=$(combo_index "$extra_network")
[[ -n $index ]] || fail "no subnet entry $extra_network"
winprobe select-subnet "$index" || fail "select-subnet $index failed"
dump_app
expect_eq "$(combo_selected_text)" "$extra_network" "selected subnet after choosing the new network"

# --- the address goes away ---------------------------------------------------
address_change del "$extra_iface" "$extra_address"
expect_change_box 5
expect_combo_while_box_open "$expected_after_add"
expect_eq "$(combo_selected_text)" "$extra_network" "selected subnet while the box is open"
# The devices answer again, but the new table's workers wait for OK, so
# nothing is discovered meanwhile.
simulator_ctl resume all
sleep 1.5
box_open || fail "the box '$CHANGE_BOX' closed by itself"
if (($(row_count) != 0)); then
  dump_lines row >&2
  dump_lines rowstate >&2
  fail "device rows while the box is open: got $(row_count), expected 0 (discovery waits for OK)"
fi
answer_change_box
wait_combo "$before" 10 || fail "after OK the subnet choice is '$(combo_networks)', expected '$before'"
note "after OK $extra_network is gone: $(combo_networks)"
expect_eq "$(combo_selected_text)" "All Interfaces" "selected subnet after its network disappeared"
wait_rows "$rows_at_start" 10 ||
  fail "after OK discovery on all interfaces found $ROWS rows, expected $rows_at_start again"
note "after OK discovery on the new table listed $ROWS rows again"
expect_no_change_box 3 "after removing $extra_address"

close_app_expect_exit 0
# The filter was reset when the chosen network vanished; that is what is saved.
expect_dword Subnet 0xffffffff
note "PASS"
