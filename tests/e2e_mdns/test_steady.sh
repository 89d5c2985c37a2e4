# A device that answers both ways at a link-local address, on a PC with a
# link-local interface, keeps one row whose state, texts and Status do not
# change while auto-refresh is on: both paths classify its address alike,
# and the broadcast reply's name and description win while it is current.
# Usage: test_steady.sh PROGRAM_EXE WINPROBE_EXE
source "$(dirname "$0")/mdns_lib.sh"

if [[ -z ${NDT_E2E_MDNS_SCENARIO:-} ]]; then
  run_in_mdns_lab steady "$@"
  exit
fi

mdns_init "$@"
ip=169.254.77.51

start_app
wait_main_window 20
winprobe auto-refresh 1 || fail "cannot check Auto-refresh"
wait_for 20 "the device listed" all_listed "$ip"
sleep 3

seen=""
for read in $(seq 30); do
  dump_list
  row=$(dump_lines row | awk -F'\t' -v ip="$ip" '$2 == ip')
  [[ -n $row && $(wc -l <<<"$row") -eq 1 ]] || { show_rows >&2; fail "read $read: expected one row for $ip"; }
  seen+="$(row_state "$(cut -f 1 <<<"$row")")"$'\t'"$(cut -f 2- <<<"$row")"$'\n'
  sleep 0.3
done
distinct=$(grep . <<<"$seen" | sort -u)
note "30 reads gave: $(tr '\n' ';' <<<"$distinct")"
[[ $(wc -l <<<"$distinct") -eq 1 ]] || fail "the row changed between reads"
[[ $(cut -f 1 <<<"$distinct") == 1 ]] || fail "expected the state Link-local (1)"
grep -q $'\tLL Both\t' <<<"$distinct" || fail "expected the broadcast reply's name"

close_app_expect_exit 0
note "PASS"
