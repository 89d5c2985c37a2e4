"""Network namespaces of the multicast DNS devices, and the lab's switch.

Each device gets a namespace of its own, ndt-LAB-m<N>, with one interface
eth0 (the device's MAC and address, a multicast route) whose veth peer m<N>
sits on a bridge of the lab's switch namespace ndt-LAB-sw. The lab's own
teardown does not know these namespaces, so everything here also finds and
removes what a killed device process left behind.
"""

import ctypes
import os
import re
import signal
import subprocess
import time

CLONE_NEWNET = 0x40000000
PR_SET_PDEATHSIG = 1
NETNS_DIR = "/run/netns"
STATE_BASE = "/tmp"
DEVICE_NS = re.compile(r"^ndt-([A-Za-z0-9_]{1,12})-m([0-9]+)$")

_libc = ctypes.CDLL(None, use_errno=True)


class NetnsError(RuntimeError):
    pass


def ns_name(lab, index):
    return "ndt-%s-m%d" % (lab, index)


def lab_dir(lab):
    return os.path.join(STATE_BASE, "ndt-lab-%s" % lab)


def state_dir(lab):
    return os.path.join(lab_dir(lab), "mdns")


def ip(*args):
    done = subprocess.run(["ip"] + list(args), stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                          text=True, check=False)
    if done.returncode != 0:
        raise NetnsError("ip %s: %s" % (" ".join(args), done.stderr.strip()))
    return done.stdout


def same_namespace(path):
    """True when this thread's network namespace is the one at path."""
    try:
        mine = os.stat("/proc/thread-self/ns/net")
        other = os.stat(path)
    except OSError:
        return False
    return (mine.st_dev, mine.st_ino) == (other.st_dev, other.st_ino)


def in_lab_namespace():
    try:
        names = os.listdir(NETNS_DIR)
    except OSError:
        return False
    return any(n.startswith("ndt-") and same_namespace(os.path.join(NETNS_DIR, n)) for n in names)


def setns(fd):
    if _libc.setns(fd, CLONE_NEWNET) != 0:
        error = ctypes.get_errno()
        raise OSError(error, "setns: %s" % os.strerror(error))


class Inside:
    """with Inside(fd): the calling thread works in that namespace meanwhile
    (sockets made and processes started then belong to it)."""

    def __init__(self, fd):
        self.fd = fd
        self.home = None

    def __enter__(self):
        self.home = os.open("/proc/thread-self/ns/net", os.O_RDONLY)
        setns(self.fd)
        return self

    def __exit__(self, *exc):
        setns(self.home)
        os.close(self.home)
        return False


def die_with_parent():
    """preexec_fn: the child gets SIGTERM when the process that made it ends."""
    _libc.prctl(PR_SET_PDEATHSIG, signal.SIGTERM, 0, 0, 0)


def add_device(lab, index, mac_text, interface, bridge):
    """Namespace, veth pair and addresses of device index; returns the namespace name."""
    ns, sw, port = ns_name(lab, index), "ndt-%s-sw" % lab, "m%d" % index
    ip("netns", "add", ns)
    ip("-n", ns, "link", "set", "lo", "up")
    ip("-n", sw, "link", "add", port, "type", "veth", "peer", "name", "eth0", "netns", ns)
    ip("-n", sw, "link", "set", port, "master", bridge, "up")
    ip("-n", ns, "link", "set", "eth0", "address", mac_text.replace("-", ":"))
    ip("-n", ns, "addr", "add", interface, "dev", "eth0")
    ip("-n", ns, "link", "set", "eth0", "up")
    # No default route in the lab: multicast needs a route of its own.
    ip("-n", ns, "route", "add", "224.0.0.0/4", "dev", "eth0")
    return ns


def split_lans(lab, pc_count):
    """Every PC interface but the first onto a bridge of its own; the bridge names."""
    sw = "ndt-%s-sw" % lab
    bridges = ["br0"]
    for i in range(1, pc_count):
        bridge = "br%d" % i
        ip("-n", sw, "link", "add", bridge, "type", "bridge", "mcast_snooping", "0")
        ip("-n", sw, "link", "set", bridge, "up")
        ip("-n", sw, "link", "set", "p%d" % i, "nomaster")
        ip("-n", sw, "link", "set", "p%d" % i, "master", bridge)
        bridges.append(bridge)
    return bridges


def join_lans(lab):
    """Undo split_lans: the PC's ports back on br0, the other bridges removed."""
    sw = "ndt-%s-sw" % lab
    if not os.path.exists(os.path.join(NETNS_DIR, sw)):
        return
    try:
        out = ip("-n", sw, "-o", "link", "show", "type", "bridge")
    except NetnsError:
        return
    for bridge in re.findall(r"^\d+: (br\d+)[:@]", out, re.M):
        if bridge == "br0":
            continue
        members = ip("-n", sw, "-o", "link", "show", "master", bridge)
        for port in re.findall(r"^\d+: (p\d+)@", members, re.M):
            ip("-n", sw, "link", "set", port, "nomaster")
            ip("-n", sw, "link", "set", port, "master", "br0")
        ip("-n", sw, "link", "del", bridge)


def pid_alive(pid):
    try:
        with open("/proc/%d/stat" % pid) as handle:
            return handle.read().rsplit(")", 1)[1].split()[0] not in ("Z", "X")
    except (OSError, IndexError):
        return False


def stop_pids(pids, seconds=3.0):
    """TERM, wait, then KILL what is left."""
    pids = [p for p in pids if pid_alive(p)]
    for pid in pids:
        try:
            os.kill(pid, signal.SIGTERM)
        except OSError:
            pass
    deadline = time.monotonic() + seconds
    while any(pid_alive(p) for p in pids) and time.monotonic() < deadline:
        time.sleep(0.05)
    for pid in pids:
        if pid_alive(pid):
            try:
                os.kill(pid, signal.SIGKILL)
            except OSError:
                pass


def fleet_pid(lab):
    """PID of the lab's device process when it runs, else None."""
    try:
        with open(os.path.join(state_dir(lab), "pid")) as handle:
            pid = int(handle.read().strip())
        with open("/proc/%d/cmdline" % pid, "rb") as handle:
            cmdline = handle.read()
    except (OSError, ValueError):
        return None
    return pid if b"mdns-devices" in cmdline and pid_alive(pid) else None


def device_namespaces(lab=None):
    try:
        names = sorted(os.listdir(NETNS_DIR))
    except OSError:
        return []
    out = []
    for name in names:
        match = DEVICE_NS.match(name)
        if match and (lab is None or match.group(1) == lab):
            out.append(name)
    return out


def remove_namespace(ns):
    pids = subprocess.run(["ip", "netns", "pids", ns], stdout=subprocess.PIPE,
                          stderr=subprocess.DEVNULL, text=True, check=False).stdout.split()
    stop_pids([int(p) for p in pids if p.isdigit() and int(p) != os.getpid()])
    subprocess.run(["ip", "netns", "del", ns], stderr=subprocess.DEVNULL, check=False)


def clean(lab=None, log=lambda text: None):
    """Remove device namespaces whose device process is gone (of one lab or all)."""
    removed = []
    for ns in device_namespaces(lab):
        owner = DEVICE_NS.match(ns).group(1)
        if fleet_pid(owner) is not None:
            continue
        log("removing leftover namespace %s" % ns)
        remove_namespace(ns)
        removed.append(ns)
    return removed
