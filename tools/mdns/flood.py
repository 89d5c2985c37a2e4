"""One run of tools/flood-mdns: the lab, the genuine devices, the hostile mix
and what the program showed meanwhile; and what a run whose program died
leaves behind (its stdout, its stderr, and the report of Wine's debugger:
the exception, backtrace, modules and threads), kept outside the lab before
the lab is removed.

tools/mdns/repeat.py runs this again and again; tools/mdns/churn.py shares
the lab's layout (the trio, the ghost, the unowned addresses) and the attack.
"""

import json
import os
import re
import shutil
import statistics
import subprocess
import threading
import time

from .hostile import KINDS, parse_rates
from .program import LAB, MDNS_DEVICES, Lab

PC_ADDRESS = "192.168.77.10/24"
FIRST_DEVICE = 20
TRIO = ["192.168.77.241", "192.168.77.242", "192.168.77.243"]
GHOST = "192.168.77.250"
UNOWNED = "192.168.77.130-192.168.77.199"
OFF_SUBNET = ["10.99.0.%d" % i for i in range(5, 10)]
# Backtrace frames named in a summary; the kept file has them all.
CRASH_FRAMES = 8


def genuine_addresses(count, first=FIRST_DEVICE):
    return ["192.168.77.%d" % (first + i) for i in range(count)]


def silent_devices():
    """The trio and the ghost: namespaces whose kernels answer ARP, nothing else."""
    silent = [{"ip": ip, "host": "trio-%s" % ip.rsplit(".", 1)[1], "responder": "silent"} for ip in TRIO]
    silent.append({"ip": GHOST, "host": "ghost", "responder": "silent"})
    return silent


def scenario(count):
    genuine = {"prefix": "192.168.77.", "from": FIRST_DEVICE, "count": count, "host": "x200-{octet}",
               "instance": "X200 No {octet}", "responder": "standard"}
    return {"about": "flood-mdns: %d genuine devices, the trio and the ghost" % count,
            "pc": [PC_ADDRESS], "delay_ms": [20, 120], "mdns": [genuine] + silent_devices()}


def prepare_pc(lab):
    # Windows does no reverse-path check; without this the PC's kernel
    # would drop the off-subnet packets before the program saw them.
    for interface in ("all", "default", "pc0"):
        lab.sysctl_pc("net.ipv4.conf.%s.rp_filter=0" % interface)


class Watch:
    """The winprobe loops that run while the attack lasts (and until it is over)."""

    def __init__(self, lab, genuine, sample, hang=None, windows_pid=None):
        self.lab = lab
        self.genuine = genuine
        self.watched = genuine + TRIO + OFF_SUBNET + [GHOST]
        self.sample = sample
        self.stop = threading.Event()
        self.start = time.monotonic()
        self.samples = []   # (seconds, set of watched addresses listed, or None: no answer)
        self.searches = []  # seconds each search took
        self.answers = []   # seconds each count read took
        self.rows = []      # rows each count read saw
        self.memory = []    # resident kB
        self.died_at = None  # seconds from start when the program was first seen gone
        # A read outstanding for `hang` seconds: where the program's threads
        # wait then is written to hang-N.txt in the lab (at most three).
        self.hang = hang
        self.windows_pid = windows_pid
        self.reading_since = None
        self.hangs = []     # (seconds from start, file)

    def find_loop(self):
        while not self.stop.is_set():
            began = time.monotonic()
            took, listed = self.lab.find(self.watched)
            self.searches.append(took)
            self.samples.append((began - self.start, listed))
            self.stop.wait(max(0.0, self.sample - (time.monotonic() - began)))

    def count_loop(self):
        while not self.stop.is_set():
            began = time.monotonic()
            if self.died_at is None and not self.lab.program_running():
                self.died_at = began - self.start
            self.reading_since = began
            took, rows = self.lab.count_timed()
            self.reading_since = None
            self.answers.append(took)
            if rows is not None:
                self.rows.append(rows)
            kb = self.lab.resident_kb()
            if kb is not None:
                self.memory.append(kb)
            self.stop.wait(max(0.0, 0.5 - (time.monotonic() - began)))

    def hang_loop(self):
        caught = None
        while not self.stop.wait(0.25):
            since = self.reading_since
            if since is None or since == caught or time.monotonic() - since < self.hang:
                continue
            caught = since
            if len(self.hangs) >= 3 or not self.lab.program_running():
                continue
            path = os.path.join(self.lab.dir, "hang-%d.txt" % (len(self.hangs) + 1))
            at = time.monotonic() - self.start
            try:
                if self.lab.thread_backtraces(self.windows_pid, path):
                    self.hangs.append((round(at, 1), os.path.basename(path)))
            except (OSError, subprocess.SubprocessError):
                pass

    def run_during(self, work):
        threads = [threading.Thread(target=self.find_loop), threading.Thread(target=self.count_loop)]
        if self.hang and self.windows_pid is not None:
            threads.append(threading.Thread(target=self.hang_loop))
        for thread in threads:
            thread.start()
        try:
            return work()
        finally:
            self.stop.set()
            for thread in threads:
                thread.join()


def wait_until_listed(lab, addresses, timeout, poll=0.25):
    """The time (monotonic) when a read that shows all addresses returned, or None."""
    start = time.monotonic()
    while time.monotonic() - start < timeout:
        _, listed = lab.find(addresses)
        if listed is not None and len(listed & set(addresses)) == len(addresses):
            return time.monotonic()
        lab.check_program()
        time.sleep(poll)
    return None


def attack(lab, seconds, rates, seed, log, messages=None):
    """Runs the hostile sender; its summary, with the times (monotonic) it
    started and ended sending. Its messages are appended to `messages`."""
    command = [LAB, "dev", lab.name, "--", "/usr/bin/python3", MDNS_DEVICES, "hostile", lab.name,
               "--pc", PC_ADDRESS, "--trio", ",".join(TRIO), "--ghost", GHOST, "--unowned", UNOWNED,
               "--seconds", str(seconds), "--rates", rates, "--seed", str(seed)]
    process = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    began = None
    messages = [] if messages is None else messages
    for line in process.stderr:
        messages.append(line.rstrip())
        if began is None and "sending" in line:
            began = time.monotonic()
            log(line.strip())
    out = process.stdout.read()
    process.wait()
    ended = time.monotonic()
    lines = out.strip().splitlines()
    if process.returncode != 0 or not lines:
        raise RuntimeError("the hostile sender failed (%d): %s" % (process.returncode, " / ".join(messages)))
    summary = json.loads(lines[-1])
    summary["began"] = began or ended - summary["seconds"]
    summary["ended"] = ended
    return summary


def listed_in(samples, addresses, first=None, last=None):
    """Per sample in [first, last]: how many of addresses were listed (None: no answer)."""
    out = []
    for at, listed in samples:
        if (first is not None and at < first) or (last is not None and at > last):
            continue
        out.append(None if listed is None else len(listed & set(addresses)))
    return out


def read_rows(lab):
    for _ in range(3):
        if not lab.program_running():
            return None
        rows = lab.listed_rows()
        if rows is not None:
            return rows
        time.sleep(0.2)
    return None


def classify(rows, genuine):
    """{kind: [row, ...]} of a full read of the list."""
    first, _, last = UNOWNED.partition("-")
    unowned = range(int(first.rsplit(".", 1)[1]), int(last.rsplit(".", 1)[1]) + 1)
    kinds = {"genuine": [], "trio": [], "off-subnet": [], "hostile": [], "other": []}
    for row in rows or ():
        ip = row[0]
        if ip in genuine:
            kinds["genuine"].append(row)
        elif ip in TRIO:
            kinds["trio"].append(row)
        elif ip in OFF_SUBNET or ip == GHOST or not ip.startswith("192.168.77."):
            kinds["off-subnet"].append(row)
        elif ip.rsplit(".", 1)[1].isdigit() and int(ip.rsplit(".", 1)[1]) in unowned:
            kinds["hostile"].append(row)
        else:
            kinds["other"].append(row)
    return kinds


def rows_text(kinds):
    return ", ".join("%s %d" % (kind, len(rows)) for kind, rows in kinds.items() if rows) or "none"


def settle(lab, genuine, ended, seconds, every=2.0):
    """Watches the list for `seconds` after the attack: [(seconds since its
    end, genuine devices listed or None)]. Rows that the program stops
    keeping fresh go a while after the attack, not at once."""
    out = []
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        began = time.monotonic()
        _, listed = lab.find(genuine)
        out.append((round(began - ended, 1), None if listed is None else len(listed)))
        if not lab.program_running():
            break
        time.sleep(max(0.0, min(every - (time.monotonic() - began), deadline - time.monotonic())))
    return out


def lost_after(after, count):
    """Seconds after the attack when a read first showed fewer than all
    `count` genuine devices once all had been listed again, or None."""
    seen_all = False
    for at, listed in after:
        if listed == count:
            seen_all = True
        elif seen_all and listed is not None:
            return at
    return None


# ---- what a death leaves behind ----

def crash_report(text):
    """Wine's crash report in a program's stderr: {"headline", "frames"}, or
    None when there is none. The headline is winedbg's "Unhandled exception"
    line, else Wine's own "wine: Unhandled ..." (printed even when the
    debugger could not start)."""
    lines = text.replace("\r", "").splitlines()
    headline = next((line for line in lines if line.startswith("Unhandled exception")), None) or \
        next((line for line in lines if line.startswith("wine: Unhandled")), None)
    if headline is None:
        return None
    frames = []
    if "Backtrace:" in lines:
        for line in lines[lines.index("Backtrace:") + 1:]:
            words = line.split()
            if not words or not (words[0].startswith("=>") or words[0].isdigit()):
                break
            frames.append(line.strip())
    return {"headline": headline.strip(), "frames": frames}


def settle_file(path, quiet=1.0, longest=10.0):
    """Waits until the file has not grown for `quiet` seconds (the debugger
    may still be writing its report when the program is already gone)."""
    deadline = time.monotonic() + longest
    size, since = -1, time.monotonic()
    while time.monotonic() < deadline:
        try:
            now_size = os.path.getsize(path)
        except OSError:
            return
        if now_size != size:
            size, since = now_size, time.monotonic()
        elif time.monotonic() - since >= quiet:
            return
        time.sleep(0.2)


def keep_output(lab, directory):
    """Copies the program's stdout, stderr and crash report out of the lab
    (which goes with it); the crash report's headline and frames, or None."""
    os.makedirs(directory, exist_ok=True)
    settle_file(lab.output_path("crash"))
    sources = [lab.output_path(kind) for kind in ("log", "err", "crash")]
    sources += [os.path.join(lab.dir, name) for name in sorted(os.listdir(lab.dir)) if name.startswith("hang-")]
    for source in sources:
        if os.path.exists(source):
            shutil.copyfile(source, os.path.join(directory, os.path.basename(source)))
    text = ""
    for kind in ("crash", "err"):
        try:
            with open(os.path.join(directory, "program." + kind), errors="replace") as handle:
                text += handle.read()
        except OSError:
            pass
    return crash_report(text)


# ---- one run ----

def run_once(options, log, keep_dir=None, keep_always=False):
    """One start of the program, the attack and the recovery. The results as
    a dict (the keys of tools/flood-mdns --json). When the program died
    (or keep_always), its stdout and stderr are copied to keep_dir."""
    genuine = genuine_addresses(options.devices)
    rates = parse_rates(options.rates)
    lab = Lab.from_build(options.build, [PC_ADDRESS], log, options.exe, options.winprobe)
    result = {"devices": options.devices, "rates": rates, "seconds": options.seconds, "seed": options.seed,
              "exe": lab.exe, "error": None}
    watch = summary = idle = first = recovery = at_end = final_rows = None
    after = []
    rss_before = rss_end = rss_settled = drops = None
    attack_messages = []
    started = time.monotonic()
    try:
        lab.up()
        prepare_pc(lab)
        lab.start_devices(scenario(options.devices), "flood")
        lab.start_program()
        lab.auto_refresh(True)
        started = time.monotonic()
        first = wait_until_listed(lab, genuine, options.timeout)
        if first is None:
            raise RuntimeError("the genuine devices were never all listed")
        log("all %d genuine devices listed %.1f s after auto-refresh was ticked" % (len(genuine), first - started))
        time.sleep(2.0)
        idle = [lab.count_timed()[0] for _ in range(5)]
        rss_before = lab.resident_kb()
        drops_before = lab.receive_buffer_errors()
        watch = Watch(lab, genuine, options.sample, options.hang, lab.windows_pid())
        log("attacking for %.0f s" % options.seconds)
        summary = watch.run_during(lambda: attack(lab, options.seconds, options.rates, options.seed, log,
                                                  attack_messages))
        ended = time.monotonic()
        rss_end = lab.resident_kb()
        back = wait_until_listed(lab, genuine, options.recover)
        recovery = None if back is None else back - ended
        at_end = read_rows(lab)
        drops = lab.receive_buffer_errors() - drops_before
        after = settle(lab, genuine, ended, options.settle)
        lab.check_program()
        rss_settled = lab.resident_kb()
        final_rows = read_rows(lab)
    except RuntimeError as error:
        result["error"] = str(error).splitlines()[0]
        log("run ended early: %s" % result["error"])
    finally:
        running = lab.program_running()
        status = None if lab.program is None else lab.program.poll()
        died = lab.program is not None and not running
        crash = None
        kept = None
        hung = watch is not None and bool(watch.hangs)
        if keep_dir is not None and (died or hung or keep_always) and lab.dir is not None:
            crash = keep_output(lab, keep_dir)
            kept = keep_dir
            with open(os.path.join(keep_dir, "hostile.log"), "w", encoding="utf-8") as handle:
                handle.write("\n".join(attack_messages) + "\n")
        lab.down()

    samples = watch.samples if watch else []
    attack_start = summary["began"] - watch.start if summary else None
    attack_stop = summary["ended"] - watch.start if summary else None
    during = [s for s in samples if attack_start is None or attack_start <= s[0] <= attack_stop]
    genuine_counts = listed_in(during, genuine)
    answered = [n for n in genuine_counts if n is not None]
    trio_counts = [n for n in listed_in(during, TRIO) if n is not None]
    kinds_end, kinds_final = classify(at_end, genuine), classify(final_rows, genuine)
    hostile_seen = sorted({ip for _, listed in samples if listed for ip in listed
                           if ip in OFF_SUBNET or ip == GHOST} |
                          {row[0] for row in kinds_end["off-subnet"] + kinds_final["off-subnet"]})
    memory = watch.memory if watch else []
    peak = max(memory + [v for v in (rss_before, rss_end) if v is not None], default=None)
    answers = watch.answers if watch else []
    final = None if final_rows is None else {row[0] for row in final_rows}
    died_at = None
    if died and watch is not None and watch.died_at is not None and attack_start is not None:
        died_at = round(watch.died_at - attack_start, 1)
    result.update({
        "sent": summary["sent"] if summary else {k: 0 for k in KINDS},
        "by_destination": summary["by_destination"] if summary else {},
        "frames": summary["frames"] if summary else 0,
        "bytes": summary["bytes"] if summary else 0,
        "attack_seconds": summary["seconds"] if summary else 0.0,
        "query_ports": summary["pc"]["query_ports"] if summary else [],
        "first_listed_s": None if first is None else round(first - started, 3),
        "genuine_per_sample": genuine_counts, "genuine_worst": min(answered, default=None),
        "samples_unanswered": len(genuine_counts) - len(answered),
        "trio_most": max(trio_counts, default=None),
        "off_subnet_listed": hostile_seen,
        "answer_longest_s": round(max(answers, default=0.0), 3),
        "answer_median_s": round(statistics.median(answers), 3) if answers else None,
        "answer_reads": len(answers),
        "answer_idle_s": round(statistics.median(idle), 3) if idle else None,
        "search_longest_s": round(max(watch.searches if watch else [], default=0.0), 3),
        "rows_most": max(watch.rows if watch else [], default=None),
        "datagrams_lost": drops,
        "memory_kb": {"before": rss_before, "peak": peak, "end": rss_end, "settled": rss_settled},
        "recovery_s": None if recovery is None else round(recovery, 3),
        "genuine_after_attack": after,
        "genuine_lost_s": lost_after(after, len(genuine)) if recovery is not None else None,
        "rows_at_end": {kind: len(rows) for kind, rows in kinds_end.items()} if at_end is not None else None,
        "rows_settled": {kind: len(rows) for kind, rows in kinds_final.items()} if final is not None else None,
        "final_rows": len(final) if final is not None else None,
        "final_genuine": len(set(genuine) & final) if final is not None else None,
        "examples": (kinds_end["hostile"] + kinds_end["other"] + kinds_end["off-subnet"])[:4],
        "program_running": running,
        "died": died, "exit_status": status if died else None,
        "died_after_attack_start_s": died_at,
        "kept": kept, "crash": crash,
        "hangs": [{"at_s": at - (attack_start or 0.0), "file": name} for at, name in watch.hangs] if watch else [],
    })
    if kept is not None:
        with open(os.path.join(kept, "result.json"), "w", encoding="utf-8") as handle:
            json.dump(result, handle, indent=1, sort_keys=True)
    return result


def memory_growth_mb(result):
    memory = result["memory_kb"]
    if memory["before"] is None or memory["peak"] is None:
        return None
    return (memory["peak"] - memory["before"]) / 1024.0


def print_report(result, options):
    """The single run's table."""
    sent = result["sent"]
    memory = result["memory_kb"]
    growth = memory_growth_mb(result)
    recovery = result["recovery_s"]
    print()
    print("flood-mdns: %.1f s of attack (%s), %d frames, %.1f MB; %d genuine devices" % (
        result["attack_seconds"], ", ".join("%s %d" % (k, sent.get(k, 0)) for k in KINDS),
        result["frames"], result["bytes"] / 1e6, result["devices"]))
    print("%-46s %s" % ("destinations", ", ".join("%s %d" % kv for kv in sorted(result["by_destination"].items()))))
    print("%-46s %s of %d (%d samples, %d unanswered)" % (
        "genuine devices listed, worst sample", result["genuine_worst"], result["devices"],
        len(result["genuine_per_sample"]), result["samples_unanswered"]))
    print("%-46s %s" % ("genuine devices listed, per sample (?: none)",
                        " ".join("?" if n is None else str(n) for n in result["genuine_per_sample"])))
    print("%-46s %s of 3" % ("trio (one multi-instance packet) listed, most", result["trio_most"]))
    print("%-46s %s" % ("off-subnet / ghost addresses ever listed", ", ".join(result["off_subnet_listed"]) or "none"))
    print("%-46s %.3f s (median %s s of %d reads; idle window %s s)" % (
        "longest answer of the window (count read)", result["answer_longest_s"], result["answer_median_s"],
        result["answer_reads"], result["answer_idle_s"]))
    print("%-46s %.3f s" % ("longest search for the devices (find)", result["search_longest_s"]))
    print("%-46s %s" % ("rows listed during the attack, most", result["rows_most"]))
    print("%-46s %s" % ("datagrams lost (RcvbufErrors)", result["datagrams_lost"]))
    print("%-46s %s -> %s -> %s -> %s (growth to peak %s MB)" % (
        "memory (VmRSS kB): before -> peak -> end -> settled", memory["before"], memory["peak"],
        memory["end"], memory["settled"], "?" if growth is None else "%.1f" % growth))
    print("%-46s %s" % ("all genuine listed again after the attack",
                        "after %.2f s" % recovery if recovery is not None else
                        "not within %.0f s" % options.recover))
    lost = result["genuine_lost_s"]
    print("%-46s %s" % ("genuine devices listed later, least of %d reads" % len(result["genuine_after_attack"]),
                        "%s of %d%s" % (min((n for _, n in result["genuine_after_attack"] if n is not None),
                                            default="?"), result["devices"],
                                        "" if lost is None else " (fewer from %.0f s after the attack)" % lost)))
    for kind, label in (("rows_at_end", "list just after the attack (full read)"),
                        ("rows_settled", "list %.0f s after the attack" % options.settle)):
        counts = result[kind]
        text = "no read" if counts is None else (
            ", ".join("%s %d" % kv for kv in counts.items() if kv[1]) or "none")
        if kind == "rows_settled":
            text += "; program %s" % ("running" if result["program_running"] else "ENDED")
        print("%-46s %s" % (label, text))
    for row in result["examples"]:
        print("%-46s %s" % ("  e.g.", " | ".join(row)))
    print_death(result)


def short_frame(line):
    """A backtrace line without the arguments (the kept file has them)."""
    return re.sub(r"\(.*\) \[", " [", line)


def print_death(result, indent=""):
    if result["error"] and not result["died"]:
        print("%s%-46s %s" % (indent, "run ended early", result["error"]))
    for hang in result["hangs"]:
        print("%s%-46s %.1f s after the attack began: backtraces of every thread in %s" % (
            indent, "WINDOW NOT ANSWERING", hang["at_s"],
            os.path.join(result["kept"] or "(not kept)", hang["file"])))
    if not result["died"]:
        return
    when = result["died_after_attack_start_s"]
    print("%s%-46s status %s%s" % (indent, "PROGRAM DIED", result["exit_status"],
                                   "" if when is None else ", first seen gone %.1f s after the attack began" % when))
    crash = result["crash"]
    if crash is None:
        print("%s  no crash report in its stderr" % indent)
    else:
        print("%s  %s" % (indent, crash["headline"]))
        for frame in crash["frames"][:CRASH_FRAMES]:
            print("%s    %s" % (indent, short_frame(frame)))
    if result["kept"]:
        print("%s  kept: %s (program.crash: Wine's crash report; program.err, program.log: stderr, stdout)" % (
            indent, result["kept"]))
