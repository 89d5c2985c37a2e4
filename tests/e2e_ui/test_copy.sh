# Ctrl+C copies the selected rows as tab-separated text, the context menu
# copies one cell or the row, and File > Copy all rows adds a header line;
# the clipboard is read back from another process.
# Usage: test_copy.sh PROGRAM_EXE WINPROBE_EXE
source "$(dirname "$0")/ui_lib.sh"
ui_begin "$@"
ui_start
tab=$'\t' crlf=$'\r\n'
# The last field, Status, is empty for a device in the PC's subnet.
nine="192.168.77.9${tab}Alpha${tab}02-4F-56-00-30-09${tab}Orvel IO-8${tab}Y${tab}${crlf}"
ten="192.168.77.10${tab}Charlie${tab}02-4F-56-00-30-10${tab}Orvel IO-8${tab}Y${tab}${crlf}"

click_row 2
keys ctrl+c
clipboard_is "$nine" "Ctrl+C on one row"
xdotool keydown shift && click_row 3 && xdotool keyup shift
keys ctrl+c
clipboard_is "$nine$ten" "Ctrl+C on two rows"

click_row 3 3
keys Down Down Return  # "Copy IP address"
clipboard_is "192.168.77.10" "Copy IP address"
click_row 3 3
keys Down Down Down Return  # "Copy MAC address"
clipboard_is "02-4F-56-00-30-10" "Copy MAC address"

winprobe command 2001 >/dev/null || fail "could not send Copy all rows"
sleep 0.4
all=$(winprobe clipboard)
expect_eq "$(head -n 1 <<<"$all")" "IP Address${tab}Name${tab}MAC Address${tab}Description${tab}ARP${tab}Status" "header line"
expect_eq "$(wc -l <<<"$all")" 6 "lines of Copy all rows"
expect_eq "$(grep -c "${tab}Conflict\$" <<<"$all")" 2 "lines of the address claimed twice ending in Conflict"
close_app_expect_exit 0
note PASS
