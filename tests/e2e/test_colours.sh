# Each device row is drawn in its state's colour, in every column: red for an
# address conflict (both rows of the address the demo's two devices claim),
# grey for another subnet, green for link-local, and the system window-text
# colour for a device in the PC's own subnet; its Status column names the
# state. Simulated devices of the "demo" scenario provide rows of each state;
# the colours are read from a screenshot of the virtual desktop.
# Usage: test_colours.sh PROGRAM_EXE WINPROBE_EXE
# Set NDT_E2E_KEEP_DIR to keep the screenshot and the dump it was judged by.
#
# The script runs itself again inside a lab that has the scenario's PC
# addresses; only that inner run starts the simulator and the program.
tools=$(cd "$(dirname "$0")/../../tools" && pwd)
scenario=demo
if [[ -z ${NDT_E2E_COLOURS_INNER:-} ]]; then
  if [[ -z ${NDT_LAB:-} ]]; then
    echo "refusing to run outside a lab: NDT_LAB is not set (run through tools/lab with ... -- ctest)" >&2
    exit 1
  fi
  pc_args=$("$tools/demo" pc-args "$scenario") || {
    echo "FAIL: tools/demo pc-args $scenario failed" >&2
    exit 1
  }
  echo "-- creating a lab for scenario $scenario ($pc_args) from lab $NDT_LAB"
  # shellcheck disable=SC2086 # the options are words on purpose
  exec "$tools/lab" with $pc_args -- env NDT_E2E_COLOURS_INNER=1 bash "$0" "$@"
fi

source "$(dirname "$0")/lib.sh"
e2e_init "$@"
note "inside lab $NDT_LAB: $(ip -4 -o addr show | awk '{print $4}' | tr '\n' ' ')"

SIMULATOR_STARTED=""
colours_cleanup() {
  local status=$?
  stop_app
  if [[ -n $SIMULATOR_STARTED ]]; then
    "$tools/demo" stop "$NDT_LAB" || echo "FAIL: could not stop the simulator" >&2
  fi
  (exit "$status")
  e2e_cleanup
}
trap colours_cleanup EXIT
trap 'exit 143' TERM
trap 'exit 130' INT

red="255 0 0"
grey="128 128 128"
green="0 192 0"
# GetSysColor(COLOR_WINDOWTEXT) comes from the prefix's colour scheme; black
# when the scheme does not name it.
window_text=$(wine reg query 'HKCU\Control Panel\Colors' /v WindowText 2>/dev/null | tr -d '\r' |
  awk '$1 == "WindowText" { print $3, $4, $5 }')
[[ $window_text =~ ^[0-9]+\ [0-9]+\ [0-9]+$ ]] || window_text="0 0 0"
note "window-text colour: rgb($window_text)"
state_names=(Normal LinkLocal OtherSubnet Conflict)
state_colours=("$window_text" "$green" "$grey" "$red")
state_words=("" "Link-local" "Other subnet" "Conflict")
# Pixels of exactly the row's colour that each checked column must contain;
# a character's stem alone gives more than this.
min_pixels=4

# Screenshot and the dump it belongs to, both taken while the list stood still.
SHOT=$E2E_TMP/screen.png
SHOT_DUMP=$E2E_TMP/shot-dump.txt

# A dump's rows, states and rectangles, the part that must not move between
# two dumps around the screenshot.
list_layout() {
  awk -F'\t' '$1 == "row" || $1 == "rowrect" || $1 == "listscreen" { print }
              $1 == "rowstate" { print $1, $2, $3 }' "$1"
}

states_present() {
  awk -F'\t' '$1 == "rowstate" { print $3 }' "$1" | sort -u | tr '\n' ' '
}

# Waits until rows of all four states are listed and the list stays the same
# for a second, then captures the screen between two identical dumps.
capture_steady_list() {
  local deadline=$((SECONDS + 40)) before=$E2E_TMP/before.txt after=$E2E_TMP/after.txt
  while ((SECONDS < deadline)); do
    if ! winprobe dump >"$before"; then
      # A row deleted or inserted during the dump; read again.
      sleep 0.3
      continue
    fi
    if [[ $(states_present "$before") != "0 1 2 3 " ]]; then
      sleep 0.5
      continue
    fi
    sleep 1
    capture_screen "$SHOT"
    winprobe dump >"$after" || continue
    if [[ $(list_layout "$before") == "$(list_layout "$after")" ]]; then
      cp "$after" "$SHOT_DUMP"
      return 0
    fi
    note "the list changed around the screenshot; trying again"
  done
  [[ -s $before ]] && cat "$before" >&2
  fail "no steady list with rows of states 0, 1, 2 and 3 within 40 s (states seen: $(states_present "$before"))"
}

# count_pixels R G B X Y W H: sets PIXELS to the number of pixels of exactly
# that colour in the region (a global, so that a failure ends the script).
PIXELS=""
count_pixels() {
  local out status
  out=$(screen_has_colour "$SHOT" "$@")
  status=$?
  ((status <= 1)) || fail "screen_colour.py failed for $*: $out"
  PIXELS=$(awk '{ print $1 }' <<<"$out")
  [[ $PIXELS =~ ^[0-9]+$ ]] || fail "unexpected screen_colour.py output for $*: $out"
}

reset_settings
"$tools/demo" start "$NDT_LAB" "$scenario" || fail "tools/demo start $NDT_LAB $scenario failed"
SIMULATOR_STARTED=1
start_app
wait_main_window 20
capture_steady_list
if [[ -n ${NDT_E2E_KEEP_DIR:-} ]]; then
  mkdir -p "$NDT_E2E_KEEP_DIR" && cp "$SHOT" "$SHOT_DUMP" "$NDT_E2E_KEEP_DIR/"
  note "kept the screenshot and its dump in $NDT_E2E_KEEP_DIR"
fi
# shellcheck disable=SC2034 # read by the dump helpers of lib.sh
DUMP=$SHOT_DUMP
dump_lines row
dump_lines rowstate
dump_lines rowrect

read -r _ list_top list_right list_bottom <<<"$(dump_lines listscreen | tr '\t' ' ')"
mapfile -t column_widths < <(dump_lines column | cut -f 2)
((${#column_widths[@]} == 7)) || fail "expected 7 columns, the dump has ${#column_widths[@]}"

checked=0
while IFS=$'\t' read -r row state _; do
  ((state >= 0 && state <= 3)) || fail "row $row has state $state, outside 0 to 3"
  read -r _ left top _ bottom <<<"$(dump_lines rowrect | awk -F'\t' -v r="$row" '$1 == r' | tr '\t' ' ')"
  [[ -n $bottom ]] || fail "no rectangle for row $row"
  # Only the part inside the list's client area is on the screen.
  ((top >= list_top && bottom <= list_bottom)) || fail "row $row ($top..$bottom) is outside the list ($list_top..$list_bottom)"
  ip_text=$(dump_lines row | awk -F'\t' -v r="$row" '$1 == r { print $2 }')
  status=$(dump_lines row | awk -F'\t' -v r="$row" '$1 == r { print $8 }')
  name=${state_names[$state]}
  expect_eq "$status" "${state_words[$state]}" "Status column of row $row ($ip_text, state $state $name)"
  expected=${state_colours[$state]}
  height=$((bottom - top))
  # Columns 0 to 3 (address, name, MAC, description) always hold text; the
  # ARP mark may be a space, the port column is hidden and the Status column
  # is empty for a device in the PC's subnet.
  x=$left
  for column in 0 1 2 3; do
    width=${column_widths[$column]}
    ((x + width > list_right)) && width=$((list_right - x))
    # shellcheck disable=SC2086 # colours are three words
    count_pixels $expected "$x" "$top" "$width" "$height"
    ((PIXELS >= min_pixels)) ||
      fail "row $row ($ip_text, state $state $name): column $column has $PIXELS pixels of rgb($expected), expected at least $min_pixels"
    x=$((x + ${column_widths[$column]}))
  done
  # No other state's colour anywhere in the row.
  for other in 0 1 2 3; do
    ((other == state)) && continue
    # shellcheck disable=SC2086
    count_pixels ${state_colours[$other]} "$left" "$top" "$((list_right - left))" "$height"
    ((PIXELS == 0)) ||
      fail "row $row ($ip_text, state $state $name) has $PIXELS pixels of rgb(${state_colours[$other]}) (${state_names[$other]})"
  done
  note "row $row ($ip_text): state $state $name, drawn in rgb($expected)"
  checked=$((checked + 1))
done < <(dump_lines rowstate)
((checked >= 4)) || fail "only $checked rows checked"
claimed_rows=$(dump_lines row | awk -F'\t' '$2 == "192.168.77.30" { print $1 }' | tr '\n' ' ')
claimed_states=$(dump_lines rowstate | awk -F'\t' -v rows=" $claimed_rows" 'index(rows, " " $1 " ") { print $2 }')
expect_eq "$(tr '\n' ' ' <<<"$claimed_states")" "3 3 " "states of the two rows of 192.168.77.30, which two devices claim"

close_app_expect_exit 0
note "PASS"
