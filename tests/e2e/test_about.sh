# The About command opens the About box over the main window; its OK button
# closes it and the program goes on running.
# Usage: test_about.sh PROGRAM_EXE WINPROBE_EXE
source "$(dirname "$0")/lib.sh"
e2e_init "$@"

caption="About Network Discovery Tool"
reset_settings
start_app
wait_main_window
winprobe command 104 || fail "could not post the About command"
box=$(winprobe wait-box "$caption" 10) || fail "no window '$caption' appeared"
echo "$box"
grep -qP '^control\t.*\tVersion 1\.7\t' <<<"$box" || fail "the About box does not show 'Version 1.7'"
grep -qP '^control\t.*\tOrvel Network Discovery Tool\t' <<<"$box" ||
  fail "the About box does not show the program's name"
grep -qP '^control\t1\tButton\tOK\t1\t1\t' <<<"$box" || fail "the About box has no enabled OK button (id 1)"

dump_app
expect_eq "$(dump_value enabled)" "0" "main window enabled while the About box is open"

winprobe close-box "$caption" || fail "could not press OK in the About box"
for _ in $(seq 50); do
  dump_app
  dump_lines window | grep -qF "$caption" || break
  sleep 0.2
done
dump_lines window | grep -qF "$caption" && fail "the About box is still open 10 s after OK"
app_running || fail "the program ended after the About box closed"
expect_eq "$(dump_value caption)" "Orvel Network Discovery Tool" "main window caption after the About box"
expect_eq "$(dump_value enabled)" "1" "main window enabled after the About box closed"

close_app_expect_exit 0
note "PASS"
