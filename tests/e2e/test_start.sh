# The program starts in the lab, shows its window with every control, column
# and subnet, closes cleanly on WM_CLOSE and saves its default settings.
# Usage: test_start.sh PROGRAM_EXE WINPROBE_EXE
source "$(dirname "$0")/lib.sh"
e2e_init "$@"

reset_settings
start_app
wait_main_window
dump_app
cat "$DUMP"

expect_eq "$(dump_value caption)" "Orvel Network Discovery Tool" "main window caption"

# The four controls with ids, enabled and visible.
expect_eq "$(control_field 1000 2)" "SysListView32" "class of the device list"
expect_eq "$(control_field 1001 2)" "Button" "class of the Refresh button"
expect_eq "$(control_field 1001 3)" "Refresh" "text of the Refresh button"
expect_eq "$(control_field 1002 2)" "Button" "class of the Auto-refresh check box"
expect_eq "$(control_field 1002 3)" "Auto-refresh" "text of the Auto-refresh check box"
expect_eq "$(control_field 1002 6)" "0" "Auto-refresh check state on a first start"
expect_eq "$(control_field 1003 2)" "ComboBox" "class of the subnet choice"
for id in 1000 1001 1002 1003; do
  expect_eq "$(control_field "$id" 4)" "1" "control $id enabled"
  expect_eq "$(control_field "$id" 5)" "1" "control $id visible"
done

# The static texts (id -1, which a 16-bit id field shows as 65535).
statics=$(dump_lines control | awk -F'\t' '($1 == -1 || $1 == 65535) && $2 == "Static" { print $3 }')
while IFS= read -r text; do
  grep -qxF -- "$text" <<<"$statics" || fail "static text missing: '$text'"
done <<'TEXTS'
Orvel Electronics devices discovered on the network, will be listed below.
Double-click on an entry to attempt to open a web browser on the device home page.
Devices shown in grey (Status: Other subnet) are not on the same subnet as your computer, and may not be accessible without reconfiguration of your computer's TCP/IP network settings.
Devices shown in green (Status: Link-local) have temporary link-local addresses, usually because there is no active DHCP server on the network. These devices are accessible for configuration purposes.
Devices shown in red (Status: Conflict) have an address conflict with one or more other listed devices. Remove all of these devices from the network, then reconnect and configure them one at a time.
Restrict to Subnet:
TEXTS
expect_eq "$(wc -l <<<"$statics")" "6" "number of static texts"

# Columns: shares of the list's client width w, integer division.
w=$(dump_value listclient)
((w > 0)) || fail "list client width is '$w'"
expected_columns=$(printf '%s\n' \
  "0	$((6 * w / 40))	IP Address" \
  "1	$((11 * w / 40))	Name" \
  "2	$((7 * w / 40))	MAC Address" \
  "3	$((w - 31 * w / 40))	Description" \
  "4	$((2 * w / 40))	ARP" \
  "5	0	" \
  "6	$((5 * w / 40))	Status")
expect_eq "$(dump_lines column)" "$expected_columns" "columns (index, width, header) for client width $w"

# Subnet choice: All Interfaces first and selected, then the lab's two
# networks in the order the system lists them.
expect_eq "$(dump_lines combo | head -n 1 | cut -f 2)" "All Interfaces" "first subnet entry"
expect_eq "$(combo_selected_text)" "All Interfaces" "selected subnet entry"
expect_eq "$(dump_lines combo | cut -f 2 | sort | tr '\n' ' ')" \
  "10.77.0.0 192.168.77.0 All Interfaces " "subnet entries"
expect_eq "$(control_field 1003 4)" "1" "subnet choice enabled with two interfaces"

close_app_expect_exit 0

expect_dword Subnet 0xffffffff
expect_dword Refresh 0
note "PASS"
