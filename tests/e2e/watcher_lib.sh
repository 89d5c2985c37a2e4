# Helpers for the end-to-end scripts that change the lab PC's IPv4 addresses
# while the program runs, answer the program's change box and, if asked,
# run simulated devices in the current lab. Source after lib.sh; call
# watcher_init after e2e_init. On exit the program is ended, the simulator
# stopped (by its PID, through tools/demo) and every address the script added
# through address_change removed, so the lab is left as it was.

CHANGE_BOX="IP Configuration Change"
CHANGE_TEXT='A change in the IPv4 configuration has been detected.\r\nThe device list will be cleared.'
ADDED_ADDRESSES=()
CHANGE_STARTED_NS=0
E2E_TOOLS=$(cd "$E2E_DIR/../../tools" && pwd)
SIMULATOR_STARTED=""

watcher_init() {
  trap watcher_cleanup EXIT
  # Ended by a signal (Ctrl-C, a harness's TERM): still restore the lab.
  trap 'exit 143' TERM
  trap 'exit 130' INT
}

watcher_cleanup() {
  local status=$?
  stop_app
  if [[ -n $SIMULATOR_STARTED ]]; then
    "$E2E_TOOLS/demo" stop "$NDT_LAB" || echo "FAIL: could not stop the device simulator" >&2
    SIMULATOR_STARTED=""
  fi
  watcher_restore
  (exit "$status")
  e2e_cleanup
}

# Removes every address this script added and that is still there.
watcher_restore() {
  local entry iface address
  for entry in "${ADDED_ADDRESSES[@]}"; do
    iface=${entry%% *}
    address=${entry#* }
    if address_present "$address"; then
      ip addr del "$address" dev "$iface" || echo "FAIL: could not remove $address from $iface" >&2
      note "removed $address from $iface"
    fi
  done
  ADDED_ADDRESSES=()
}

address_present() {
  ip -4 -o addr show | awk '{print $4}' | grep -qxF "$1"
}

watcher_require_iface() {
  ip link show "$1" >/dev/null 2>&1 || fail "the lab PC has no interface $1"
}

watcher_require_absent() {
  address_present "$1" && fail "the lab PC already has $1; this test needs it free"
  return 0
}

# start_simulator SCENARIO: simulated devices in the current lab; the
# scenario must not need PC addresses the lab lacks.
start_simulator() {
  "$E2E_TOOLS/demo" start "$NDT_LAB" "$1" || fail "tools/demo start $NDT_LAB $1 failed"
  SIMULATOR_STARTED=1
}

# simulator_ctl WORDS...: a control command to the running simulator.
simulator_ctl() {
  "$E2E_TOOLS/simulate" ctl "/tmp/ndt-lab-$NDT_LAB/demo.sock" "$@" >/dev/null ||
    fail "simulator command '$*' failed"
}

# Number of device rows in the last dump.
row_count() {
  dump_lines row | wc -l
}

# wait_rows_steady SECONDS: waits until the list has rows and their number
# stays the same for two seconds; prints nothing, leaves the count in ROWS.
ROWS=0
wait_rows_steady() {
  local deadline=$((SECONDS + $1)) previous=-1 since=$SECONDS
  while ((SECONDS < deadline)); do
    dump_app
    ROWS=$(row_count)
    if ((ROWS != previous)); then
      previous=$ROWS
      since=$SECONDS
    elif ((ROWS > 0 && SECONDS - since >= 2)); then
      return 0
    fi
    sleep 0.3
  done
  fail "the device list did not settle with rows within $1 s (last count $ROWS)"
}

# wait_rows COUNT SECONDS: true once a dump shows COUNT rows.
wait_rows() {
  local deadline=$((SECONDS + $2))
  while :; do
    dump_app
    ROWS=$(row_count)
    ((ROWS == $1)) && return 0
    ((SECONDS < deadline)) || return 1
    sleep 0.3
  done
}

# address_change add|del IFACE ADDR/PREFIX: changes the PC's address and notes
# the time, from which expect_change_box measures the reaction.
address_change() {
  local action=$1 iface=$2 address=$3
  if [[ $action == add ]]; then
    ADDED_ADDRESSES+=("$iface $address")
  fi
  CHANGE_STARTED_NS=$(date +%s%N)
  ip addr "$action" "$address" dev "$iface" || fail "ip addr $action $address dev $iface failed"
}

elapsed_ms() {
  echo $((($(date +%s%N) - CHANGE_STARTED_NS) / 1000000))
}

# The subnet entries of the last dump except "All Interfaces", sorted, as
# " a b c ". (Helpers that read the dump never dump themselves: a failing dump
# inside $(...) would end only the subshell.)
combo_networks() {
  echo " $(dump_lines combo | cut -f 2 | grep -vxF 'All Interfaces' | sort | tr '\n' ' ')"
}

# sorted_words WORD...: the words sorted, in the form combo_networks prints.
sorted_words() {
  echo " $(printf '%s\n' "$@" | sort | tr '\n' ' ')"
}

# wait_combo EXPECTED SECONDS: true once combo_networks prints EXPECTED.
wait_combo() {
  local deadline=$((SECONDS + $2))
  while :; do
    dump_app
    [[ $(combo_networks) == "$1" ]] && return 0
    ((SECONDS < deadline)) || return 1
    sleep 0.2
  done
}

# The captions of the program's visible top-level windows in the last dump.
window_captions() {
  dump_lines window | cut -f 2
}

# box_open: true when a fresh dump shows the change box.
box_open() {
  dump_app
  window_captions | grep -qxF "$CHANGE_BOX"
}

# expect_change_box SECONDS: the box appears within SECONDS of the last
# address_change, exactly once, with the right text, and the main window stays
# enabled (the box has no owner).
expect_change_box() {
  local box ms count
  if ! box=$(winprobe wait-box "$CHANGE_BOX" "$1"); then
    dump_app
    fail "no box '$CHANGE_BOX' within $1 s of the address change; windows: $(window_captions | tr '\n' '|')"
  fi
  ms=$(elapsed_ms)
  note "box '$CHANGE_BOX' seen $ms ms after the address change"
  grep -qF "$(printf '\t%s\t' "$CHANGE_TEXT")" <<<"$box" || {
    echo "$box" >&2
    fail "the box does not say '$CHANGE_TEXT'"
  }
  grep -qP '^control\t1\tButton\tOK\t1\t1\t' <<<"$box" || {
    echo "$box" >&2
    fail "the box has no enabled OK button (id 1)"
  }
  dump_app
  count=$(window_captions | grep -cxF "$CHANGE_BOX")
  expect_eq "$count" "1" "number of open '$CHANGE_BOX' boxes"
  expect_eq "$(dump_value enabled)" "1" "main window enabled while '$CHANGE_BOX' is open"
}

# expect_combo_while_box_open EXPECTED: the subnet choice is not refilled
# before the box is answered (looked at twice, the second time 1.5 s later).
expect_combo_while_box_open() {
  local got
  dump_app
  got=$(combo_networks)
  [[ $got == "$1" ]] || fail "the subnet choice changed before the box was answered: '$got', expected '$1'"
  sleep 1.5
  box_open || fail "the box '$CHANGE_BOX' closed by itself"
  got=$(combo_networks)
  [[ $got == "$1" ]] || fail "the subnet choice changed before the box was answered: '$got', expected '$1'"
  note "subnet choice unchanged while the box is open: $got"
}

# Presses OK and waits for the box to go away.
answer_change_box() {
  winprobe close-box "$CHANGE_BOX" || fail "could not press OK in '$CHANGE_BOX'"
  for _ in $(seq 50); do
    box_open || return 0
    sleep 0.2
  done
  fail "the box '$CHANGE_BOX' is still open 10 s after OK"
}

# expect_no_change_box SECONDS CONTEXT: no box appears within SECONDS.
expect_no_change_box() {
  local box
  if box=$(winprobe wait-box "$CHANGE_BOX" "$1" 2>/dev/null); then
    echo "$box" >&2
    fail "an extra box '$CHANGE_BOX' appeared $2"
  fi
  note "no further '$CHANGE_BOX' box within $1 s $2"
}
