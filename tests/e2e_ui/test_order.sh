# Rows follow the numeric value of their address, rows of one address stay
# together, a header click orders by that column and a second reverses it,
# and a new row takes its place in the chosen order.
# Usage: test_order.sh PROGRAM_EXE WINPROBE_EXE
source "$(dirname "$0")/ui_lib.sh"
ui_begin "$@"
ui_start
expect_eq "$(column_texts 0)" "192.168.77.2 192.168.77.2 192.168.77.9 192.168.77.10 192.168.77.100 " \
  "addresses in numeric order"

header=$(dump_lines listscreen | awk -F'\t' '{ print $1, $2 }')
read -r left top <<<"$header"
name_x=$((left + $(dump_lines column | awk -F'\t' '$1 == 0 { print $2 }') + 20))
xdotool mousemove "$name_x" $((top + 8)) click 1 && sleep 0.5
dump_list
expect_eq "$(column_texts 1)" "Alpha Bravo Charlie Delta Echo " "names after one click on Name"
xdotool click 1 && sleep 0.5
dump_list
expect_eq "$(column_texts 1)" "Echo Delta Charlie Bravo Alpha " "names after a second click on Name"

# A device that comes back after a Refresh takes its place in this order.
winprobe command 1001 >/dev/null || fail "could not click Refresh"
wait_for 20 "all five rows back" rows_are 5
expect_eq "$(column_texts 1)" "Echo Delta Charlie Bravo Alpha " "names after Refresh"
close_app_expect_exit 0
note PASS
