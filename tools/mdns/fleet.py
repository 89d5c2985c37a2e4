"""The multicast DNS devices of one lab, run by one process.

The process lives in the lab's devices namespace (ndt-LAB-dev). For every
device it makes a namespace of its own (tools/mdns/netns.py), enters it just
long enough to open the device's sockets there, and comes back: so one
process answers for all devices, each from its own address and MAC.

  zeroconf   a python3-zeroconf instance bound to the device's address with
             the device's service registered (it probes, announces, answers
             multicast and unicast queries as that library does)
  multicast  a responder of our own that answers every query for the
             device's names by multicast to 224.0.0.251:5353 only, whatever
             the QU bit and source port (tools/mdns/wire.py)
  broadcast  the broadcast discovery simulator (tools/simulate, unchanged)
             on the device's eth0, for a device that answers both ways

Ends on SIGTERM or SIGINT: stops the simulators it started by PID, removes
its namespaces and puts the lab's switch back as it found it.
"""

import asyncio
import os
import selectors
import signal
import socket
import subprocess
import sys
import threading
import time

from simulator.engine import write_json_atomically

from . import netns, wire
from .scenario import SERVICE_TYPE, format_mac

TOOLS = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SIMULATE = os.path.join(TOOLS, "simulate")
MDNS_GROUP = "224.0.0.251"
MDNS_PORT = 5353
QUERY_LOG_LIMIT = 200


class MulticastResponder:
    """Answers queries for one device's names, by multicast only."""

    def __init__(self, device, log):
        self.device = device
        self.log = log
        self.records = wire.DeviceRecords(SERVICE_TYPE, device.instance_name, device.server,
                                          device.port, device.txt_bytes(), device.interface.ip.packed)
        self.sock = None
        self.queries = 0
        self.answers = 0

    def open(self):
        """Opens the socket; call inside the device's namespace."""
        sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM, socket.IPPROTO_UDP)
        sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        sock.bind(("", MDNS_PORT))
        own = socket.inet_aton(self.device.ip)
        sock.setsockopt(socket.IPPROTO_IP, socket.IP_ADD_MEMBERSHIP, socket.inet_aton(MDNS_GROUP) + own)
        sock.setsockopt(socket.IPPROTO_IP, socket.IP_MULTICAST_IF, own)
        sock.setsockopt(socket.IPPROTO_IP, socket.IP_MULTICAST_TTL, 255)
        sock.setsockopt(socket.IPPROTO_IP, socket.IP_MULTICAST_LOOP, 0)
        sock.setblocking(False)
        self.sock = sock

    def readable(self):
        try:
            packet, (source, port) = self.sock.recvfrom(9000)
        except OSError:
            return
        if source == self.device.ip:
            return
        parsed = wire.parse_query(packet)
        if parsed is None:
            return
        self.queries += 1
        reply = self.records.answer(parsed[1])
        if reply is not None:
            self.sock.sendto(reply, (MDNS_GROUP, MDNS_PORT))
            self.answers += 1
        if self.queries <= QUERY_LOG_LIMIT:
            asked = ", ".join("%s %s%s" % (name, qtype, " QU" if qu else "") for name, qtype, qu in parsed[1])
            self.log("%s: query from %s:%d [%s] -> %s%s" % (
                self.device.id, source, port, asked, "answered by multicast" if reply else "not ours",
                " (further queries not logged)" if self.queries == QUERY_LOG_LIMIT else ""))


class Fleet:
    def __init__(self, scenario, lab, log):
        self.scenario = scenario
        self.lab = lab
        self.log = log
        self.dir = netns.state_dir(lab)
        self.namespaces = []          # (device, ns name, fd)
        self.zeroconfs = []
        self.responders = []
        self.simulators = []          # (device, Popen, control socket)
        self.split = False
        self.stopping = False
        self.wake_r, self.wake_w = os.pipe()
        self.thread = None

    # ---- start --------------------------------------------------------------

    def start(self):
        bridges = ["br0"]
        if self.scenario.split_lans and len(self.scenario.pc) > 1:
            self.split = True
            bridges = netns.split_lans(self.lab, len(self.scenario.pc))
        for device in self.scenario.devices:
            bridge = bridges[min(self.scenario.lan_of(device), len(bridges) - 1)]
            name = netns.add_device(self.lab, device.index, format_mac(device.mac),
                                    str(device.interface), bridge)
            fd = os.open(os.path.join(netns.NETNS_DIR, name), os.O_RDONLY)
            self.namespaces.append((device, name, fd))
        self.start_zeroconf()
        self.start_multicast_responders()
        self.start_simulators()

    def start_zeroconf(self):
        wanted = [(d, fd) for d, _, fd in self.namespaces if d.responder == "zeroconf"]
        if not wanted:
            return
        from zeroconf import IPVersion, ServiceInfo, Zeroconf
        pending = []
        for device, fd in wanted:
            with netns.Inside(fd):
                zc = Zeroconf(interfaces=[device.ip], ip_version=IPVersion.V4Only)
            self.zeroconfs.append(zc)
            info = ServiceInfo(SERVICE_TYPE, device.instance_name, port=device.port,
                               properties=device.txt_bytes(), server=device.server,
                               addresses=[device.interface.ip.packed])
            # Registered side by side: each probes for about a second.
            pending.append((device, asyncio.run_coroutine_threadsafe(zc.async_register_service(info), zc.loop)))
        for device, future in pending:
            future.result(30)
            self.log("%s: zeroconf responder for %s at %s" % (device.id, device.instance_name, device.ip))

    def start_multicast_responders(self):
        selector = selectors.DefaultSelector()
        for device, _, fd in self.namespaces:
            if device.responder != "multicast":
                continue
            responder = MulticastResponder(device, self.log)
            with netns.Inside(fd):
                responder.open()
            selector.register(responder.sock, selectors.EVENT_READ, responder)
            self.responders.append(responder)
            self.log("%s: multicast-only responder for %s at %s" % (device.id, device.instance_name, device.ip))
        if not self.responders:
            selector.close()
            return
        selector.register(self.wake_r, selectors.EVENT_READ, None)

        def serve():
            while True:
                for key, _ in selector.select():
                    if key.data is None:
                        selector.close()
                        return
                    key.data.readable()

        self.thread = threading.Thread(target=serve, daemon=True)
        self.thread.start()

    def start_simulators(self):
        for device, _, fd in self.namespaces:
            if device.broadcast is None:
                continue
            base = os.path.join(self.dir, "simulator-m%d" % device.index)
            scenario = {"about": "broadcast answers of mDNS device %s" % device.id,
                        "pc": [str(p) for p in self.scenario.pc], "devices": [device.simulator_device()]}
            write_json_atomically(base + ".json", scenario)
            log = open(base + ".log", "ab")
            with netns.Inside(fd):
                process = subprocess.Popen(
                    [SIMULATE, "run", base + ".json", "--iface", "eth0", "--counts", base + "-counts.json",
                     "--control", base + ".sock", "--quiet"],
                    stdin=subprocess.DEVNULL, stdout=log, stderr=log, preexec_fn=netns.die_with_parent)
            log.close()
            self.simulators.append((device, process, base + ".sock"))
            deadline = time.monotonic() + 10
            while not os.path.exists(base + "-counts.json"):
                if process.poll() is not None or time.monotonic() > deadline:
                    raise RuntimeError("the broadcast simulator of %s did not start (see %s.log)" % (device.id, base))
                time.sleep(0.05)
            self.log("%s: broadcast simulator pid %d on %s's eth0" % (device.id, process.pid, device.id))

    def state(self):
        devices = []
        by_index = {d.index: (name, fd) for d, name, fd in self.namespaces}
        simulators = {d.index: (p.pid, sock) for d, p, sock in self.simulators}
        for device in self.scenario.devices:
            entry = device.describe()
            entry["index"] = device.index
            entry["namespace"] = by_index.get(device.index, (None,))[0]
            if device.index in simulators:
                entry["simulator_pid"], entry["simulator_control"] = simulators[device.index]
            devices.append(entry)
        return {"pid": os.getpid(), "lab": self.lab, "scenario": self.scenario.source,
                "split_lans": self.split, "ready": True, "devices": devices}

    # ---- stop ----------------------------------------------------------------

    def stop(self):
        netns.stop_pids([p.pid for _, p, _ in self.simulators])
        for _, process, _ in self.simulators:
            process.poll()
        if self.thread is not None:
            os.write(self.wake_w, b"x")
            self.thread.join(2)
        for responder in self.responders:
            self.log("%s: %d queries heard, %d answered" % (responder.device.id, responder.queries, responder.answers))
            if responder.sock is not None:
                responder.sock.close()
        # Zeroconf's goodbyes would take a second per device; the namespaces
        # (and with them the sockets' interfaces) go away when this process ends.
        for _, name, fd in self.namespaces:
            os.close(fd)
            subprocess.run(["ip", "netns", "del", name], stderr=subprocess.DEVNULL, check=False)
        if self.split:
            netns.join_lans(self.lab)


def run(scenario, lab):
    """The device process: start, report ready, serve until told to stop."""
    def log(text):
        print("mdns-devices: %s" % text, file=sys.stderr, flush=True)

    if not netns.same_namespace("/run/netns/ndt-%s-dev" % lab):
        log("run only inside the lab's devices namespace (tools/mdns-devices start)")
        return 2
    os.makedirs(netns.state_dir(lab), exist_ok=True)
    with open(os.path.join(netns.state_dir(lab), "pid"), "w") as handle:
        handle.write("%d\n" % os.getpid())
    fleet = Fleet(scenario, lab, log)
    stop = threading.Event()

    def on_signal(number, _frame):
        fleet.stopping = True
        stop.set()

    signal.signal(signal.SIGTERM, on_signal)
    signal.signal(signal.SIGINT, on_signal)
    status = 0
    try:
        fleet.start()
        if not fleet.stopping:
            write_json_atomically(os.path.join(netns.state_dir(lab), "state.json"), fleet.state())
            log("%d device(s) ready in lab %s" % (len(scenario.devices), lab))
        while not stop.wait(0.5):
            pass
    except Exception as error:  # noqa: BLE001 - report, clean up, fail
        log("failed: %s" % error)
        status = 1
    finally:
        fleet.stop()
        for name in ("state.json", "pid"):
            try:
                os.unlink(os.path.join(netns.state_dir(lab), name))
            except OSError:
                pass
        log("stopped")
    # Zeroconf's threads are daemons; leave without waiting for them.
    sys.stderr.flush()
    os._exit(status)
