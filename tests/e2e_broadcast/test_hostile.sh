# Answers that are not well-formed replies never harm the program: empty
# datagrams, datagrams without line ends, with zero bytes, longer than the
# receive buffer (1537 bytes, and 9000 bytes in fragments), lines longer than
# their fields, bytes outside ASCII, three answers to one request, and port
# lines that are no port numbers. The program keeps running while they repeat
# under auto-refresh, lists what the parsing rules make of them, and a
# double-click on any row opens nothing but an http://a.b.c.d[:port]/ address
# (recorded by the lab's stand-in browser in NDT_LAB_URLS).
# Usage: test_hostile.sh PROGRAM_EXE WINPROBE_EXE
source "$(dirname "$0")/bcast_lib.sh"

if [[ -z ${NDT_E2E_BCAST_SCENARIO:-} ]]; then
  run_in_scenario_lab hostile "$@"
  exit
fi

bcast_init "$@"
listed=(192.168.77.21 192.168.77.22 192.168.77.23 192.168.77.43 192.168.77.45 192.168.77.47
  192.168.77.49 192.168.77.50)
# empty, no-crlf, zero-start, oversized, huge, cr-only
not_listed=(192.168.77.40 192.168.77.41 192.168.77.42 192.168.77.44 192.168.77.46 192.168.77.51)

repeat_char() {
  printf "%${2}s" "" | tr ' ' "$1"
}

check_rows() {
  expect_row 192.168.77.21 02-4F-56-00-E0-21 "IO-8 Good" "Orvel IO-8" Y 8080 0
  expect_row 192.168.77.22 02-4F-56-00-E0-22 "IO-8 Evil" "Orvel IO-8" Y "80@evil.example" 0
  expect_row 192.168.77.23 02-4F-56-00-E0-23 "IO-8 Big port" "Orvel IO-8" Y 99999 0
  # Each field ends at its line's first zero byte.
  expect_row 192.168.77.43 02-4F-56-00-E0-43 "IO-8 Zero" "Orvel IO-8" Y 8081 0
  # 1536 bytes fit the receive buffer; the filler is a fifth line.
  expect_row 192.168.77.45 02-4F-56-00-E0-45 "IO-8 Largest" "Orvel IO-8" Y 8084 0
  # Lines longer than their fields keep their first 255 or 63 characters.
  expect_row 192.168.77.47 02-4F-56-00-E0-47 "$(repeat_char N 255)" "Orvel $(repeat_char D 249)" Y \
    "$(repeat_char 8 63)" 0
  expect_row 192.168.77.49 02-4F-56-00-E0-49 "IO-8 Echo" "Orvel IO-8" Y 80 0
  expect_row 192.168.77.50 02-4F-56-00-E0-50 "IO-8 Chatty" "Orvel IO-8" Y 8082 0
  expect_not_listed "${not_listed[@]}"
  # The answer with bytes outside ASCII may or may not keep its description;
  # it adds at most one row.
  local odd
  odd=$(rows_with_ip 192.168.77.48 | wc -l)
  ((odd <= 1)) || fail "192.168.77.48 has $odd rows"
  expect_eq "$(row_count)" $((${#listed[@]} + odd)) "number of rows"
}

start_app
wait_main_window 20
wait_for 15 "the well-formed answers listed" all_listed "${listed[@]}"
sleep 1
dump_list
show_rows
check_rows
read_counts
for device in empty no-crlf zero-start oversized huge cr-only odd-bytes three-answers; do
  answered=$(answers_of "$device")
  ((answered >= 1)) || fail "the simulator sent no answer for $device"
done

note "auto-refresh on for 5 s: the same answers about ten times over"
winprobe auto-refresh 1 || fail "cannot check Auto-refresh"
sleep 5
app_running || fail "the program ended while receiving malformed answers"
winprobe auto-refresh 0 || fail "cannot clear Auto-refresh"
sleep 1
dump_list
check_rows
read_counts
note "the simulator sent $(counts_query "c['answers']") answers in all"

note "double-click on every row"
: >"$NDT_LAB_URLS"
rows=$(row_count)
for ((row = 0; row < rows; row++)); do
  winprobe dblclick "$row" || fail "double-click on row $row failed"
done
# The stand-in browser runs asynchronously, a Wine process for each address,
# and on a busy machine one may start well after the others: wait until every
# row's address has come (each row here has an address that opens a page),
# for at most 20 s.
for _ in $(seq 40); do
  (($(wc -l <"$NDT_LAB_URLS") >= rows)) && break
  sleep 0.5
done
note "opened addresses:"
sed 's/^/   /' "$NDT_LAB_URLS"
app_running || fail "the program ended after the double-clicks"
safe='^http://(25[0-5]|2[0-4][0-9]|1?[0-9]?[0-9])(\.(25[0-5]|2[0-4][0-9]|1?[0-9]?[0-9])){3}(:[1-9][0-9]{0,4})?/$'
while IFS= read -r url; do
  [[ $url =~ $safe ]] || fail "a double-click opened '$url', which is not http://a.b.c.d[:port]/"
  if [[ $url =~ :([0-9]+)/$ ]]; then
    ((BASH_REMATCH[1] <= 65535)) || fail "a double-click opened '$url' with port ${BASH_REMATCH[1]}"
  fi
done <"$NDT_LAB_URLS"
grep -qi evil "$NDT_LAB_URLS" && fail "an address with the device's text after the port was opened"
# Rows with a plain port open their page (Wine's browser hand-over drops ":80").
for url in http://192.168.77.21:8080/ http://192.168.77.43:8081/ http://192.168.77.50:8082/ \
  http://192.168.77.49/; do
  grep -qxF "$url" "$NDT_LAB_URLS" || fail "the double-click did not open $url"
done

close_app_expect_exit 0
note "PASS"
