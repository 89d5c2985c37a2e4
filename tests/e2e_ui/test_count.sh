# The count beside Refresh follows the rows as they come and go.
# Usage: test_count.sh PROGRAM_EXE WINPROBE_EXE
source "$(dirname "$0")/ui_lib.sh"
ui_begin "$@"
count_is() {
  [[ $(control_field 1004 3) == "$1" ]]
}
start_app
wait_main_window
wait_for 20 "five devices counted" count_is "5 devices"

# With auto-refresh on, silenced devices expire and the count follows.
winprobe auto-refresh 1 >/dev/null
for device in nine ten hundred two; do sim silence "$device"; done
wait_for 20 "one device left" count_is "1 device"
rows_are 1 || fail "the count says 1 device but $(row_count) rows are listed"
winprobe auto-refresh 0 >/dev/null
winprobe command 1001 >/dev/null
wait_for 10 "count after Refresh" count_is "1 device"
close_app_expect_exit 0
note PASS
