# Hostile multicast DNS traffic never harms the program: tools/flood-mdns
# --quick lists three genuine devices with auto-refresh on, then for 8 s
# sends TXT bombs of 9000 bytes, a stream of new host names, multi-instance
# packets, complete answers from senders outside the PC's subnet and
# malformed packets, by multicast and by unicast to the program's ports.
# Judged, with margins for a loaded machine: the program still runs; every
# genuine device is listed again within 15 s of the attack's end; no row
# ever shows an off-subnet sender or the ghost (a real device that only
# they name); the program's memory grows by less than 60 MB.
# Usage: test_hostile.sh PROGRAM_EXE WINPROBE_EXE
source "$(dirname "$0")/mdns_lib.sh"

# flood-mdns makes a lab of its own; like every script here this one starts
# only from inside a lab.
if [[ -z ${NDT_LAB:-} ]]; then
  echo "refusing to run outside a lab: NDT_LAB is not set (run through tools/lab with ... -- ctest)" >&2
  exit 1
fi
[[ -f $1 ]] || fail "program not built: $1"
[[ -f $2 ]] || fail "winprobe not built: $2"
results=$(mktemp /tmp/ndt-e2e-hostile.XXXXXX)
trap 'rm -f "$results"' EXIT

"$BCAST_TOOLS/flood-mdns" --exe "$1" --winprobe "$2" --quick --recover 20 --json "$results" ||
  fail "tools/flood-mdns failed"

# check EXPRESSION MESSAGE: a Python expression over the results `r`.
check() {
  /usr/bin/python3 -c 'import json, sys
r = json.load(open(sys.argv[1]))
sys.exit(0 if eval(sys.argv[2]) else 1)' "$results" "$1" || fail "$2 (results: $(tr -d '\n' <"$results"))"
}

check 'r["program_running"]' "the program ended during or after the attack"
check 'r["recovery_s"] is not None and r["recovery_s"] <= 15' \
  "the genuine devices were not all listed again within 15 s of the attack's end"
check 'not r["off_subnet_listed"]' "an answer from off the subnet was listed"
check 'r["memory_kb"]["before"] and r["memory_kb"]["peak"] - r["memory_kb"]["before"] < 60 * 1024' \
  "the program's memory grew by 60 MB or more"
check 'sum(r["sent"].values()) > 1000' "the attack sent next to nothing"
note "PASS"
