"""tools/flood-mdns --repeat N: the hostile mix N times in a row, each run
with a lab and a program start of its own (the deaths seen so far came in
separate runs, a few seconds to a minute into the attack, so a fresh start
per run repeats exactly that; a long-lived program under many attacks is
tools/flood-mdns --churn). Run i uses seed --seed + i - 1, so a run that
died is replayed alone by tools/flood-mdns --seed S.

Per run and in total: died or not (with the exit status, when it was first
seen gone and the top of Wine's backtrace), memory growth before the attack
to peak, the slowest window answer, the seconds until every genuine device
was listed again after the attack, and whether they all stayed listed for
--settle seconds after it (default here 75 s: the program keeps a device
fresh on its answers for 60 s after its last full report, so a browse that
no longer reports devices shows only after that). Every run's stdout and stderr are
kept under --keep DIR/run-NN/ (a few kilobytes each); the summary names the
crash reports of the runs that died.
"""

import copy
import json
import os
import time

from .flood import memory_growth_mb, print_death, run_once

SETTLE = 75.0


def describe(result, recover):
    growth = memory_growth_mb(result)
    recovery = result["recovery_s"]
    if result["died"]:
        state = "DIED (status %s)" % result["exit_status"]
    elif result["error"]:
        state = "ended early"
    else:
        state = "ran"
    later = [n for _, n in result["genuine_after_attack"] if n is not None]
    lost = result["genuine_lost_s"]
    return "%s; memory +%s MB; slowest answer %.2f s; all genuine listed again %s; later %s" % (
        state, "?" if growth is None else "%.1f" % growth, result["answer_longest_s"],
        "-" if result["died"] else
        "after %.2f s" % recovery if recovery is not None else "not within %.0f s" % recover,
        "-" if not later else "all kept" if lost is None else
        "down to %d of %d from %.0f s after the attack" % (min(later), result["devices"], lost))


def run(options, log):
    """Runs the mix options.repeat times; exit status 0 when the program
    survived every run, 1 otherwise."""
    keep = options.keep or "/tmp/ndt-flood-mdns/repeat-%s" % time.strftime("%Y%m%d-%H%M%S")
    os.makedirs(keep, exist_ok=True)
    results = []
    began = time.monotonic()
    for index in range(1, options.repeat + 1):
        one = copy.copy(options)
        one.seed = options.seed + index - 1
        log("run %d of %d (seed %d)" % (index, options.repeat, one.seed))
        result = run_once(one, log, os.path.join(keep, "run-%02d" % index), keep_always=True)
        result["run"] = index
        results.append(result)
        print("run %2d/%d seed %d: %s" % (index, options.repeat, one.seed, describe(result, options.recover)),
              flush=True)
        print_death(result, "  ")
    took = time.monotonic() - began

    died = [r for r in results if r["died"]]
    early = [r for r in results if r["error"] and not r["died"]]
    lost = [r for r in results if not r["died"] and r["recovery_s"] is None]
    dropped = [r for r in results if not r["died"] and r["genuine_lost_s"] is not None]
    growths = [g for g in (memory_growth_mb(r) for r in results) if g is not None]
    slowest = max(results, key=lambda r: r["answer_longest_s"])
    recoveries = [r["recovery_s"] for r in results if r["recovery_s"] is not None]
    summary = {"runs": len(results), "died": [r["run"] for r in died], "ended_early": [r["run"] for r in early],
               "not_listed_again": [r["run"] for r in lost], "dropped_later": [r["run"] for r in dropped], "memory_growth_mb_most": max(growths, default=None),
               "answer_longest_s": slowest["answer_longest_s"], "recovery_s_longest": max(recoveries, default=None),
               "seconds": round(took), "kept": keep,
               "crash_reports": [os.path.join(r["kept"], "program.crash") for r in died if r["kept"]]}
    with open(os.path.join(keep, "summary.json"), "w", encoding="utf-8") as handle:
        json.dump({"summary": summary, "runs": results}, handle, indent=1, sort_keys=True)
    if options.json:
        with open(options.json, "w", encoding="utf-8") as handle:
            json.dump({"summary": summary, "runs": results}, handle, indent=1, sort_keys=True)

    print()
    print("total: memory growth up to %s MB; slowest answer %.2f s (run %d); listed again after at most %s" % (
        "?" if not growths else "%.1f" % max(growths), slowest["answer_longest_s"], slowest["run"],
        "?" if not recoveries else "%.2f s" % max(recoveries)))
    for path in summary["crash_reports"]:
        print("crash report: %s" % path)
    print("flood-mdns --repeat: %d runs in %.0f min: %d died%s, %d not all listed again within %.0f s, "
          "%d lost genuine devices within %.0f s after, %d ended early otherwise; kept in %s" % (
              len(results), took / 60.0, len(died),
              " (runs %s)" % ", ".join(str(r["run"]) for r in died) if died else "",
              len(lost), options.recover, len(dropped), options.settle, len(early), keep))
    return 1 if died else 0
