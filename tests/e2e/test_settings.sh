# The subnet choice, the auto-refresh flag and the window's place, size and
# maximised state survive a restart through the registry; the subnet is
# stored as the network's bytes in memory order. A stored place off every
# monitor (one since unplugged), or partly off, opens the window wholly on
# the screen.
# Usage: test_settings.sh PROGRAM_EXE WINPROBE_EXE
source "$(dirname "$0")/lib.sh"
e2e_init "$@"

reset_settings
start_app
wait_main_window
dump_app
index=$(combo_index 10.77.0.0)
[[ -n $index ]] || fail "no subnet entry 10.77.0.0: $(dump_lines combo | tr '\n' ' ')"
winprobe select-subnet "$index" || fail "select-subnet $index failed"
winprobe auto-refresh 1 || fail "auto-refresh 1 failed"
dump_app
expect_eq "$(combo_selected_text)" "10.77.0.0" "selected subnet after choosing it"
expect_eq "$(control_field 1002 6)" "1" "Auto-refresh after checking it"
winprobe resize 800 600 >/dev/null
dump_app
placed=$(dump_lines rect)
close_app_expect_exit 0

# 10.77.0.0 in network byte order, read as a little-endian DWORD.
expect_dword Subnet 0x00004d0a
expect_dword Refresh 1

start_app
wait_main_window
dump_app
cat "$DUMP"
expect_eq "$(combo_selected_text)" "10.77.0.0" "selected subnet after a restart"
expect_eq "$(control_field 1002 6)" "1" "Auto-refresh after a restart"
expect_eq "$(dump_lines rect)" "$placed" "window's place after a restart"
winprobe maximize >/dev/null
for _ in $(seq 50); do
  dump_app
  [[ $(dump_value zoomed) == 1 ]] && break
  sleep 0.2
done
close_app_expect_exit 0
expect_dword Subnet 0x00004d0a
expect_dword Refresh 1
expect_dword WindowMaximised 1

start_app
wait_main_window
dump_app
expect_eq "$(dump_value zoomed)" "1" "maximised after a restart"
close_app_expect_exit 0

# The system itself brings back a window placed wholly off every monitor;
# one that would hang mostly off the screen's edge is ours to move.
for place in 30000,30000,30600,30400 900,600,1500,1000; do
  IFS=, read -r left top right bottom <<<"$place"
  reset_settings
  for value in WindowLeft="$left" WindowTop="$top" WindowRight="$right" WindowBottom="$bottom" WindowDpi=96 WindowMaximised=0; do
    wine_reg add "$E2E_KEY" /v "${value%%=*}" /t REG_DWORD /d "${value#*=}" /f || fail "could not store $value"
  done
  start_app
  wait_main_window
  dump_app
  read -r left top right bottom <<<"$(dump_lines rect)"
  read -r _ _ width height <<<"$(dump_lines screen)"
  ((left >= 0 && top >= 0 && right <= width && bottom <= height && right > left && bottom > top)) ||
    fail "window at $left,$top-$right,$bottom from the stored place $place, on a ${width}x$height screen"
  close_app_expect_exit 0
done
note "PASS"
