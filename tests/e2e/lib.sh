# Shared helpers for the end-to-end scripts. They start the real program under
# Wine inside the current lab, read and drive its window with ndt_winprobe,
# and look at the registry and the screen.
#
# A script sources this file, then calls: e2e_init PROGRAM_EXE WINPROBE_EXE.
# Everything the script started is ended by the EXIT trap, by PID.

E2E_KEY='HKCU\Software\Orvel Electronics\Discovery Tool'
E2E_DIR=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
APP_PID=""
APP_STATUS=""
APP_LOG=""
E2E_TMP=""
DUMP=""

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

note() {
  echo "-- $*"
}

e2e_init() {
  APP_EXE=$1
  WINPROBE_EXE=$2
  # The program sends broadcasts: it may only ever run inside a lab namespace.
  if [[ -z ${NDT_LAB:-} ]]; then
    echo "refusing to run outside a lab: NDT_LAB is not set (run through tools/lab with ... -- ctest)" >&2
    exit 1
  fi
  [[ -n ${WINEPREFIX:-} ]] || fail "WINEPREFIX is not set"
  [[ -n ${DISPLAY:-} ]] || fail "DISPLAY is not set"
  [[ -f $APP_EXE ]] || fail "program not built: $APP_EXE"
  [[ -f $WINPROBE_EXE ]] || fail "winprobe not built: $WINPROBE_EXE"
  export WINEDEBUG=${WINEDEBUG:--all}
  E2E_TMP=$(mktemp -d /tmp/ndt-e2e.XXXXXX)
  APP_LOG=$E2E_TMP/app.log
  DUMP=$E2E_TMP/dump.txt
  trap e2e_cleanup EXIT
}

# What in the program's output means a memory error: the page heap's reports
# (the tests run the heap-checked build), Wine's heap warnings (tests run
# with them on) and a crash.
E2E_MEMORY_ERRORS='page heap:|warn:heap|err:heap|Unhandled (page fault|exception)'

e2e_cleanup() {
  local status=$?
  stop_app
  if [[ -s $APP_LOG ]]; then
    echo "-- program output:"
    cat "$APP_LOG"
    if grep -aqE "$E2E_MEMORY_ERRORS" "$APP_LOG"; then
      echo "FAIL: the program's output shows a memory error" >&2
      status=1
    fi
  fi
  [[ -n $E2E_TMP ]] && rm -rf "$E2E_TMP"
  exit $status
}

# ---- the program ----------------------------------------------------------

start_app() {
  [[ -z $APP_PID ]] || fail "the program is already running"
  wine "$APP_EXE" >>"$APP_LOG" 2>&1 &
  APP_PID=$!
  APP_STATUS=""
  note "started the program (pid $APP_PID)"
}

# True while the process we started has not ended (a zombie counts as ended).
app_running() {
  [[ -n $APP_PID && -r /proc/$APP_PID/stat ]] || return 1
  local state
  state=$(awk '{print $3}' "/proc/$APP_PID/stat" 2>/dev/null) || return 1
  [[ $state != Z ]]
}

# wait_app_exit SECONDS: collects the exit code into APP_STATUS; fails on time-out.
wait_app_exit() {
  local deadline=$((SECONDS + $1))
  while app_running; do
    ((SECONDS < deadline)) || return 1
    sleep 0.2
  done
  wait "$APP_PID"
  APP_STATUS=$?
  APP_PID=""
  return 0
}

# Ends the program we started: WM_CLOSE first, then signals.
stop_app() {
  [[ -n $APP_PID ]] || return 0
  if app_running; then
    if winprobe close >/dev/null 2>&1; then
      wait_app_exit 5 && return 0
    fi
    note "the program did not end on WM_CLOSE; killing pid $APP_PID"
    kill -TERM "$APP_PID" 2>/dev/null
    wait_app_exit 3 && return 0
    kill -KILL "$APP_PID" 2>/dev/null
  fi
  wait_app_exit 5
  APP_PID=""
}

# close_app_expect_exit CODE: closes the main window and checks the exit code.
close_app_expect_exit() {
  local start=$SECONDS
  winprobe close || fail "could not post WM_CLOSE to the main window"
  wait_app_exit 10 || fail "the program did not exit within 10 s of WM_CLOSE"
  [[ $APP_STATUS == "$1" ]] || fail "the program exited with code $APP_STATUS, expected $1"
  note "the program exited with code $APP_STATUS within $((SECONDS - start + 1)) s of WM_CLOSE"
}

# ---- the winprobe --------------------------------------------------------

# Runs one winprobe command; its lines go to stdout without carriage returns.
winprobe() {
  local out=$E2E_TMP/winprobe.out rc
  wine "$WINPROBE_EXE" "$@" >"$out"
  rc=$?
  tr -d '\r' <"$out"
  return $rc
}

wait_main_window() {
  winprobe wait "${1:-20}" || fail "the main window did not appear within ${1:-20} s"
}

# Takes a fresh dump of the main window into $DUMP.
dump_app() {
  winprobe dump >"$DUMP" || {
    cat "$DUMP" >&2
    fail "winprobe dump failed"
  }
}

# dump_lines KIND: the dump's lines of that kind, without the kind field.
dump_lines() {
  awk -F'\t' -v kind="$1" '$1 == kind { sub(/^[^\t]*\t/, ""); print }' "$DUMP"
}

# dump_value KIND: the first field after the kind (caption, pid, listclient).
dump_value() {
  dump_lines "$1" | head -n 1 | cut -f 1
}

# control_field ID FIELD: a field of the control with that id
# (2 class, 3 text, 4 enabled, 5 visible, 6 checked).
control_field() {
  dump_lines control | awk -F'\t' -v id="$1" -v f="$2" '$1 == id { print $f; exit }'
}

# combo_index TEXT: the index of the subnet entry with that text.
combo_index() {
  dump_lines combo | awk -F'\t' -v t="$1" '$2 == t { print $1; exit }'
}

combo_selected_text() {
  dump_lines combo | awk -F'\t' '$3 == 1 { print $2; exit }'
}

expect_eq() {
  [[ $1 == "$2" ]] || fail "$3: got '$1', expected '$2'"
}

# ---- settings --------------------------------------------------------------

# wine_reg ARGS...: "wine reg ARGS", tried again a few times, since a reg
# command can fail while the wineserver is busy.
wine_reg() {
  local try
  for try in 1 2 3 4 5; do
    wine reg "$@" >/dev/null 2>&1 && return 0
    sleep 0.5
  done
  return 1
}

# A program of the previous test may still be saving its settings as it
# exits, and a reg command can fail while the wineserver is busy: delete and
# check again a few times before calling it a failure.
reset_settings() {
  local try
  for try in 1 2 3 4 5 6 7 8 9 10; do
    wine reg delete "$E2E_KEY" /f >/dev/null 2>&1
    wine reg query "$E2E_KEY" >/dev/null 2>&1 || return 0
    sleep 0.5
  done
  fail "could not delete the settings key"
}

# reg_value NAME: prints "TYPE DATA" of the setting, or fails with status 1.
reg_value() {
  local out
  out=$(wine reg query "$E2E_KEY" /v "$1" 2>/dev/null | tr -d '\r') || return 1
  awk -v name="$1" '$1 == name { print $2, $3; found = 1 } END { exit !found }' <<<"$out"
}

# expect_dword NAME VALUE: the setting exists as REG_DWORD with that value.
expect_dword() {
  local got type data
  got=$(reg_value "$1") || fail "registry value $1 is missing"
  read -r type data <<<"$got"
  expect_eq "$type" REG_DWORD "type of registry value $1"
  ((data == $2)) || fail "registry value $1: got $data, expected $(printf '0x%x' "$2")"
}

# ---- the screen -------------------------------------------------------------

# capture_screen FILE: the whole virtual desktop as PNG.
capture_screen() {
  import -display "$DISPLAY" -window root "png:$1" || fail "screen capture failed"
}

# screen_has_colour FILE R G B X Y WIDTH HEIGHT [TOLERANCE]: true when a pixel
# of that colour (each channel within TOLERANCE) lies in the region.
screen_has_colour() {
  /usr/bin/python3 "$E2E_DIR/screen_colour.py" "$@"
}
