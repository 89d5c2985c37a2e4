# Keys through xdotool: F5 refreshes, Enter on a selected row opens its page,
# Tab moves between the controls, and the About accelerator works with the
# focus in the list.
# Usage: test_keys.sh PROGRAM_EXE WINPROBE_EXE
source "$(dirname "$0")/ui_lib.sh"
ui_begin "$@"
ui_start
pc=192.168.77.1

requests_of_nine() {
  requests_from nine "$pc"
}

# Each reset follows a finished pass, so that no request of it counts after.
settle_counts "requests of the start" "$PASS_REQUESTS" requests_of_nine
sim reset
click_row 2
keys F5
settle_counts "requests after F5" "$PASS_REQUESTS" requests_of_nine
wait_for 20 "rows back after F5" rows_are 5

: >"$NDT_LAB_URLS"
click_row 2
keys Return
for _ in $(seq 20); do
  [[ -s $NDT_LAB_URLS ]] && break
  sleep 0.2
done
grep -q '^http://192.168.77.9' "$NDT_LAB_URLS" || fail "Enter on a row opened: '$(cat "$NDT_LAB_URLS")'"

# From the list, Tab leaves for the next control; the row's own Enter no
# longer applies, so Enter now presses Refresh.
sim reset
keys Tab Return
settle_counts "requests after Tab and Enter" "$PASS_REQUESTS" requests_of_nine

click_row 1
keys alt+question
box=$(winprobe wait-box "About Network Discovery Tool" 10) || fail "Alt+? in the list opened no About box"
winprobe close-box "About Network Discovery Tool" >/dev/null
close_app_expect_exit 0
note PASS
