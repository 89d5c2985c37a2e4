# Closing the main window (WM_CLOSE) ends the process with code 0 within a
# second, while devices answer, with auto-refresh off and on, on a PC with one
# interface and on one with two.
#
# Timing: the program and the winprobe run with Wine's relay trace limited
# to PostMessageW, ExitProcess and WaitForSingleObject, so the trace gives the
# moment WM_CLOSE is posted and the moment the program calls ExitProcess (the
# program's own share); a poller notes when the process has ended (Wine's
# teardown adds the rest). Wine's trace clock is CLOCK_MONOTONIC_RAW in
# milliseconds, which the poller reads as well. The window thread's long
# waits after WM_CLOSE (joining threads) are printed for each close.
# Usage: test_close.sh PROGRAM_EXE WINPROBE_EXE (NDT_E2E_CLOSE_RUNS: closes per lab, default 4)
source "$(dirname "$0")/bcast_lib.sh"

if [[ -z ${NDT_E2E_BCAST_SCENARIO:-} ]]; then
  run_in_scenario_lab same-subnet "$@" || exit 1
  run_in_scenario_lab two-interfaces "$@" || exit 1
  exit 0
fi

bcast_init "$@"
runs=${NDT_E2E_CLOSE_RUNS:-4}
limit=1.0
TRACE=$E2E_TMP/app.trace
CLOSE_TRACE=$E2E_TMP/close.trace
GONE=$E2E_TMP/gone

wine_reg add 'HKCU\Software\Wine\Debug' /v RelayInclude \
  /d 'user32.PostMessageW;kernel32.ExitProcess;kernel32.WaitForSingleObject' /f || fail "cannot limit the relay trace"

start_traced_app() {
  WINEDEBUG=+timestamp,+relay wine "$APP_EXE" >"$TRACE" 2>&1 &
  APP_PID=$!
  APP_STATUS=""
  note "started the program with a relay trace (pid $APP_PID)"
}

# Notes CLOCK_MONOTONIC_RAW, in seconds, once process $1 has ended (or is a
# zombie); gives up after 15 s.
watch_exit() {
  /usr/bin/python3 -c '
import sys, time
path = "/proc/%s/stat" % sys.argv[1]
deadline = time.monotonic() + 15
while time.monotonic() < deadline:
    try:
        with open(path) as stat:
            state = stat.read().rsplit(")", 1)[1].split()[0]
    except (OSError, IndexError):
        break
    if state in ("Z", "X"):
        break
    time.sleep(0.001)
print("%.3f" % time.clock_gettime(time.CLOCK_MONOTONIC_RAW))
' "$1" >"$GONE" &
  WATCHER=$!
}

# trace_time FILE REGEX: the timestamp (seconds) of the first trace line matching REGEX.
trace_time() {
  grep -a -m 1 -E "$2" "$1" | cut -d: -f 1
}

# shutdown_waits POSTED: the waits without time limit that the thread calling
# ExitProcess made after POSTED and that lasted 20 ms or more.
shutdown_waits() {
  awk -F: -v posted="$1" '
    /Call KERNEL32\.ExitProcess\(/ { main = $2 }
    { lines[NR] = $0 }
    END {
      for (i = 1; i <= NR; i++) {
        split(lines[i], f, ":")
        if (f[2] != main || f[1] + 0 < posted + 0) continue
        if (lines[i] ~ /Call KERNEL32\.WaitForSingleObject\([0-9a-f]+,ffffffff\)/) {
          start = f[1]; handle = lines[i]; sub(/.*WaitForSingleObject\(/, "", handle); sub(/,.*/, "", handle)
        } else if (start != "" && lines[i] ~ /Ret  KERNEL32\.WaitForSingleObject\(/) {
          if (f[1] - start >= 0.020) out = out sprintf("%s%.3f s on handle 0x%s", out == "" ? "" : ", ", f[1] - start, handle)
          start = ""
        }
      }
      print out == "" ? "no wait of 20 ms or more" : out
    }' "$TRACE"
}

results=()
for ((run = 1; run <= runs; run++)); do
  auto=$((run % 2 == 0 ? 1 : 0))
  start_traced_app
  wait_main_window 20
  winprobe auto-refresh "$auto" || fail "cannot set Auto-refresh to $auto"
  # Let the workers run a varying part of their half-second waits.
  sleep "1.$((run * 23 % 10))"
  app_running || fail "the program ended before it was closed"
  watch_exit "$APP_PID"
  WINEDEBUG=+timestamp,+relay wine "$WINPROBE_EXE" close >/dev/null 2>"$CLOSE_TRACE" ||
    fail "could not post WM_CLOSE"
  wait "$WATCHER"
  wait_app_exit 10 || fail "the program did not exit within 10 s of WM_CLOSE"
  expect_eq "$APP_STATUS" 0 "exit code after WM_CLOSE"
  if grep -a -q 'unimplemented function' "$TRACE"; then
    grep -a 'unimplemented function' "$TRACE" >&2
    fail "Wine reported a call to an unimplemented function"
  fi
  # WM_CLOSE is message 0x10.
  posted=$(trace_time "$CLOSE_TRACE" 'Call user32\.PostMessageW\([0-9a-f]+,00000010,')
  exited=$(trace_time "$TRACE" 'Call KERNEL32\.ExitProcess\(')
  gone=$(cat "$GONE")
  [[ $posted =~ ^[0-9]+\.[0-9]+$ && $exited =~ ^[0-9]+\.[0-9]+$ && $gone =~ ^[0-9]+\.[0-9]+$ ]] ||
    fail "incomplete timing: post '$posted', ExitProcess '$exited', gone '$gone'"
  program=$(elapsed "$posted" "$exited")
  teardown=$(elapsed "$exited" "$gone")
  total=$(elapsed "$posted" "$gone")
  # Both clocks count milliseconds of CLOCK_MONOTONIC_RAW; allow 20 ms of skew.
  if ! in_range "$program" 0 1000 || ! in_range "$teardown" -0.020 1000; then
    fail "clocks disagree: post $posted, ExitProcess $exited, gone $gone"
  fi
  note "run $run (auto-refresh $auto): WM_CLOSE to ExitProcess $program s, ExitProcess to end $teardown s, total $total s"
  note "  the window thread then waited $(shutdown_waits "$posted")"
  results+=("$total")
  in_range "$total" 0 "$limit" ||
    fail "run $run (auto-refresh $auto): the process ended $total s after WM_CLOSE, more than $limit s (the program itself took $program s)"
done
note "PASS ($NDT_E2E_BCAST_SCENARIO: ${results[*]} s)"
