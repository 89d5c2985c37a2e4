"""The multicast DNS devices of one lab, run by one process.

The process lives in the lab's devices namespace (ndt-LAB-dev). For every
device it makes a namespace of its own (tools/mdns/netns.py), enters it just
long enough to open the device's sockets there, and comes back: so one
process answers for all devices, each from its own address and MAC.

  zeroconf   a python3-zeroconf instance bound to the device's address with
             the device's service registered (it probes, announces, answers
             multicast and unicast queries as that library does; a reply
             delay is added to its unicast answers)
  multicast  a responder of our own that answers every query for the
             device's names by multicast to 224.0.0.251:5353 only, whatever
             the QU bit and source port (tools/mdns/wire.py)
  standard   the same responder answering as ordinary ones do: one-shot
             queries (source port not 5353) by unicast to the asker's port,
             QU questions by unicast to its port 5353, the rest by multicast
  silent     no responder: the namespace alone, whose kernel answers ARP (a
             device that only others speak for, e.g. in tools/flood-mdns)
  broadcast  the broadcast discovery simulator (tools/simulate, unchanged)
             on the device's eth0, for a device that answers both ways

Our responders send each answer after the device's reply delay (a random
time in its delay_ms range); one thread serves all of them, with a queue of
answers waiting for their time.

Ends on SIGTERM or SIGINT: stops the simulators it started by PID, removes
its namespaces and puts the lab's switch back as it found it.
"""

import asyncio
import heapq
import os
import random
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


class OwnResponder:
    """Answers queries for one device's names (responder "multicast" or "standard")."""

    def __init__(self, device, log, send_later):
        self.device = device
        self.log = log
        self.send_later = send_later
        self.records = wire.DeviceRecords(SERVICE_TYPE, device.instance_name, device.server,
                                          device.port, device.txt_bytes(), device.interface.ip.packed,
                                          device.additionals)
        self.standard = device.responder == "standard"
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

    def replies(self, ident, questions, source, port):
        """[(packet, destination, how)] for a query."""
        if not self.standard:
            reply = self.records.answer(questions)
            return [(reply, (MDNS_GROUP, MDNS_PORT), "by multicast")] if reply else []
        if port != MDNS_PORT:
            reply = self.records.answer(questions, ident, legacy=True)
            return [(reply, (source, port), "by unicast to %s:%d" % (source, port))] if reply else []
        out = []
        unicast = self.records.answer([q for q in questions if q[2]])
        if unicast:
            out.append((unicast, (source, MDNS_PORT), "by unicast to %s:%d" % (source, MDNS_PORT)))
        shared = self.records.answer([q for q in questions if not q[2]])
        if shared:
            out.append((shared, (MDNS_GROUP, MDNS_PORT), "by multicast"))
        return out

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
        replies = self.replies(parsed[0], parsed[1], source, port)
        low, high = self.device.delay_ms
        for reply, destination, _ in replies:
            self.send_later(random.uniform(low, high) / 1000.0, self, reply, destination)
        if self.queries <= QUERY_LOG_LIMIT:
            asked = ", ".join("%s %s%s" % (name, qtype, " QU" if qu else "") for name, qtype, qu in parsed[1])
            self.log("%s: query from %s:%d [%s] -> %s%s" % (
                self.device.id, source, port, asked,
                "answered " + " and ".join(how for _, _, how in replies) if replies else "not ours",
                " (further queries not logged)" if self.queries == QUERY_LOG_LIMIT else ""))

    def send(self, reply, destination):
        try:
            self.sock.sendto(reply, destination)
            self.answers += 1
        except OSError as error:
            self.log("%s: answer to %s:%d failed: %s" % (self.device.id, destination[0], destination[1], error))


def delay_unicast_answers(zc, delay_ms):
    """Makes a python3-zeroconf instance send its unicast answers after a
    random delay. Its multicast answers to shared records already wait
    20-120 ms in its own queue; probes and announcements are left alone."""
    low, high = delay_ms
    send = zc.async_send

    def delayed(out, addr=None, port=MDNS_PORT, *rest):
        if addr is None:
            send(out, addr, port, *rest)
        else:
            zc.loop.call_later(random.uniform(low, high) / 1000.0, send, out, addr, port, *rest)

    zc.async_send = delayed


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
        self.start_own_responders()
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
            if device.delay_ms[1] > 0:
                delay_unicast_answers(zc, device.delay_ms)
            self.zeroconfs.append(zc)
            info = ServiceInfo(SERVICE_TYPE, device.instance_name, port=device.port,
                               properties=device.txt_bytes(), server=device.server,
                               addresses=[device.interface.ip.packed])
            # Registered side by side: each probes for about a second.
            pending.append((device, asyncio.run_coroutine_threadsafe(zc.async_register_service(info), zc.loop)))
        for device, future in pending:
            future.result(30)
            self.log("%s: zeroconf responder for %s at %s" % (device.id, device.instance_name, device.ip))

    def start_own_responders(self):
        selector = selectors.DefaultSelector()
        waiting = []  # (due, sequence, responder, packet, destination)
        sequence = [0]

        def send_later(delay, responder, packet, destination):
            if delay <= 0:
                responder.send(packet, destination)
                return
            sequence[0] += 1
            heapq.heappush(waiting, (time.monotonic() + delay, sequence[0], responder, packet, destination))

        for device, _, fd in self.namespaces:
            if device.responder not in ("multicast", "standard"):
                continue
            responder = OwnResponder(device, self.log, send_later)
            with netns.Inside(fd):
                responder.open()
            selector.register(responder.sock, selectors.EVENT_READ, responder)
            self.responders.append(responder)
            self.log("%s: %s responder for %s at %s (PTR answers carry %s; reply delay %g..%g ms)" % (
                device.id, device.responder, device.instance_name, device.ip,
                "SRV, TXT and A" if device.additionals == "full" else "only A",
                device.delay_ms[0], device.delay_ms[1]))
        if not self.responders:
            selector.close()
            return
        selector.register(self.wake_r, selectors.EVENT_READ, None)

        def serve():
            while True:
                timeout = None
                if waiting:
                    timeout = max(0.0, waiting[0][0] - time.monotonic())
                for key, _ in selector.select(timeout):
                    if key.data is None:
                        selector.close()
                        return
                    key.data.readable()
                now = time.monotonic()
                while waiting and waiting[0][0] <= now:
                    _, _, responder, packet, destination = heapq.heappop(waiting)
                    responder.send(packet, destination)

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
                     "--control", base + ".sock", "--quiet",
                     "--loss-file", os.path.join(netns.lab_dir(self.lab), "loss")],
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
