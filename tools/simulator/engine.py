"""The simulator process: a raw packet socket on the devices' side of the lab.

One AF_PACKET socket on the lab interface (dev0) carries every simulated
device, each with its own IPv4 and MAC address. The interface itself has no
address, so the namespace's kernel stays out of the conversation. A small
event loop reads frames, hands them to the responder, sends what it returns
(now or after a device's delay), serves the control socket and rewrites the
counts file.
"""

import errno
import heapq
import itertools
import json
import os
import select
import signal
import socket
import struct
import time

from .responder import Responder
from .scenario import DEVICE_FIELDS

# The address fields index the devices; everything else may change while running.
# Silence has its own commands.
RUNTIME_FIELDS = DEVICE_FIELDS - {"id", "ip", "mac", "model", "vendor", "silent", "silent_after_s"}

ETH_P_ALL = 0x0003
SOL_PACKET = 263
PACKET_ADD_MEMBERSHIP = 1
PACKET_MR_PROMISC = 1
PACKET_OUTGOING = 4

COUNTS_INTERVAL = 0.2
# Seconds between a device's ARP request for the requester and its answer.
ANNOUNCE_GAP = 0.003
RECEIVE_BUFFER = 4 * 1024 * 1024


def in_lab_network_namespace():
    """True only inside one of the lab's namespaces (/run/netns/ndt-*).

    Everything that sends must run there: the machine's own network must
    never see the simulated devices or their requests.
    """
    try:
        mine = os.stat("/proc/self/ns/net")
        own = (mine.st_dev, mine.st_ino)
        names = os.listdir("/run/netns")
    except OSError:
        return False
    for name in names:
        if name.startswith("ndt-"):
            try:
                lab = os.stat(os.path.join("/run/netns", name))
                if (lab.st_dev, lab.st_ino) == own:
                    return True
            except OSError:
                continue
    return False


def write_json_atomically(path, data):
    temporary = "%s.tmp%d" % (path, os.getpid())
    with open(temporary, "w", encoding="utf-8") as handle:
        json.dump(data, handle, indent=1, sort_keys=True)
        handle.write("\n")
    os.replace(temporary, path)


class Engine:
    def __init__(self, scenario, interface, counts_path=None, control_path=None,
                 seed=None, log=None, loss_path=None):
        self.scenario = scenario
        self.interface = interface
        self.counts_path = counts_path
        self.control_path = control_path
        self.log = log or (lambda text: None)
        self.responder = Responder(scenario, time.monotonic(), seed)
        self.pending = []           # heap of (due, sequence, Outgoing)
        self.sequence = itertools.count()
        self.clients = {}           # control connection -> bytes received so far
        self.stopping = False
        self.raw = None
        self.control = None
        self.frames_sent = 0
        self.send_errors = 0
        self.next_counts_write = 0.0
        self.loss_path = loss_path
        self.loss_stamp = None      # the loss file's (inode, mtime, size) when last read

    # ---- setup and teardown ---------------------------------------------------

    def open(self):
        raw = socket.socket(socket.AF_PACKET, socket.SOCK_RAW, socket.htons(ETH_P_ALL))
        try:
            raw.bind((self.interface, ETH_P_ALL))
            raw.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, RECEIVE_BUFFER)
            # Frames addressed to the devices' MACs are not for dev0's own MAC.
            ifindex = socket.if_nametoindex(self.interface)
            membership = struct.pack("iHH8s", ifindex, PACKET_MR_PROMISC, 0, b"")
            raw.setsockopt(SOL_PACKET, PACKET_ADD_MEMBERSHIP, membership)
            raw.setblocking(False)
        except OSError:
            raw.close()
            raise
        self.raw = raw
        if self.control_path:
            if os.path.exists(self.control_path):
                os.unlink(self.control_path)
            control = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
            control.bind(self.control_path)
            control.listen(8)
            control.setblocking(False)
            self.control = control

    def close(self):
        for client in list(self.clients):
            client.close()
        self.clients.clear()
        if self.control is not None:
            self.control.close()
            self.control = None
            try:
                os.unlink(self.control_path)
            except OSError:
                pass
        if self.raw is not None:
            self.raw.close()
            self.raw = None

    def request_stop(self, *_):
        self.stopping = True

    # ---- main loop --------------------------------------------------------------

    def run(self):
        # The signal handlers only set a flag; the wake-up pipe makes select()
        # return at once so a stop never waits for the next timeout.
        wake_read, wake_write = socket.socketpair()
        wake_read.setblocking(False)
        wake_write.setblocking(False)
        signal.set_wakeup_fd(wake_write.fileno())
        signal.signal(signal.SIGTERM, self.request_stop)
        signal.signal(signal.SIGINT, self.request_stop)
        self.open()
        try:
            self.write_counts(force=True)
            self.log("simulating %d device(s) on %s" % (len(self.scenario.devices), self.interface))
            while not self.stopping:
                now = time.monotonic()
                next_silence = self.responder.tick(now)
                self.send_due(now)
                self.write_counts()
                timeout = self.next_counts_write - now if self.responder.changed else 1.0
                if self.pending:
                    timeout = min(timeout, self.pending[0][0] - now)
                if next_silence is not None:
                    timeout = min(timeout, next_silence - now)
                timeout = max(0.0, min(timeout, 1.0))
                readers = [self.raw, wake_read] + ([self.control] if self.control else []) + list(self.clients)
                try:
                    ready, _, _ = select.select(readers, [], [], timeout)
                except InterruptedError:
                    continue
                for source in ready:
                    if source is self.raw:
                        self.read_frames()
                    elif source is wake_read:
                        self.drain(wake_read)
                    elif source is self.control:
                        self.accept_client()
                    else:
                        self.read_client(source)
        finally:
            signal.set_wakeup_fd(-1)
            wake_read.close()
            wake_write.close()
            self.write_counts(force=True)
            self.close()
            self.log("stopped: %d request(s), %d frame(s) sent" %
                     (self.responder.requests, self.frames_sent))

    def check_loss(self):
        """Takes the lab's loss (a percentage in the loss file, written by
        tools/lab loss; no file: none): the raw socket reads frames before
        the namespace's packet filter, so the devices drop their share here.
        Looked at before every batch of frames (a stat; read when it
        changed), so a loss holds from the moment tools/lab loss returns."""
        if not self.loss_path:
            return
        try:
            info = os.stat(self.loss_path)
            stamp = (info.st_ino, info.st_mtime_ns, info.st_size)
        except OSError:
            stamp = None
        if stamp == self.loss_stamp:
            return
        self.loss_stamp = stamp
        try:
            with open(self.loss_path, encoding="ascii") as handle:
                loss = min(max(float(handle.read().strip()) / 100.0, 0.0), 1.0)
        except (OSError, ValueError):
            loss = 0.0
        if loss != self.responder.loss:
            self.log("loss on the way in: %g %%" % (loss * 100.0))
            self.responder.loss = loss
            self.responder.changed = True

    @staticmethod
    def drain(sock):
        try:
            while sock.recv(256):
                pass
        except (BlockingIOError, InterruptedError):
            pass

    def read_frames(self):
        # Drain everything queued, so a burst of requests is answered as one burst.
        self.check_loss()
        while True:
            try:
                frame, address = self.raw.recvfrom(65535)
            except (BlockingIOError, InterruptedError):
                return
            if address[2] == PACKET_OUTGOING:
                continue
            now = time.monotonic()
            for outgoing in self.responder.handle(frame, now):
                if outgoing.due <= now:
                    self.send(outgoing)
                else:
                    heapq.heappush(self.pending, (outgoing.due, next(self.sequence), outgoing))

    def send_due(self, now):
        while self.pending and self.pending[0][0] <= now:
            self.send(heapq.heappop(self.pending)[2])

    def send(self, outgoing):
        frames = outgoing.frames
        if outgoing.kind == "answer" and len(frames) > 1 and frames[0][12:14] == b"\x08\x06":
            # The device's ARP request for the requester goes first; sent back to
            # back, the answer could overtake it on the PC, which would then not
            # know the device's MAC yet. A real device waits for the ARP reply.
            self.send_frame(frames[0])
            rest = outgoing._replace(due=time.monotonic() + ANNOUNCE_GAP, frames=frames[1:])
            heapq.heappush(self.pending, (rest.due, next(self.sequence), rest))
            return
        for frame in frames:
            self.send_frame(frame)
        self.responder.sent(outgoing)

    def send_frame(self, frame):
        for _ in range(200):
            try:
                self.raw.send(frame)
                self.frames_sent += 1
                return
            except (BlockingIOError, InterruptedError):
                pass
            except OSError as error:
                if error.errno != errno.ENOBUFS:
                    self.send_errors += 1
                    self.log("send failed: %s" % error)
                    return
            select.select([], [self.raw], [], 0.01)
        self.send_errors += 1

    # ---- counts -----------------------------------------------------------------

    def snapshot(self):
        return self.responder.snapshot(time.monotonic(), {
            "pid": os.getpid(),
            "interface": self.interface,
            "frames_sent": self.frames_sent,
            "send_errors": self.send_errors,
            "pending": len(self.pending),
        })

    def write_counts(self, force=False):
        now = time.monotonic()
        if not self.counts_path:
            self.responder.changed = False
            return
        if not force and (not self.responder.changed or now < self.next_counts_write):
            return
        self.responder.changed = False
        self.next_counts_write = now + COUNTS_INTERVAL
        write_json_atomically(self.counts_path, self.snapshot())

    # ---- control socket -------------------------------------------------------------

    def accept_client(self):
        try:
            client, _ = self.control.accept()
        except (BlockingIOError, InterruptedError):
            return
        client.setblocking(True)
        client.settimeout(2.0)
        self.clients[client] = b""

    def read_client(self, client):
        try:
            data = client.recv(4096)
        except OSError:
            data = b""
        if not data:
            client.close()
            del self.clients[client]
            return
        buffer = self.clients[client] + data
        while b"\n" in buffer:
            line, buffer = buffer.split(b"\n", 1)
            reply = self.command(line.decode("utf-8", "replace").strip())
            try:
                client.sendall((json.dumps(reply, sort_keys=True) + "\n").encode("utf-8"))
            except OSError:
                client.close()
                del self.clients[client]
                return
        self.clients[client] = buffer[-65536:]

    def command(self, line):
        """One control command; the reply is a JSON object with "ok"."""
        words = line.split(None, 3)
        if not words:
            return {"ok": False, "error": "empty command"}
        verb, args = words[0].lower(), words[1:]
        try:
            if verb == "ping":
                return {"ok": True}
            if verb == "counts":
                return dict(self.snapshot(), ok=True)
            if verb == "list":
                return {"ok": True, "devices": [d.describe() for d in self.scenario.devices]}
            if verb in ("silence", "resume") and len(args) == 1:
                changed = self.responder.set_silent(args[0], verb == "silence")
                return {"ok": bool(changed), "devices": changed,
                        **({} if changed else {"error": "no device %s" % args[0]})}
            if verb == "set" and len(args) == 3:
                if args[1] not in RUNTIME_FIELDS:
                    return {"ok": False, "error": "cannot set %s at run time" % args[1]}
                devices = self.scenario.find(args[0])
                try:
                    value = json.loads(args[2])
                except ValueError:
                    value = args[2]
                for device in devices:
                    device.configure({args[1]: value})
                self.responder.changed = True
                return {"ok": bool(devices), "devices": [d.id for d in devices]}
            if verb == "reset":
                self.responder.reset_counts()
                return {"ok": True}
            if verb == "quit":
                self.stopping = True
                return {"ok": True}
        except ValueError as error:
            return {"ok": False, "error": str(error)}
        return {"ok": False, "error": "unknown command: %s" % line}
