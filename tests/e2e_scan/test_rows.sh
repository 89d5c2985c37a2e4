# The console lists the demo network as the window does: the same rows with
# the same address, name, MAC, description, ARP mark and Status, after the
# window's start-up pass and the console's default three seconds; its last
# column says which way each device answered.
# Usage: test_rows.sh PROGRAM_EXE WINPROBE_EXE SCAN_EXE
source "$(dirname "$0")/scan_lib.sh"

if [[ -z ${NDT_E2E_SCAN:-} ]]; then
  run_in_demo_lab "$@"
  exit
fi

scan_init "$@"
ips="10.20.30.40 169.254.7.20 192.168.77.21 192.168.77.22 192.168.77.23 192.168.77.30 192.168.77.41 192.168.77.42"

start_app
wait_main_window 20
wait_for 20 "every demo device listed" all_listed $ips
sleep 3  # answers still on their way, and the ARP checks
dump_list
show_rows
close_app_expect_exit 0

start_scan "$E2E_TMP/scan.csv" --format csv
wait_scan_exit 20 || fail "the console did not end within 20 s"
expect_eq "$SCAN_STATUS" 0 "the console's exit status"
sed 's/^/   console /' "$E2E_TMP/scan.csv"

/usr/bin/python3 - "$DUMP" "$E2E_TMP/scan.csv" <<'PY' || fail "the console's rows differ from the window's"
import csv, sys
dump, scan = sys.argv[1], sys.argv[2]
shared = ["IP Address", "Name", "MAC Address", "Description", "ARP", "Status"]
columns, window = {}, []
for line in open(dump, encoding="utf-8", errors="replace"):
    f = line.rstrip("\r\n").split("\t")
    if f[0] == "column":
        columns[f[3]] = int(f[1])
    elif f[0] == "row":
        window.append(tuple(f[2 + columns[h]] for h in shared))
with open(scan, encoding="utf-8", newline="") as stream:
    rows = list(csv.DictReader(stream))
console = [tuple(r[h] for h in shared) for r in rows]
ok = sorted(window) == sorted(console) and len(window) == 9
for row in sorted(set(window) ^ set(console)):
    print("   only in the", "window:" if row in window else "console:", row)
ways = {r["IP Address"]: r["Answered"] for r in rows}
for ip, way in ways.items():
    want = "mDNS" if ip in ("192.168.77.41", "192.168.77.42") else "broadcast"
    if way != want:
        print("   %s answered %r, expected %r" % (ip, way, want))
        ok = False
sys.exit(0 if ok else 1)
PY
note "PASS"
