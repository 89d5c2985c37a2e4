# The console lists the demo network as the window does: the same rows with
# the same address, name, MAC, description, ARP mark and Status, after the
# window's start-up pass and the console's default three seconds; its
# further columns say which way each device answered, its page address and
# the interface that heard it and a multicast DNS device's instance
# name. The JSON list says the same and parses; the
# --output file is the window's saved list (its columns, with a byte-order
# mark), while standard output has none.
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
head -c 3 "$E2E_TMP/scan.csv" | od -An -tx1 | grep -q 'ef bb bf' && fail "standard output starts with a byte-order mark"

start_scan "$E2E_TMP/scan.json" --format JSON
wait_scan_exit 20 || fail "the JSON listing did not end within 20 s"
expect_eq "$SCAN_STATUS" 0 "the JSON listing's exit status"
start_scan "$E2E_TMP/unused.txt" --output "$(winepath -w "$E2E_TMP")\\saved.csv"
wait_scan_exit 20 || fail "the saved listing did not end within 20 s"
expect_eq "$SCAN_STATUS" 0 "the saved listing's exit status"

/usr/bin/python3 - "$E2E_TMP/scan.csv" "$E2E_TMP/scan.json" "$E2E_TMP/saved.csv" "$E2E_TMP/unused.txt" <<'PY' ||
import csv, json, sys
scan, listed, saved, unused = sys.argv[1:]
with open(scan, encoding="utf-8", newline="") as stream:
    listing = list(csv.DictReader(stream))
rows = {r["IP Address"]: r for r in listing}
objects = json.load(open(listed, encoding="utf-8"))
keys = {"ip", "name", "mac", "description", "arp", "status", "answered", "page", "heardOn", "instance"}
ok = all(set(o) == keys for o in objects)
# Two runs: a device heard on both interfaces names the same one in both.
columns = ["IP Address", "Name", "MAC Address", "Status", "Answered", "Page", "Heard On", "Instance"]
from_json = sorted((o["ip"], o["name"], o["mac"], o["status"], o["answered"], o["page"], o["heardOn"],
                    o["instance"]) for o in objects)
if from_json != sorted(tuple(r[c] for c in columns) for r in listing):
    print("   the JSON rows differ from the CSV rows")
    ok = False
want = {"192.168.77.21": ("http://192.168.77.21:8080/", "192.168.77.10", ""),
        "192.168.77.22": ("http://192.168.77.22:80/", "192.168.77.10", ""),
        "169.254.7.20": ("http://169.254.7.20:80/", "169.254.7.10", ""),
        "10.20.30.40": ("http://10.20.30.40:80/", "169.254.7.10", ""),
        "192.168.77.41": ("http://192.168.77.41:80/", "192.168.77.10", "X200 Lobby"),
        "192.168.77.42": ("http://192.168.77.42:80/", "192.168.77.10", "X200 Panel")}
for ip, expected in want.items():
    got = (rows[ip]["Page"], rows[ip]["Heard On"], rows[ip]["Instance"])
    if got != expected:
        print("   %s: page, heard on, instance %r" % (ip, got))
        ok = False
raw = open(saved, "rb").read()
ok = ok and raw.startswith(b"\xef\xbb\xbf") and open(unused, "rb").read() == b""
with open(saved, encoding="utf-8-sig", newline="") as stream:
    table = list(csv.reader(stream))
ok = ok and table[0] == ["IP Address", "Name", "MAC Address", "Description", "ARP", "Status"]
shared = ["IP Address", "Name", "MAC Address", "Description", "ARP", "Status"]
ok = ok and sorted(map(tuple, table[1:])) == sorted(tuple(r[h] for h in shared) for r in listing)
sys.exit(0 if ok else 1)
PY
  fail "the JSON list or the saved list differs from the CSV list"
sed 's/^/   json /' "$E2E_TMP/scan.json"
note "PASS"
