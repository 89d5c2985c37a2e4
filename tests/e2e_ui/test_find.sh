# Find, by keys through xdotool: Ctrl+F opens the find box; typing selects
# every row with the text in a cell, ignoring case, and counts the matches
# beside Refresh; F3 and Shift+F3 move the focus between matches; a matching
# row that comes back after Refresh is selected again; Escape closes the box
# and gives the focus back to the list. With $NDT_UI_SHOTS set, a screenshot
# of the open box goes there.
# Usage: test_find.sh PROGRAM_EXE WINPROBE_EXE
source "$(dirname "$0")/ui_lib.sh"
ui_begin "$@"
ui_start

# Addresses of the selected rows, sorted; the address of the focused row.
selected_ips() {
  awk -F'\t' '$1 == "row" { ip[$2] = $3 } $1 == "rowstate" && $6 == 1 { print ip[$2] }' "$DUMP" | sort | tr '\n' ' '
}
focused_ip() {
  awk -F'\t' '$1 == "row" { ip[$2] = $3 } $1 == "rowstate" && $7 == 1 { print ip[$2] }' "$DUMP"
}
# found COUNT_TEXT SELECTED_IPS [FOCUSED_IP]
found() {
  [[ $(control_field 1004 3) == "$1" && $(selected_ips) == "$2" ]] && [[ -z ${3:-} || $(focused_ip) == "$3" ]]
}
box_open() {
  [[ $(control_field 1006 5) == 1 && $(control_field 1005 5) == 1 && $(dump_value focus) == 1006 ]]
}
box_closed() {
  [[ $(control_field 1006 5) == 0 && $(control_field 1005 5) == 0 && $(dump_value focus) == 1000 ]]
}

click_row 0
keys ctrl+f
wait_for 10 "find box open with the focus" box_open
xdotool type --delay 100 "77.1" || fail "xdotool could not type"
wait_for 10 "two matches, the first focused" found "5 devices, 2 match" "192.168.77.10 192.168.77.100 " 192.168.77.10
if [[ -n ${NDT_UI_SHOTS:-} ]]; then
  mkdir -p "$NDT_UI_SHOTS"
  capture_screen "$NDT_UI_SHOTS/find-box.png"
fi

keys F3
wait_for 10 "F3 to the second match" found "5 devices, 2 match" "192.168.77.10 192.168.77.100 " 192.168.77.100
keys F3
wait_for 10 "F3 round to the first match" found "5 devices, 2 match" "192.168.77.10 192.168.77.100 " 192.168.77.10
keys shift+F3
wait_for 10 "Shift+F3 back round" found "5 devices, 2 match" "192.168.77.10 192.168.77.100 " 192.168.77.100

keys BackSpace BackSpace BackSpace BackSpace
xdotool type --delay 100 "CHAR" || fail "xdotool could not type"
wait_for 10 "one match in another case" found "5 devices, 1 match" "192.168.77.10 " 192.168.77.10

# Rows that go and come back while the box is open are matched again.
sim silence ten
winprobe command 1001 >/dev/null
wait_for 20 "no match once the device has gone" found "4 devices, 0 match" ""
sim resume ten
winprobe command 1001 >/dev/null
wait_for 20 "the device's new row matched" found "5 devices, 1 match" "192.168.77.10 "

keys Escape
wait_for 10 "find box closed, focus in the list" box_closed
expect_eq "$(control_field 1004 3)" "5 devices" "count after Escape"
expect_eq "$(selected_ips)" "192.168.77.10 " "rows selected after Escape"
close_app_expect_exit 0
note PASS
