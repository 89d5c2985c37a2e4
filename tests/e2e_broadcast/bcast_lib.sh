# Helpers for the broadcast discovery end-to-end scripts, on top of
# tests/e2e/lib.sh: a lab per scenario, the device simulator in it, the
# simulator's request counts, and reading device rows from winprobe dumps.
#
# A script starts in the lab that ctest runs in and calls
# run_in_scenario_lab for each scenario it needs; that runs the script again
# inside a new lab whose PC has the scenario's addresses, with
# NDT_E2E_BCAST_SCENARIO set. The inner run calls bcast_init, which starts
# the simulator, and ends everything it started on exit.

BCAST_DIR=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
BCAST_TOOLS=$(cd "$BCAST_DIR/../../tools" && pwd)
source "$BCAST_DIR/../e2e/lib.sh"

SCENARIO_FILE=""
SIMULATOR_STARTED=""
COUNTS=""

scenario_file() {
  printf '%s/scenarios/%s.json' "$BCAST_DIR" "$1"
}

# run_script_in_lab VARIABLE SCENARIO LISTER FILE ARGS...: this script again,
# in a lab of its own whose PC has the addresses that "LISTER pc FILE"
# prints, with VARIABLE set to SCENARIO.
run_script_in_lab() {
  local variable=$1 scenario=$2 lister=$3 file=$4 address pc_args=() started=$SECONDS rc
  shift 4
  if [[ -z ${NDT_LAB:-} ]]; then
    echo "refusing to run outside a lab: NDT_LAB is not set (run through tools/lab with ... -- ctest)" >&2
    exit 1
  fi
  while read -r address; do
    pc_args+=(--pc "$address")
  done < <("$lister" pc "$file")
  ((${#pc_args[@]} > 0)) || fail "scenario $scenario names no PC address"
  echo "-- scenario $scenario: creating a lab with ${pc_args[*]} from lab $NDT_LAB"
  "$BCAST_TOOLS/lab" with "${pc_args[@]}" -- env "$variable=$scenario" bash "$0" "$@"
  rc=$?
  echo "-- scenario $scenario: status $rc after $((SECONDS - started)) s"
  return $rc
}

# run_in_scenario_lab SCENARIO ARGS...: with the device simulator's scenario.
run_in_scenario_lab() {
  local scenario=$1
  shift
  run_script_in_lab NDT_E2E_BCAST_SCENARIO "$scenario" "$BCAST_TOOLS/simulate" "$(scenario_file "$scenario")" "$@"
}

# bcast_init PROGRAM_EXE WINPROBE_EXE: inside the scenario's lab.
bcast_init() {
  e2e_init "$@"
  SCENARIO_FILE=$(scenario_file "$NDT_E2E_BCAST_SCENARIO")
  COUNTS=$E2E_TMP/counts.json
  trap bcast_cleanup EXIT
  trap 'exit 143' TERM
  trap 'exit 130' INT
  note "inside lab $NDT_LAB ($(ip -4 -o addr show | awk '$2 != "lo" { print $4 }' | tr '\n' ' '))"
  reset_settings
  "$BCAST_TOOLS/demo" start "$NDT_LAB" "$SCENARIO_FILE" ||
    fail "could not start the simulator for $SCENARIO_FILE"
  SIMULATOR_STARTED=1
  learn_device_addresses
}

# A real device learns the PC's MAC address by ARP before it can answer, so
# the PC's neighbour table holds the device before its answer arrives. The
# simulator sends its ARP request right before the answer without waiting for
# the reply, and on two CPUs the answer now and then overtakes it (the
# program then finds no ARP row and shows " " for the first device). One
# discovery request per PC address before the program starts fills the table
# as a real network would; the counts start from zero after it.
learn_device_addresses() {
  local address broadcast pending i
  while read -r address; do
    broadcast=$(/usr/bin/python3 -c 'import ipaddress, sys
print(ipaddress.IPv4Interface(sys.argv[1]).network.broadcast_address)' "$address")
    "$BCAST_TOOLS/simulate" probe --to "$broadcast" --bind "${address%/*}" --wait 0.2 >/dev/null 2>&1 ||
      fail "simulate probe --to $broadcast failed"
  done < <("$BCAST_TOOLS/simulate" pc "$SCENARIO_FILE")
  # Delayed answers still to come would count after the reset.
  for ((i = 0; i < 50; i++)); do
    read_counts
    pending=$(counts_query "c['pending']")
    ((pending == 0)) && break
    sleep 0.1
  done
  ((pending == 0)) || fail "the simulator still has $pending answers to send after 5 s"
  sim reset
}

bcast_cleanup() {
  local status=$?
  stop_app
  if [[ -n $SIMULATOR_STARTED ]]; then
    "$BCAST_TOOLS/demo" stop "$NDT_LAB" || echo "FAIL: could not stop the simulator" >&2
  fi
  (exit "$status")
  e2e_cleanup
}

# ---- the simulator ------------------------------------------------------------

sim() {
  "$BCAST_TOOLS/simulate" ctl "$NDT_LAB_DIR/demo.sock" "$@" >/dev/null ||
    fail "simulator command failed: $*"
}

# Takes a fresh snapshot of the simulator's counts into $COUNTS.
read_counts() {
  "$BCAST_TOOLS/simulate" ctl "$NDT_LAB_DIR/demo.sock" counts >"$COUNTS" ||
    fail "cannot read the simulator's counts"
}

# counts_query EXPRESSION: a Python expression over the snapshot `c`.
counts_query() {
  /usr/bin/python3 -c 'import json, sys
c = json.load(open(sys.argv[1]))
print(eval(sys.argv[2]))' "$COUNTS" "$1"
}

# requests_from DEVICE SOURCE: requests the device heard from that PC address.
requests_from() {
  counts_query "c['devices']['$1']['by_source'].get('$2', 0)"
}

answers_of() {
  counts_query "c['devices']['$1']['answers']"
}

uptime_of_counts() {
  counts_query "c['uptime']"
}

# A pass of broadcast requests ends 2.6 s after its trigger; then, with
# auto-refresh off, nothing more is sent until the next trigger.
PASS_REQUESTS=9

# counts_reached GOT EXPECTED: each number in GOT is at least the one at the
# same place in EXPECTED (lists of blank-separated numbers).
counts_reached() {
  awk -v got="$1" -v want="$2" 'BEGIN {
    n = split(want, w, " "); split(got, g, " ")
    for (i = 1; i <= n; i++) if (g[i] + 0 < w[i] + 0) exit 1
  }'
}

# wait_counts WHAT EXPECTED FUNCTION: FUNCTION prints numbers from the
# snapshot that read_counts takes. Waits up to 15 s until each reaches its
# value in EXPECTED; fails if they are not then exactly EXPECTED.
wait_counts() {
  local what=$1 expected=$2 fn=$3 deadline=$((SECONDS + 15)) got
  while :; do
    read_counts
    got=$("$fn")
    counts_reached "$got" "$expected" && break
    ((SECONDS < deadline)) || break
    sleep 0.2
  done
  [[ $got == "$expected" ]] || fail "$what: counts are $got, expected $expected"
}

# settle_counts WHAT EXPECTED FUNCTION: wait_counts, then the counts must
# stay EXPECTED for another 1.5 s (nothing is sent after a pass).
settle_counts() {
  local got
  wait_counts "$@"
  sleep 1.5
  read_counts
  got=$("$3")
  [[ $got == "$2" ]] || fail "$1: counts are $got 1.5 s after reaching $2"
  note "$1: $got"
}

# ---- rows -----------------------------------------------------------------------

# Dumps the window, trying again when a row changed during the read.
dump_list() {
  local i
  for i in 1 2 3 4 5; do
    winprobe dump >"$DUMP" 2>"$E2E_TMP/dump.err" && return 0
    sleep 0.2
  done
  cat "$DUMP" "$E2E_TMP/dump.err" >&2
  fail "winprobe dump failed five times"
}

row_count() {
  dump_lines row | wc -l
}

# Row lines (index, then columns 0 to 5) whose address text is IP.
rows_with_ip() {
  dump_lines row | awk -F'\t' -v ip="$1" '$2 == ip'
}

# The row line whose columns 0 and 2 are IP and MAC text.
row_of() {
  dump_lines row | awk -F'\t' -v ip="$1" -v mac="$2" '$2 == ip && $4 == mac'
}

# row_state INDEX: the stored record's state.
row_state() {
  dump_lines rowstate | awk -F'\t' -v r="$1" '$1 == r { print $2 }'
}

listed_ips() {
  dump_lines row | cut -f 2 | sort -u | tr '\n' ' '
}

show_rows() {
  dump_lines row | sed 's/^/   row /'
  dump_lines rowstate | sed 's/^/   rowstate /'
}

# expect_row IP MAC NAME DESCRIPTION ARP PORT STATE: exactly one row with that
# address and MAC text (columns 0 and 2), with these columns 1, 3, 4 and 5 and
# this stored state.
expect_row() {
  local ip=$1 mac=$2 line index got_state
  local -a fields
  line=$(row_of "$ip" "$mac")
  [[ -n $line ]] || { show_rows >&2; fail "no row for $ip with MAC text '$mac'"; }
  (($(wc -l <<<"$line") == 1)) || { show_rows >&2; fail "several rows for $ip with MAC text '$mac'"; }
  # One field a line: read -a would merge the tabs around an empty field.
  mapfile -t fields < <(awk -F'\t' '{ for (i = 1; i <= NF; i++) print $i }' <<<"$line")
  index=${fields[0]}
  expect_eq "${fields[2]}" "$3" "name of $ip"
  expect_eq "${fields[4]}" "$4" "description of $ip"
  # "-" leaves the ARP column unchecked (it depends on which answer came last).
  [[ $5 == - ]] || expect_eq "${fields[5]}" "$5" "ARP column of $ip ($mac)"
  expect_eq "${fields[6]}" "$6" "port column of $ip"
  got_state=$(row_state "$index")
  expect_eq "$got_state" "$7" "state of $ip ($mac)"
}

expect_not_listed() {
  local ip
  for ip in "$@"; do
    [[ -z $(rows_with_ip "$ip") ]] || { show_rows >&2; fail "$ip is listed but must not be"; }
  done
}

# wait_for SECONDS WHAT COMMAND...: dumps until COMMAND succeeds on the dump.
wait_for() {
  local seconds=$1 what=$2 deadline
  shift 2
  deadline=$((SECONDS + seconds))
  while :; do
    dump_list
    "$@" && return 0
    if ((SECONDS >= deadline)); then
      show_rows >&2
      fail "$what: not reached within $seconds s"
    fi
    sleep 0.3
  done
}

# True when every given address is listed.
all_listed() {
  local ip
  for ip in "$@"; do
    [[ -n $(rows_with_ip "$ip") ]] || return 1
  done
}

rows_are() {
  (($(row_count) == $1))
}

# Seconds since the epoch with fractions, for measuring.
now() {
  date +%s.%N
}

# elapsed START [END]: seconds between two now values, three decimals.
elapsed() {
  awk -v a="$1" -v b="${2:-$(now)}" 'BEGIN { printf "%.3f", b - a }'
}

# in_range VALUE LOW HIGH: LOW <= VALUE <= HIGH, as decimals.
in_range() {
  awk -v v="$1" -v lo="$2" -v hi="$3" 'BEGIN { exit !(v >= lo && v <= hi) }'
}
