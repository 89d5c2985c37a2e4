# Rebuilding the interface table on every address change neither leaks
# handles nor leaves threads behind: after ten changes that end in the
# starting configuration, the program's handle and thread counts are back at
# their starting values. Without a change the watcher never rebuilds (no box).
# Usage: test_watcher_handles.sh PROGRAM_EXE WINPROBE_EXE
source "$(dirname "$0")/lib.sh"
source "$(dirname "$0")/watcher_lib.sh"
e2e_init "$@"
watcher_init

extra_iface=pc1
extra_address=172.30.6.10/24
extra_network=172.30.6.0
changes=10
# Handles may differ from the start by at most this many. Wine's own handles
# move by one or two while the program idles (60 and 62 were both seen at
# rest); a leak of even one handle per change would add ten over the ten
# changes and fail.
handle_tolerance=4
watcher_require_iface "$extra_iface"
watcher_require_absent "$extra_address"

HANDLES=""
THREADS=""
# Reads the program's current handle and thread counts.
read_counts() {
  local out=$E2E_TMP/handles.txt
  winprobe handles >"$out" || fail "winprobe handles failed: $(cat "$out")"
  HANDLES=$(awk -F'\t' '$1 == "handles" { print $2 }' "$out")
  THREADS=$(awk -F'\t' '$1 == "threads" { print $2 }' "$out")
  [[ $HANDLES =~ ^[0-9]+$ && $THREADS =~ ^[0-9]+$ ]] || fail "unreadable counts: $(tr '\n' ' ' <"$out")"
}

# settle_counts LABEL: waits until the thread count has held for fifteen
# readings a second apart and then three readings agree on both counts, at
# most 60 s: the workers' discovery pass after a start or a change has ended
# (the multicast DNS pass asks at 0, 1, 3 and 7 s and ends after 8 s), and
# the multicast DNS client's session, kept for 5 s after its last query, has
# closed too. Handles alone may move by one or two at rest.
settle_counts() {
  local previous="" same=0 threads_same=0 previous_threads="" seen=() deadline=$((SECONDS + 60))
  while ((SECONDS < deadline)); do
    read_counts
    seen+=("$HANDLES/$THREADS")
    if [[ "$THREADS" == "$previous_threads" ]]; then
      ((++threads_same))
    else
      threads_same=0
    fi
    if [[ "$HANDLES/$THREADS" == "$previous" ]]; then
      ((++same >= 2 && threads_same >= 15)) && {
        note "$1: $HANDLES handles, $THREADS threads (readings: ${seen[*]})"
        return 0
      }
    else
      same=0
    fi
    previous="$HANDLES/$THREADS"
    previous_threads=$THREADS
    sleep 1
  done
  fail "$1: handle/thread counts did not settle within 60 s (readings: ${seen[*]})"
}

reset_settings
start_app
wait_main_window 20
dump_app
before=$(combo_networks)
settle_counts "after start-up"
start_handles=$HANDLES
start_threads=$THREADS

# No change: the watcher compares the table every pass but never rebuilds.
expect_no_change_box 3 "with no address change"
read_counts
expect_eq "$THREADS" "$start_threads" "threads after 3 s without a change"
idle_diff=$((HANDLES - start_handles))
((idle_diff <= handle_tolerance && idle_diff >= -handle_tolerance)) ||
  fail "handles went from $start_handles to $HANDLES in 3 s without a change (tolerance $handle_tolerance)"
dump_app
expect_eq "$(combo_networks)" "$before" "subnet entries after 3 s without a change"

# shellcheck disable=SC2086 # one word per network
with_extra=$(sorted_words $before $extra_network)
peak_threads=0
for ((i = 1; i <= changes; i++)); do
  if ((i % 2 == 1)); then
    action=add
    expected=$with_extra
  else
    action=del
    expected=$before
  fi
  address_change "$action" "$extra_iface" "$extra_address"
  expect_change_box 5
  answer_change_box
  wait_combo "$expected" 10 ||
    fail "change $i ($action): subnet choice '$(combo_networks)', expected '$expected'"
  read_counts
  ((THREADS > peak_threads)) && peak_threads=$THREADS
  note "change $i ($action $extra_address) handled: $HANDLES handles, $THREADS threads"
done
# Each change had exactly one box: a late second one would show up now.
expect_no_change_box 3 "after the last change"

settle_counts "after $changes changes"
note "threads: $start_threads at start, at most $peak_threads during the changes, $THREADS at the end"
((THREADS <= start_threads)) ||
  fail "threads grew from $start_threads to $THREADS after $changes address changes"
expect_eq "$THREADS" "$start_threads" "thread count after $changes changes"
diff=$((HANDLES - start_handles))
((diff <= handle_tolerance && diff >= -handle_tolerance)) ||
  fail "handles went from $start_handles to $HANDLES after $changes address changes (tolerance $handle_tolerance)"
note "handles: $start_handles at start, $HANDLES after $changes changes (difference $diff)"

close_app_expect_exit 0
note "PASS"
