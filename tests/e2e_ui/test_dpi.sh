# At 96, 144 and 192 DPI (Wine's DPI setting, on a screen large enough for
# the window) the whole window is on screen, every control lies inside the
# client area without overlapping the list (the empty list's explanation
# lies inside it), and the list and its columns
# scale with the DPI. Screenshots go to $NDT_UI_SHOTS when it is set.
# Usage: test_dpi.sh PROGRAM_EXE WINPROBE_EXE
source "$(dirname "$0")/ui_lib.sh"
if [[ -z ${NDT_E2E_BCAST_SCENARIO:-} ]]; then
  for dpi in 96 144 192; do
    NDT_LAB_DPI=$dpi NDT_LAB_SCREEN=2200x1500 NDT_UI_DPI=$dpi run_in_scenario_lab ordering "$@" || exit 1
  done
  exit 0
fi
bcast_init "$@"
ui_start
read -r left top right bottom <<<"$(dump_lines rect | tr '\t' ' ')"
read -r _ _ screen_width screen_height <<<"$(dump_lines screen | tr '\t' ' ')"
((left >= 0 && top >= 0 && right <= screen_width && bottom <= screen_height)) ||
  fail "window $left,$top-$right,$bottom is not inside the screen ${screen_width}x$screen_height"
read -r _ _ width height <<<"$(dump_lines client | tr '\t' ' ')"
read -r list_left list_top list_right list_bottom <<<"$(control_rect 1000)"
while read -r id l t r b; do
  ((l >= 0 && t >= 0 && r <= width && b <= height)) || fail "control $id ($l,$t-$r,$b) outside the client ${width}x$height"
  [[ $id == 1000 ]] && continue
  if [[ $id == 1020 ]]; then
    ((l >= list_left && t >= list_top && r <= list_right && b <= list_bottom)) ||
      fail "the empty list's explanation ($l,$t-$r,$b) is not inside the list"
    continue
  fi
  ((b <= list_top || t >= list_bottom)) || fail "control $id overlaps the list"
done < <(dump_lines controlrect | tr '\t' ' ')
# The template's list is 461 dialog units wide: about 690 pixels at 96 DPI.
listclient=$(dump_value listclient)
expected=$((690 * NDT_UI_DPI / 96))
in_range "$listclient" $((expected * 85 / 100)) $((expected * 115 / 100)) ||
  fail "list width $listclient at $NDT_UI_DPI DPI, expected about $expected"
if [[ -n ${NDT_UI_SHOTS:-} ]]; then
  mkdir -p "$NDT_UI_SHOTS"
  winprobe maximize >/dev/null
  sleep 1
  capture_screen "$NDT_UI_SHOTS/maximised-$NDT_UI_DPI-dpi.png"
fi
close_app_expect_exit 0
note "PASS at $NDT_UI_DPI DPI"
