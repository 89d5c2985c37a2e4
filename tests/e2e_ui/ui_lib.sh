# Helpers for the window end-to-end scripts, on top of bcast_lib.sh: the
# scenarios of this folder, the program started with all devices listed,
# rows and controls read from dumps, and mouse and keys through xdotool.

source "$(dirname "${BASH_SOURCE[0]}")/../e2e_broadcast/bcast_lib.sh"
UI_DIR=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

scenario_file() {
  printf '%s/scenarios/%s.json' "$UI_DIR" "$1"
}

# ui_begin PROGRAM_EXE WINPROBE_EXE: outside a scenario's lab, runs the
# script again in a lab of the ordering scenario and exits with its status;
# inside, starts the simulator.
ui_begin() {
  if [[ -z ${NDT_E2E_BCAST_SCENARIO:-} ]]; then
    run_in_scenario_lab ordering "$@"
    exit
  fi
  bcast_init "$@"
}

# The ordering scenario's devices, five rows once all have answered.
ui_start() {
  start_app
  wait_main_window
  wait_for 20 "all five rows listed" rows_are 5
}

# Column COLUMN (0 address, 1 name, ...) of every row, in list order.
column_texts() {
  dump_lines row | cut -f $(($1 + 2)) | tr '\n' ' '
}

# control_rect ID: left top right bottom of a control in the client area.
control_rect() {
  dump_lines controlrect | awk -F'\t' -v id="$1" '$1 == id { print $2, $3, $4, $5; exit }'
}

# row_centre ROW: the screen point in the middle of a row.
row_centre() {
  dump_lines rowrect | awk -F'\t' -v r="$1" '$1 == r { print int(($2 + $4) / 2), int(($3 + $5) / 2) }'
}

# click_row ROW [BUTTON]: moves the mouse onto the row and clicks.
click_row() {
  local point
  point=$(row_centre "$1")
  [[ -n $point ]] || fail "no row $1 to click"
  # shellcheck disable=SC2086
  xdotool mousemove $point click "${2:-1}" || fail "xdotool could not click row $1"
  sleep 0.4
}

keys() {
  xdotool key --delay 80 "$@" || fail "xdotool could not press $*"
  sleep 0.4
}

# clipboard_is TEXT WHAT: the clipboard holds exactly TEXT (compared as
# bytes, so line ends and tabs count).
clipboard_is() {
  local got
  # Not through winprobe(), which drops carriage returns.
  got=$(wine "$WINPROBE_EXE" clipboard | od -An -c | tr -s ' \n' ' ') || fail "could not read the clipboard"
  expect_eq "$got" "$(printf '%s' "$1" | od -An -c | tr -s ' \n' ' ')" "clipboard after $2"
}
