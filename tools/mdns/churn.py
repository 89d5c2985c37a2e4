"""tools/flood-mdns --churn MINUTES: one program, with auto-refresh on, for a
long time among genuine multicast DNS devices that come and go, with the
hostile mix now and then; does it stay flat and useful?

The devices (our "standard" responders, 192.168.77.20 onwards) are of three
kinds: --stable ones, there throughout; --flappers, each of which leaves
(its switch port goes down, as when a cable is pulled) for --flap-away
seconds every --flap-every seconds, each at its own offset; and
--newcomers, absent at the start, which appear one by one spread over the
run and stay. Every --attack-every seconds (first at half that) the hostile
mix of tools/flood-mdns runs for --attack-seconds. Every --sample seconds:
the program's resident set (Linux's view), its threads (/proc/PID/task of
its Wine process), its handles and threads as Wine counts them (winprobe
handles), and which genuine devices have a row. A device counts as present
once it has been back for --grace seconds, and as gone once it has been
away that long.

Reported: memory, threads and handles at the start, after the warm-up
(--warmup, default: 30 s after the first attack ends) and at the end, with
the growth after the warm-up (flat: within 5 %); per sample whether every
present genuine device was listed (and whether a gone one still was);
deaths. A program that dies is restarted; what it left behind (stdout and
stderr, with Wine's crash report) goes to --keep DIR/death-N/, and the
growth figures then cover its last life only.
"""

import json
import os
import subprocess
import threading
import time

from .flood import (FIRST_DEVICE, PC_ADDRESS, attack, genuine_addresses, keep_output, prepare_pc,
                    short_frame, silent_devices, wait_until_listed)
from .program import Lab

FLAT_PERCENT = 5.0


def churn_scenario(count):
    genuine = {"prefix": "192.168.77.", "from": FIRST_DEVICE, "count": count, "host": "x200-{octet}",
               "instance": "X200 No {octet}", "responder": "standard"}
    return {"about": "flood-mdns --churn: %d genuine devices that come and go, the trio and the ghost" % count,
            "pc": [PC_ADDRESS], "delay_ms": [20, 120], "mdns": [genuine] + silent_devices()}


class Switch:
    """Plugs devices in and out: their ports on the lab's switch go up and down."""

    def __init__(self, lab):
        with open(os.path.join(lab.dir, "mdns", "state.json"), encoding="utf-8") as handle:
            devices = json.load(handle)["devices"]
        self.namespace = "ndt-%s-sw" % lab.name
        self.ports = {d["ip"]: "m%d" % d["index"] for d in devices}

    def set(self, ip, up):
        subprocess.run(["ip", "-n", self.namespace, "link", "set", self.ports[ip], "up" if up else "down"],
                       check=True)


def plan(options, duration):
    """[(seconds, action, argument)] in time order: "away"/"back" for an
    address, "attack" with the attack's number."""
    addresses = genuine_addresses(options.stable + options.flappers + options.newcomers)
    flappers = addresses[options.stable:options.stable + options.flappers]
    newcomers = addresses[options.stable + options.flappers:]
    events = []
    for i, ip in enumerate(flappers):
        at = 30.0 + i * options.flap_every / max(1, len(flappers))
        while at + options.flap_away < duration:
            events += [(at, "away", ip), (at + options.flap_away, "back", ip)]
            at += options.flap_every
    for j, ip in enumerate(newcomers):
        events.append((duration * (j + 1) / (len(newcomers) + 1), "back", ip))
    at, number = options.attack_every / 2.0, 0
    while at + options.attack_seconds < duration:
        events.append((at, "attack", number))
        at, number = at + options.attack_every, number + 1
    return sorted(events, key=lambda e: e[0]), addresses, newcomers


class Attacks:
    """The hostile mix in a thread of its own, one at a time."""

    def __init__(self, lab, options, log):
        self.lab, self.options, self.log = lab, options, log
        self.thread = None
        self.spans = []     # (began, ended) seconds from the start
        self.failures = []

    def start(self, number, origin):
        if self.busy():
            return
        self.thread = threading.Thread(target=self.run, args=(number, origin), daemon=True)
        self.thread.start()

    def run(self, number, origin):
        try:
            summary = attack(self.lab, self.options.attack_seconds, self.options.rates,
                             self.options.seed + number, self.log)
            self.spans.append((summary["began"] - origin, summary["ended"] - origin))
        except RuntimeError as error:
            self.failures.append(str(error))
            self.log("attack %d failed: %s" % (number, error))

    def busy(self):
        return self.thread is not None and self.thread.is_alive()

    def during(self, at):
        return self.busy() or any(a <= at <= b for a, b in self.spans)

    def wait(self):
        if self.thread is not None:
            self.thread.join()


def take_sample(lab, at, addresses, since, away, grace, attacks):
    took, listed = lab.find(addresses)
    handles, wine_threads = lab.wine_counts()
    present = {ip for ip in addresses if since[ip] is not None and at - since[ip] >= grace}
    gone = {ip for ip in addresses if since[ip] is None and at - away.get(ip, float("-inf")) >= grace}
    return {"at": round(at, 1), "rss_kb": lab.resident_kb(), "threads": lab.thread_count(),
            "handles": handles, "wine_threads": wine_threads, "find_s": round(took, 3),
            "answered": listed is not None, "present": len(present),
            "missing": sorted(present - listed) if listed is not None else sorted(present),
            "gone_listed": sorted(gone & listed) if listed is not None else [],
            "attack": attacks.during(at)}


def growth(samples, key, warmup):
    """(start, after warm-up, end, per cent from warm-up to end, most after warm-up)."""
    values = [(s["at"], s[key]) for s in samples if s[key] is not None]
    if not values:
        return None
    start, end = values[0][1], values[-1][1]
    warm = next((v for at, v in values if at >= warmup), end)
    most = max((v for at, v in values if at >= warmup), default=end)
    percent = None if not warm else 100.0 * (end - warm) / warm
    return start, warm, end, percent, most


def run(options, log):
    duration = options.churn * 60.0
    events, addresses, newcomers = plan(options, duration)
    first_attack_end = next((at for at, action, _ in events if action == "attack"), None)
    warmup = options.warmup if options.warmup is not None else (
        duration / 2 if first_attack_end is None else
        min(duration / 2, first_attack_end + options.attack_seconds + 30.0))
    keep = options.keep or "/tmp/ndt-flood-mdns/churn-%s" % time.strftime("%Y%m%d-%H%M%S")
    lab = Lab.from_build(options.build, [PC_ADDRESS], log, options.exe, options.winprobe)
    samples, deaths = [], []
    since = {ip: None for ip in addresses}  # when each device came back; None: away
    away = {}                                # when each device last left
    attacks = None
    life_start = 0.0
    try:
        lab.up()
        prepare_pc(lab)
        lab.start_devices(churn_scenario(len(addresses)), "churn")
        switch = Switch(lab)
        for ip in newcomers:
            switch.set(ip, False)
        lab.start_program()
        lab.auto_refresh(True)
        origin = time.monotonic()
        # Those there from the start must be listed at once.
        for ip in addresses:
            if ip not in newcomers:
                since[ip] = -options.grace
        there = [ip for ip in addresses if ip not in newcomers]
        first = wait_until_listed(lab, there, 60.0)
        log("%d devices there, listed %s; %d events over %.0f min, warm-up %.0f s" % (
            len(there), "never" if first is None else "after %.1f s" % (first - origin),
            len(events), options.churn, warmup))
        attacks = Attacks(lab, options, log)
        next_sample = 0.0
        while True:
            now = time.monotonic() - origin
            if now >= duration:
                break
            while events and events[0][0] <= now:
                at, action, argument = events.pop(0)
                if action == "attack":
                    log("t=%.0f s: attack %d for %.0f s" % (now, argument, options.attack_seconds))
                    attacks.start(argument, origin)
                else:
                    switch.set(argument, action == "back")
                    since[argument] = now if action == "back" else None
                    if action == "away":
                        away[argument] = now
            if not lab.program_running():
                deaths.append(record_death(lab, now, keep, len(deaths) + 1, log))
                lab.start_program()
                lab.auto_refresh(True)
                life_start = time.monotonic() - origin
                samples.append({"at": round(life_start, 1), "restart": True})
                continue
            if now >= next_sample:
                sample = take_sample(lab, now, addresses, since, away, options.grace, attacks)
                samples.append(sample)
                print_sample(sample)
                next_sample = now + options.churn_sample
            time.sleep(0.25)
        attacks.wait()
        if not lab.program_running():
            deaths.append(record_death(lab, time.monotonic() - origin, keep, len(deaths) + 1, log))
    finally:
        lab.down()

    life = [s for s in samples if "restart" not in s and s["at"] >= life_start]
    report = {"minutes": options.churn, "warmup_s": warmup, "deaths": deaths, "samples": samples,
              "attacks": attacks.spans if attacks else [], "attack_failures": attacks.failures if attacks else []}
    for key in ("rss_kb", "threads", "handles", "wine_threads"):
        report[key] = growth(life, key, life_start + warmup)
    if options.json:
        with open(options.json, "w", encoding="utf-8") as handle:
            json.dump(report, handle, indent=1, sort_keys=True)
    return print_report(report, life, options)


def record_death(lab, at, keep, number, log):
    directory = os.path.join(keep, "death-%d" % number)
    status = lab.program.poll()
    crash = keep_output(lab, directory)
    log("t=%.0f s: the program died (status %s); kept in %s" % (at, status, directory))
    return {"at": round(at, 1), "status": status, "kept": directory, "crash": crash}


def print_sample(s):
    print("t=%5.0f s  rss %s kB  threads %s  handles %s (Wine threads %s)  listed: %s%s%s%s" % (
        s["at"], s["rss_kb"], s["threads"], s["handles"], s["wine_threads"],
        "no answer" if not s["answered"] else "%d of %d present" % (s["present"] - len(s["missing"]), s["present"]),
        " (missing %s)" % " ".join(s["missing"]) if s["missing"] and s["answered"] else "",
        "; gone but listed %s" % " ".join(s["gone_listed"]) if s["gone_listed"] else "",
        "  [attack]" if s["attack"] else ""), flush=True)


def print_report(report, life, options):
    print()
    print("flood-mdns --churn: %.0f min, %d attacks of %.0f s, warm-up %.0f s" % (
        options.churn, len(report["attacks"]), options.attack_seconds, report["warmup_s"]))
    flat = True
    for key, label, flat_check in (("rss_kb", "memory (VmRSS kB)", True), ("threads", "threads (Linux)", False),
                                   ("wine_threads", "threads (Wine)", False), ("handles", "handles (Wine)", False)):
        values = report[key]
        if values is None:
            print("%-34s no reading" % label)
            continue
        start, warm, end, percent, most = values
        text = "%s -> %s after warm-up -> %s at the end (%s after warm-up; most %s)" % (
            start, warm, end, "?" if percent is None else "%+.1f %%" % percent, most)
        if flat_check:
            ok = percent is not None and abs(percent) <= FLAT_PERCENT
            flat = flat and ok
            text += "; %s" % ("flat" if ok else "NOT FLAT (more than %.0f %%)" % FLAT_PERCENT)
        print("%-34s %s" % (label, text))
    answered = [s for s in life if s["answered"]]
    complete = [s for s in answered if not s["missing"]]
    quiet = [s for s in answered if not s["attack"]]
    print("%-34s %d of %d samples (outside attacks %d of %d; %d samples unanswered)" % (
        "every present device listed", len(complete), len(answered),
        len([s for s in quiet if not s["missing"]]), len(quiet), len(life) - len(answered)))
    print("%-34s %d samples" % ("a gone device still listed", len([s for s in answered if s["gone_listed"]])))
    for failure in report["attack_failures"]:
        print("%-34s %s" % ("attack failed", failure))
    for death in report["deaths"]:
        crash = death["crash"]
        print("DEATH at t=%.0f s, status %s: %s; kept in %s" % (
            death["at"], death["status"], crash["headline"] if crash else "no crash report", death["kept"]))
        for frame in (crash or {}).get("frames", [])[:8]:
            print("    %s" % short_frame(frame))
    print("flood-mdns --churn: %d deaths; memory %s; every present device listed at %d of %d samples" % (
        len(report["deaths"]), "flat" if flat else "NOT flat", len(complete), len(answered)))
    return 0 if not report["deaths"] and flat and len(complete) == len(answered) else 1
