# On a computer whose only IPv4 address is 127.0.0.1 the program shows the
# error box "No network interfaces detected", exits with code 1 once it is
# answered, and leaves the saved settings as they were.
# Usage: test_loopback.sh PROGRAM_EXE WINPROBE_EXE
#
# The script runs itself again inside a second, loopback-only lab created from
# the current one; only that inner run starts the program.
if [[ -z ${NDT_E2E_LOOPBACK_INNER:-} ]]; then
  if [[ -z ${NDT_LAB:-} ]]; then
    echo "refusing to run outside a lab: NDT_LAB is not set (run through tools/lab with ... -- ctest)" >&2
    exit 1
  fi
  lab=$(cd "$(dirname "$0")/../../tools" && pwd)/lab
  echo "-- creating a loopback-only lab from lab $NDT_LAB"
  exec "$lab" with --loopback-only -- env NDT_E2E_LOOPBACK_INNER=1 bash "$0" "$@"
fi

source "$(dirname "$0")/lib.sh"
e2e_init "$@"
note "inside loopback-only lab $NDT_LAB"
addresses=$(ip -4 -o addr show | awk '{print $4}' | tr '\n' ' ')
expect_eq "$addresses" "127.0.0.1/8 " "IPv4 addresses of the loopback-only lab"

# Settings that a save would change: Refresh 5 would be written back as 1.
reset_settings
wine_reg add "$E2E_KEY" /v Subnet /t REG_DWORD /d 19722 /f || fail "cannot write Subnet"
wine_reg add "$E2E_KEY" /v Refresh /t REG_DWORD /d 5 /f || fail "cannot write Refresh"

start_app
box=$(winprobe wait-box Error 20) || fail "no box titled 'Error' appeared within 20 s"
echo "$box"
grep -qP '^control\t.*\tNo network interfaces detected\t' <<<"$box" ||
  fail "the Error box does not say 'No network interfaces detected'"
if winprobe dump >/dev/null 2>&1; then
  fail "a main window exists although start-up failed"
fi

# Answer the box with Enter, as a person would; key presses can be ignored for
# a moment after a window appears, so keep trying.
for _ in $(seq 25); do
  xdotool search --name '^Error$' key Return >/dev/null 2>&1
  app_running || break
  sleep 0.4
done
if app_running; then
  note "the box ignored Enter for 10 s; pressing OK through the winprobe"
  winprobe close-box Error
fi
wait_app_exit 10 || fail "the program did not exit after the Error box was answered"
expect_eq "$APP_STATUS" "1" "exit code after the interface table failed"

expect_dword Subnet 0x00004d0a
expect_dword Refresh 5
note "PASS"
