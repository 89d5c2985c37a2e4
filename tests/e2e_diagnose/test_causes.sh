# The console's --diagnose --format json names each scenario's cause first
# (by its key) and exits 0 when a device was found, 1 when none:
#   multicast-blocked  broadcast answers arrive, every multicast DNS packet is
#                      dropped in the PC's namespace;
#   no-answer          every answer is dropped while the firewall (the double)
#                      has our rule for the console;
#   firewall-blocked   the same without that rule;
#   other-maker-only   only another maker's device gets through;
#   subnet-filter      --subnet keeps to the interface without the maker's
#                      devices (named among the causes);
#   no-interface       a lab of its own with loopback only; the report is
#                      printed after the line on stderr.
# The window explains its empty list in two of them: every answer dropped
# (no-answer), and its saved subnet choice on the interface without the
# maker's devices (subnet-filter).
# One lab holds the first five: the drops are iptables rules on INPUT of the
# lab's PC namespace, changed between runs. --verbose on the first run puts
# one line per event, with its time, on stderr.
# Usage: test_causes.sh PROGRAM_EXE WINPROBE_EXE SCAN_EXE FIREWALL_DOUBLE_DLL
source "$(dirname "$0")/../e2e_scan/scan_lib.sh"
source "$(dirname "$0")/../e2e_msi/firewall_double.sh"
DIAG_SCENARIOS=$(cd "$(dirname "$0")" && pwd)/scenarios

if [[ -z ${NDT_E2E_DIAGNOSE:-} ]]; then
  run_script_in_lab NDT_E2E_DIAGNOSE causes "$BCAST_TOOLS/simulate" "$DIAG_SCENARIOS/causes.json" "$@" || exit
  echo "-- scenario none: creating a lab with loopback only from lab $NDT_LAB"
  "$BCAST_TOOLS/lab" with --loopback-only -- env NDT_E2E_DIAGNOSE=none bash "$0" "$@"
  exit
fi

e2e_init "$1" "$2"
SCAN_EXE=$3
[[ -f $SCAN_EXE ]] || fail "console program not built: $SCAN_EXE"
[[ -f $4 ]] || fail "firewall double not built: $4"
trap scan_cleanup EXIT
trap 'exit 143' TERM
trap 'exit 130' INT
err=$E2E_TMP/stderr.txt
KEYS=""

# diagnose NAME ARGS...: one run; its status into SCAN_STATUS, its causes'
# keys, in order, into KEYS.
diagnose() {
  local name=$1
  shift
  wine "$SCAN_EXE" --diagnose --format json "$@" >"$E2E_TMP/$name.json" 2>"$err"
  SCAN_STATUS=$?
  cat "$err" >>"$APP_LOG"
  KEYS=$(/usr/bin/python3 -c 'import json, sys
print(" ".join(c["key"] for c in json.load(open(sys.argv[1], encoding="utf-8"))["causes"]))' "$E2E_TMP/$name.json") ||
    fail "$name: no JSON object with causes: $(cat "$E2E_TMP/$name.json")"
  note "$name: status $SCAN_STATUS, causes: $KEYS"
  /usr/bin/python3 -c 'import json, sys
for c in json.load(open(sys.argv[1], encoding="utf-8"))["causes"]:
    print("     %s: %s" % (c["key"], c["text"]))' "$E2E_TMP/$name.json" >&2
}

# expect_first NAME STATUS KEY
expect_first() {
  expect_eq "$SCAN_STATUS" "$2" "$1: exit status (stderr: $(cat "$err"))"
  expect_eq "${KEYS%% *}" "$3" "$1: the first cause (report: $(cat "$E2E_TMP/$1.json"))"
}

if [[ $NDT_E2E_DIAGNOSE == none ]]; then
  diagnose none
  expect_first none 1 no-interface
  grep -q 'No network interfaces detected' "$err" || fail "no line on stderr: $(cat "$err")"
  note "PASS"
  exit 0
fi

# In the lab's PC namespace, named so, whatever namespace this runs in.
pc_iptables() {
  "$BCAST_TOOLS/lab" exec "$NDT_LAB" -- iptables-legacy -w 5 "$@" || fail "iptables $* failed in the PC's namespace"
}
drop() { # iptables match...: dropped on INPUT
  pc_iptables -A INPUT "$@" -j DROP
}
# dropped_by PATTERN: packets the INPUT rules matching PATTERN dropped.
dropped_by() {
  pc_iptables -L INPUT -v -x -n | awk -v p="$1" '$3 == "DROP" && $0 ~ p { n += $1 } END { print n + 0 }'
}

reset_settings
register_firewall_double "$4"
seed_firewall_rule 1 Announce 'Orvel Electronics Ltd.' "$(winepath -w "$SCAN_EXE")"
SCENARIO_FILE=$DIAG_SCENARIOS/causes.json
COUNTS=$E2E_TMP/counts.json
SIMULATOR_STARTED=1
"$BCAST_TOOLS/demo" start "$NDT_LAB" "$SCENARIO_FILE" || fail "could not start the simulator"
learn_device_addresses
MDNS_STARTED=1
"$MDNS_DEVICES" start "$NDT_LAB" "$DIAG_SCENARIOS/causes-mdns.json" >/dev/null ||
  fail "could not start the multicast DNS device"

drop -p udp --sport 5353
drop -p udp --dport 5353
diagnose multicast-blocked --verbose
expect_first multicast-blocked 0 multicast-blocked
(($(dropped_by 'udp (spt|dpt):5353') > 0)) || fail "no multicast DNS packet was dropped"
grep -qE '^[0-9]{2}:[0-9]{2}:[0-9]{2}\.[0-9]{3} .*192\.168\.77\.21' "$err" ||
  fail "--verbose: no event line names the answering device: $(head -20 "$err")"

drop -p udp --sport 30303
diagnose no-answer
expect_first no-answer 1 no-answer
(($(dropped_by 'udp spt:30303') > 0)) || fail "no answer was dropped: did the devices answer?"

remove_firewall_rule 1
diagnose firewall-blocked
expect_first firewall-blocked 1 firewall-blocked

seed_firewall_rule 1 Announce 'Orvel Electronics Ltd.' "$(winepath -w "$SCAN_EXE")"
pc_iptables -F INPUT
drop -s 192.168.77.21
drop -s 192.168.77.41
# By broadcast only: the maker's multicast DNS device is gone, and a
# multicast DNS question without answer is no evidence here.
diagnose other-maker-only --broadcast-only
expect_first other-maker-only 1 other-maker-only

pc_iptables -F INPUT
# By broadcast only: on one LAN a multicast DNS answer reaches every
# interface, whatever its subnet, so only broadcast keeps to one.
diagnose subnet-filter --broadcast-only --subnet 192.168.88.0/24
expect_eq "$SCAN_STATUS" 1 "subnet-filter: exit status (stderr: $(cat "$err"))"
[[ " $KEYS " == *" subnet-filter "* ]] || fail "subnet-filter: not among the causes: $KEYS"

# window_explains NAME TEXT: the window, started afresh, explains its empty
# list (control 1020, shown 4 s after the start) with a text holding TEXT.
window_explains() {
  local name=$1 want=$2 line="" tries
  start_app
  wait_main_window 20
  for ((tries = 0; tries < 75; ++tries)); do
    line=$(winprobe text 1020 | tr -d '\r')
    [[ $(cut -f3 <<<"$line") == 1 ]] && break
    sleep 0.2
  done
  [[ $(cut -f3 <<<"$line") == 1 ]] || fail "$name: the window shows no explanation: $line"
  [[ $line == *"$want"* ]] || fail "$name: the explanation lacks \"$want\": $line"
  note "$name: the window says: $(cut -f4- <<<"$line")"
  close_app_expect_exit 0
}

# The window adds its own rule at its start (the double lets it), so with
# every answer dropped nothing but the network is left to blame.
drop -p udp --sport 30303
drop -p udp --sport 5353
drop -p udp --dport 5353
window_explains no-answer "Requests were sent but nothing was heard"

# The saved subnet choice keeps the window to the interface without the
# maker's devices (192.168.88.0 as a DWORD in network order).
pc_iptables -F INPUT
drop -p udp --sport 5353
drop -p udp --dport 5353
wine_reg add "$E2E_KEY" /v Subnet /t REG_DWORD /d 5810368 /f || fail "cannot write Subnet"
window_explains subnet-filter "1 other interface was not searched: choose All Interfaces"
note "PASS"
