"""The program in a lab of its own, driven by the winprobe: what
tools/bench-mdns and tools/flood-mdns share.

One Lab: tools/lab up (the PC at the given addresses), the scenario's
multicast DNS devices (tools/mdns-devices), the program started through
scripts/wine-run in the PC namespace, and reads of its window with the
winprobe (plain wine in the PC namespace). down() closes the program, stops
the devices and removes the lab; everything runs inside the lab's
namespaces.
"""

import json
import os
import subprocess
import sys
import time

TOOLS = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
REPO = os.path.dirname(TOOLS)
LAB = os.path.join(TOOLS, "lab")
MDNS_DEVICES = os.path.join(TOOLS, "mdns-devices")
WINE_RUN = os.path.join(REPO, "scripts", "wine-run")
EXE_NAME = "NetworkDiscoveryTool.exe"
REFRESH_COMMAND = "1001"


class Lab:
    def __init__(self, pc_addresses, exe, winprobe_exe, log):
        self.pc_addresses = list(pc_addresses)
        self.exe = exe
        self.winprobe_exe = winprobe_exe
        self.log = log
        for path in (self.exe, self.winprobe_exe):
            if not os.path.exists(path):
                raise SystemExit("%s is missing; build it first" % path)
        self.name = None
        self.dir = None
        self.program = None
        self.devices_running = False
        self.crash_reports_set = False

    @staticmethod
    def from_build(build_dir, pc_addresses, log, exe=None, winprobe_exe=None):
        return Lab(pc_addresses, exe or os.path.join(build_dir, EXE_NAME),
                   winprobe_exe or os.path.join(build_dir, "tools", "winprobe", "ndt_winprobe.exe"), log)

    # ---- the lab ----

    def up(self):
        command = [LAB, "up", "--owner", str(os.getpid())]
        for address in self.pc_addresses:
            command += ["--pc", address]
        out = subprocess.run(command, check=True, stdout=subprocess.PIPE, text=True)
        self.name = out.stdout.strip().splitlines()[-1]
        self.dir = "/tmp/ndt-lab-%s" % self.name
        self.log("lab %s is up" % self.name)

    def down(self):
        if self.name is None:
            return
        if self.program is not None and self.program.poll() is None:
            self.winprobe("close", check=False)
            try:
                self.program.wait(20)
            except subprocess.TimeoutExpired:
                self.program.terminate()
                self.program.wait(10)
        subprocess.run([MDNS_DEVICES, "stop", self.name], check=False)
        subprocess.run([LAB, "down", self.name], check=False)
        self.log("lab %s removed" % self.name)
        self.name = None

    def pc(self, *command, **kwargs):
        return subprocess.run([LAB, "exec", self.name, "--"] + list(command), **kwargs)

    def pc_namespace(self):
        return "ndt-%s-pc" % self.name

    def sysctl_pc(self, setting):
        subprocess.run(["ip", "netns", "exec", self.pc_namespace(), "sysctl", "-qw", setting], check=True)

    def flush_neighbours(self):
        subprocess.run(["ip", "-n", self.pc_namespace(), "neigh", "flush", "all"], check=False)

    def receive_buffer_errors(self):
        out = self.pc("cat", "/proc/net/snmp", stdout=subprocess.PIPE, text=True, check=True)
        lines = [line.split() for line in out.stdout.splitlines() if line.startswith("Udp:")]
        return int(lines[1][lines[0].index("RcvbufErrors")])

    # ---- the devices ----

    def start_devices(self, scenario, tag="devices"):
        """(Re)starts the multicast DNS devices of a scenario (a dict)."""
        path = os.path.join(self.dir, "mdns-%s.json" % tag)
        with open(path, "w", encoding="utf-8") as handle:
            json.dump(scenario, handle)
        self.stop_devices()
        subprocess.run([MDNS_DEVICES, "start", self.name, path], check=True)
        self.devices_running = True

    def stop_devices(self):
        subprocess.run([MDNS_DEVICES, "stop", self.name], check=True)
        self.devices_running = False

    def zeroconf_browse(self, count, timeout):
        out = self.pc("/usr/bin/python3", MDNS_DEVICES, "browse", "--expect", str(count),
                      "--seconds", str(timeout), "--json", stdout=subprocess.PIPE, text=True, check=False)
        return json.loads(out.stdout.strip().splitlines()[-1])

    # ---- the program ----

    def start_program(self):
        if not self.crash_reports_set:
            self.set_crash_reports()
        # Apart: stderr is where Wine says that the program crashed.
        out_file = open(self.output_path("log"), "wb")
        err_file = open(self.output_path("err"), "wb")
        open(self.output_path("crash"), "wb").close()
        self.program = subprocess.Popen([LAB, "exec", self.name, "--", WINE_RUN, self.exe],
                                        stdout=out_file, stderr=err_file, stdin=subprocess.DEVNULL)
        out_file.close()
        err_file.close()
        self.winprobe("wait", "30")

    def output_path(self, kind):
        """The program's stdout ("log"), stderr ("err") or crash report
        ("crash") file; gone with the lab."""
        return os.path.join(self.dir, "program.%s" % kind)

    def set_crash_reports(self):
        """Makes Wine's debugger write its report on a crash (the exception,
        registers, backtrace, modules, threads) to output_path("crash").
        Its default command writes to the crashing program's console, and a
        program without one (a GUI program such as ours) has none: the
        report would be lost. Through cmd, which redirects; full paths, as
        the debugger's environment has no PATH."""
        report = "Z:" + self.output_path("crash").replace("/", "\\")
        command = ("C:\\windows\\system32\\cmd.exe /c C:\\windows\\system32\\winedbg.exe --auto %ld %ld "
                   ">>" + report + " 2>&1")
        self.pc("wine", "reg", "add", "HKLM\\Software\\Microsoft\\Windows NT\\CurrentVersion\\AeDebug",
                "/v", "Debugger", "/d", command, "/f", stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                check=True)
        self.crash_reports_set = True

    def program_running(self):
        return self.program is not None and self.program.poll() is None

    def check_program(self):
        """Raises when the program has ended, with the end of its output."""
        if self.program is None or self.program.poll() is None:
            return
        tail = ""
        for kind in ("log", "err"):
            with open(self.output_path(kind), errors="replace") as handle:
                tail += "".join(handle.readlines()[-20:])
        raise RuntimeError("the program ended with status %d; its last output:\n%s" % (
            self.program.returncode, tail))

    def program_pid(self):
        """Linux PID of the program's Wine process, found in the PC namespace."""
        namespace = os.stat("/run/netns/%s" % self.pc_namespace())
        for entry in os.listdir("/proc"):
            if not entry.isdigit():
                continue
            try:
                with open("/proc/%s/cmdline" % entry, "rb") as handle:
                    command = handle.read()
                mine = os.stat("/proc/%s/ns/net" % entry)
            except OSError:
                continue
            if EXE_NAME.encode() in command and b"winedbg" not in command and \
                    (mine.st_dev, mine.st_ino) == (namespace.st_dev, namespace.st_ino) and \
                    b"wine-run" not in command:
                return int(entry)
        return None

    def resident_kb(self):
        pid = self.program_pid()
        if pid is None:
            return None
        try:
            with open("/proc/%d/status" % pid) as handle:
                for line in handle:
                    if line.startswith("VmRSS:"):
                        return int(line.split()[1])
        except OSError:
            return None
        return None

    def windows_pid(self):
        """The program's process id as Wine numbers it, or None."""
        out = self.winprobe("dump", check=False)
        for line in out.stdout.replace("\r", "").splitlines():
            if line.startswith("pid\t"):
                return int(line.split("\t")[1])
        return None

    def thread_backtraces(self, windows_pid, path):
        """Writes a backtrace of every thread of the program to path (Wine's
        debugger attaches, prints and detaches; the program goes on). For a
        window that stops answering: where each thread waits. True when
        the debugger ran."""
        listing = self.pc("wine", "winedbg", "--command", "info thread", stdout=subprocess.PIPE,
                          stderr=subprocess.DEVNULL, text=True, check=False, timeout=60)
        process, threads = None, []
        for line in listing.stdout.replace("\r", "").splitlines():
            words = line.split()
            if not words:
                continue
            if not line.startswith("\t"):
                process = words[0]
            elif process == "%08x" % windows_pid:
                threads.append(words[0])
        if not threads:
            return False
        commands = os.path.join(self.dir, "backtraces.txt")
        with open(commands, "w", encoding="ascii") as handle:
            handle.write("".join("bt 0x%s\n" % thread for thread in threads) + "detach\n")
        with open(path, "wb") as out:
            self.pc("wine", "winedbg", "--file", "Z:" + commands.replace("/", "\\"), str(windows_pid),
                    stdout=out, stderr=subprocess.STDOUT, check=False, timeout=120)
        return True

    def thread_count(self):
        """Threads of the program's Wine process (Linux's view), or None."""
        pid = self.program_pid()
        try:
            return None if pid is None else len(os.listdir("/proc/%d/task" % pid))
        except OSError:
            return None

    def wine_counts(self):
        """(handles, threads) as Wine counts them (winprobe handles), or (None, None)."""
        out = self.winprobe("handles", check=False)
        values = dict(line.replace("\r", "").split("\t")[:2] for line in out.stdout.splitlines()
                      if line.count("\t") >= 1)
        try:
            return int(values["handles"]), int(values["threads"])
        except (KeyError, ValueError):
            return None, None

    # ---- the window ----

    def winprobe(self, *words, check=True):
        # Plain wine rather than scripts/wine-run: its output relay costs a
        # tenth of a second per call, which is the resolution of these
        # measurements.
        out = self.pc("wine", self.winprobe_exe, *words, stdout=subprocess.PIPE,
                      stderr=subprocess.PIPE, text=True, check=False)
        if check and out.returncode != 0:
            raise RuntimeError("winprobe %s failed (%d): %s" % (" ".join(words), out.returncode,
                                                                 out.stderr.strip()))
        return out

    def timed(self, *words):
        """(seconds the winprobe took, its result)."""
        start = time.monotonic()
        out = self.winprobe(*words, check=False)
        return time.monotonic() - start, out

    def refresh(self):
        self.winprobe("command", REFRESH_COMMAND)

    def auto_refresh(self, on):
        self.winprobe("auto-refresh", "1" if on else "0")

    def rows(self):
        """Rows listed (the winprobe's cheap row count)."""
        for attempt in range(3):
            self.check_program()
            out = self.winprobe("count", check=attempt == 2)
            for line in out.stdout.splitlines():
                if line.startswith("count\t"):
                    return int(line.split("\t")[1])
            time.sleep(0.2)
        raise RuntimeError("winprobe count printed no count")

    def count_timed(self):
        """(seconds the read took, rows listed or None)."""
        took, out = self.timed("count")
        counts = [line.split("\t")[1] for line in out.stdout.splitlines() if line.startswith("count\t")]
        return took, int(counts[0]) if out.returncode == 0 and counts else None

    def listed_rows(self):
        """The rows' columns (address, name, MAC, description, ARP, port), or
        None when the list changed during the read."""
        out = self.pc("wine", self.winprobe_exe, "dump", stdout=subprocess.PIPE,
                      stderr=subprocess.DEVNULL, text=True, check=False)
        if out.returncode != 0:
            return None
        return [line.split("\t")[2:] for line in out.stdout.replace("\r", "").splitlines()
                if line.startswith("row\t")]

    def listed_ips(self):
        """Addresses listed, or None when the list changed during the read."""
        rows = self.listed_rows()
        return None if rows is None else {row[0] for row in rows}

    def find(self, addresses):
        """(seconds the search took, the given addresses that have a row, or None
        when the window did not answer): one list-view search each."""
        took, out = self.timed("find", *addresses)
        if out.returncode != 0:
            return took, None
        rows = [line.replace("\r", "").split("\t") for line in out.stdout.splitlines()
                if line.startswith("find\t")]
        return took, {row[1] for row in rows if len(row) == 3 and row[2] != "-1"}


def wait_for_rows(lab, count, timeout):
    """The time (monotonic) when a read that shows `count` rows returned, or None; rows last seen."""
    start = time.monotonic()
    rows = 0
    while time.monotonic() - start < timeout:
        rows = lab.rows()
        if rows >= count:
            return time.monotonic(), rows
    return None, rows


def stderr_log(prefix):
    return lambda text: print("%s: %s" % (prefix, text), file=sys.stderr, flush=True)
