# What scripts rely on beyond the rows: --version; a --watch run ends once
# the reader of its pipe is gone, on a quiet network too (a Windows reader
# that stops after its first line); a listing that cannot be written (a full
# disk, a closed pipe) says so in one line on stderr and exits 3, an
# --output file that cannot be written before it listens; Ctrl+C
# before a listing's time is up exits 4; a --subnet on which no interface is
# names the subnets there are.
# Usage: test_output.sh PROGRAM_EXE WINPROBE_EXE SCAN_EXE FIRST_LINE_EXE
source "$(dirname "$0")/scan_lib.sh"

if [[ -z ${NDT_E2E_SCAN:-} ]]; then
  run_in_demo_lab "$@"
  exit
fi

scan_init "$1" "$2" "$3"
FIRST_LINE=$4
err=$E2E_TMP/stderr.txt

# scan_to TARGET ARGS...: a listing with stdout to TARGET; status and stderr kept.
scan_to() {
  local target=$1
  shift
  wine "$SCAN_EXE" "$@" >"$target" 2>"$err"
  SCAN_STATUS=$?
  cat "$err" >>"$APP_LOG"
}

version=$(wine "$SCAN_EXE" --version | tr -d '\r')
want=$(awk '/#define NDT_VERSION_(MAJOR|MINOR|PATCH|BUILD) / { v = v (v == "" ? "" : ".") $3 } END { print v }' \
  "$(dirname "$0")/../../core/resource.h")
expect_eq "$version" "NetworkDiscoveryScan $want" "--version"

note "--watch read by a Windows pipeline that stops after the first line"
wine "$FIRST_LINE" '"new","169.254.7.20"' 10 \
  "$(winepath -w "$SCAN_EXE") --watch --format csv --subnet 169.254.0.0/16" \
  >"$E2E_TMP/first.csv" 2>"$err"
first=$?
cat "$err" >&2
expect_eq "$first" 0 "the watch ended after its reader left (first_line's status)"
grep -q 'ended 0 after' "$err" || fail "the watch did not end with status 0: $(cat "$err")"

# Both listings below must find a device to have anything to write: they
# listen the default 3 s, as 1 s can pass before a loaded machine's first
# answer is in.
note "a listing into a full disk"
scan_to /dev/full
expect_eq "$SCAN_STATUS" 3 "exit status when the list cannot be written"
[[ $(grep -c . "$err") == 1 ]] && grep -q 'could not be written' "$err" ||
  fail "expected one line on stderr, got: $(cat "$err")"

note "an --output file in a folder that does not exist"
asked=$(now)
scan_to "$E2E_TMP/unused.txt" --seconds 60 --output "$(winepath -w "$E2E_TMP")\\missing\\list.csv"
took=$(elapsed "$asked")
note "the console ended $took s after it started, with status $SCAN_STATUS"
expect_eq "$SCAN_STATUS" 3 "exit status when the --output file cannot be written"
in_range "$took" 0 20 || fail "the --output file was found unwritable only after $took s"
[[ $(grep -c . "$err") == 1 ]] && grep -q 'could not be written' "$err" ||
  fail "expected one line on stderr, got: $(cat "$err")"

note "a listing whose reader has gone"
wine "$SCAN_EXE" 2>"$err" | true
status=${PIPESTATUS[0]}
expect_eq "$status" 3 "exit status when the pipe is closed"
grep -q 'could not be written' "$err" || fail "no line on stderr for the closed pipe"

note "Ctrl+C before the listing's time is up"
start_scan "$E2E_TMP/cut.txt" --seconds 30
sleep 3
kill -INT "$SCAN_PID"
wait_scan_exit 10 || fail "the listing did not end within 10 s of Ctrl+C"
expect_eq "$SCAN_STATUS" 4 "exit status of an interrupted listing"

note "a subnet no interface is on"
scan_to "$E2E_TMP/none.txt" --subnet 10.1.0.0/16
expect_eq "$SCAN_STATUS" 2 "exit status for a subnet without interface (stderr: $(cat "$err"))"
grep -q 'its subnets: .*192\.168\.77\.0/24' "$err" && grep -q 'its subnets: .*169\.254\.0\.0/16' "$err" ||
  fail "the subnets are not named: $(cat "$err")"
note "PASS"
