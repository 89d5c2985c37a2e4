# The window can be maximised and resized: the list grows, the other controls
# keep their places relative to their edges, the columns keep their shares,
# and it cannot be made smaller than its template.
# Usage: test_resize.sh PROGRAM_EXE WINPROBE_EXE
source "$(dirname "$0")/ui_lib.sh"
ui_begin "$@"
ui_start
read -r _ _ width0 height0 <<<"$(dump_lines client | tr '\t' ' ')"
read -r _ _ list_right0 list_bottom0 <<<"$(control_rect 1000)"
read -r combo_left0 _ _ _ <<<"$(control_rect 1003)"
read -r _ refresh_top0 _ _ <<<"$(control_rect 1001)"

winprobe maximize >/dev/null
wait_for 10 "maximised" eval '[[ $(dump_value zoomed) == 1 ]]'
read -r _ _ width1 height1 <<<"$(dump_lines client | tr '\t' ' ')"
((width1 > width0 && height1 > height0)) || fail "maximised client ${width1}x$height1 is not larger"
dx=$((width1 - width0)) dy=$((height1 - height0))
read -r _ _ list_right1 list_bottom1 <<<"$(control_rect 1000)"
read -r combo_left1 _ _ _ <<<"$(control_rect 1003)"
read -r _ refresh_top1 _ _ <<<"$(control_rect 1001)"
expect_eq "$((list_right1 - list_right0)) $((list_bottom1 - list_bottom0))" "$dx $dy" "growth of the list"
expect_eq "$((combo_left1 - combo_left0))" "$dx" "the subnet choice follows the right edge"
expect_eq "$((refresh_top1 - refresh_top0))" "$dy" "Refresh follows the bottom edge"
listclient=$(dump_value listclient)
name_width=$(dump_lines column | awk -F'\t' '$1 == 1 { print $2 }')
expect_eq "$name_width" "$((11 * listclient / 40))" "Name column's share of $listclient"

winprobe resize 200 150 >/dev/null
sleep 0.5
dump_list
read -r _ _ width2 height2 <<<"$(dump_lines client | tr '\t' ' ')"
expect_eq "$width2 $height2" "$width0 $height0" "client size after asking for 200x150"
close_app_expect_exit 0
note PASS
