"""A hostile flood of discovery answers from spoofed senders.

Garbage mixed with well-formed answers of the maker, each from one of
thousands of made-up senders (IPv4 and MAC addresses that no device owns),
sent straight to the program's socket at a fixed rate. The target (the PC's
MAC, IPv4 address and the program's port) is learnt from the first discovery
request seen on the LAN, so the flood needs no help from the program.

With fresh names each answer names its device anew, as a forger who wants
every answer posted would (an unchanged answer is held back as a repeat).
The Flooder also counts the program's direct requests to the spoofed
senders while it floods: those are what a forged answer can make the
program send to addresses of the forger's choice.

FloodPlan builds the frames (pure, tested without sockets); Flooder sends
them through a raw packet socket inside the lab's devices namespace.
"""

import ipaddress
import json
import random
import select
import socket
import struct
import time
from collections import namedtuple

from . import frames
from .scenario import DISCOVERY_PORT, REQUEST

ETH_P_ALL = 0x0003
PACKET_OUTGOING = 4
SO_TIMESTAMPNS = getattr(socket, "SO_TIMESTAMPNS", 35)

Target = namedtuple("Target", "mac ip port")


class FloodPlan:
    """Which sender says what, datagram by datagram (seeded, repeatable)."""

    def __init__(self, first_sender, senders, wellformed=0.5, seed=None, fresh_names=False):
        first = ipaddress.IPv4Address(first_sender)
        if senders < 1:
            raise ValueError("at least one sender")
        self.first = int(first)
        self.senders = senders
        self.wellformed = wellformed
        self.random = random.Random(seed)
        self.fresh_names = fresh_names
        self.counts = {"wellformed": 0, "garbage": 0}

    def sender(self, index):
        """IPv4 and MAC bytes of spoofed sender number index."""
        ip = ipaddress.IPv4Address(self.first + index).packed
        # Locally administered and unicast, unique per sender.
        mac = bytes([0x06, 0x46, 0x4C]) + index.to_bytes(3, "big")
        return ip, mac

    def answer(self, index, mac):
        """A well-formed answer of the maker, consistent with the sender's MAC."""
        name = "Spoof %d" % index
        if self.fresh_names:
            name += " #%d" % self.counts["wellformed"]
        return ("%s\r\n%s\r\nOrvel IO-8\r\n80\r\n" %
                (name, frames.format_mac(mac))).encode("ascii")

    def is_sender(self, ip):
        """Whether ip (4 bytes) is one of the spoofed senders."""
        return 0 <= int.from_bytes(ip, "big") - self.first < self.senders

    def garbage(self):
        """Something the program must drop: noise, other makers, near misses."""
        kind = self.random.randrange(5)
        if kind == 0:
            return bytes(self.random.randrange(256) for _ in range(self.random.randint(1, 300)))
        if kind == 1:
            return b"Other\r\n00-00-00-00-00-00\r\nAcme Switch\r\n80\r\n"
        if kind == 2:
            return b"Near\r\n00-00-00-00-00-00\r\nOrvelIO-8\r\n"
        if kind == 3:
            return b"\r\n" * self.random.randint(1, 8)
        return REQUEST

    def next(self):
        """(sender IP, sender MAC, payload) of the next datagram."""
        index = self.random.randrange(self.senders)
        ip, mac = self.sender(index)
        if self.random.random() < self.wellformed:
            self.counts["wellformed"] += 1
            return ip, mac, self.answer(index, mac)
        self.counts["garbage"] += 1
        return ip, mac, self.garbage()

    def frames_to(self, target, ident):
        ip, mac, payload = self.next()
        return frames.udp_frames(target.mac, mac, ip, target.ip, DISCOVERY_PORT, target.port,
                                 payload, ident & 0xFFFF)


def request_source(frame):
    """The Target a discovery request came from, or None for any other frame."""
    parsed = frames.parse_frame(frame)
    if not isinstance(parsed, frames.Udp):
        return None
    if parsed.dst_port != DISCOVERY_PORT or parsed.payload != REQUEST:
        return None
    return Target(parsed.src_mac, parsed.src_ip, parsed.src_port)


class Flooder:
    def __init__(self, interface, plan, rate, seconds, log=None):
        self.interface = interface
        self.plan = plan
        self.rate = rate
        self.seconds = seconds
        self.log = log or (lambda text: None)
        self.sent = 0
        self.send_errors = 0
        self.requests = []  # (seconds since the flood began, sender IP): direct requests heard

    def take_requests(self, raw, wall_start):
        """Notes the discovery requests sent to spoofed senders that wait on
        raw, each at the time the kernel took it in (the loop drains them
        only between sends, which would bunch the times together)."""
        while select.select([raw], [], [], 0)[0]:
            frame, ancillary, _, address = raw.recvmsg(65535, socket.CMSG_SPACE(16))
            if address[2] == PACKET_OUTGOING:
                continue
            parsed = frames.parse_frame(frame)
            if not (isinstance(parsed, frames.Udp) and parsed.dst_port == DISCOVERY_PORT and
                    parsed.payload == REQUEST and self.plan.is_sender(parsed.dst_ip)):
                continue
            when = time.time()
            for level, kind, data in ancillary:
                if level == socket.SOL_SOCKET and kind == SO_TIMESTAMPNS and len(data) >= 16:
                    seconds, nanoseconds = struct.unpack("@qq", data[:16])
                    when = seconds + nanoseconds / 1e9
            self.requests.append((when - wall_start, frames.ip_text(parsed.dst_ip)))

    def learn_target(self, raw, timeout):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            ready, _, _ = select.select([raw], [], [], 0.2)
            if not ready:
                continue
            frame, address = raw.recvfrom(65535)
            if address[2] == PACKET_OUTGOING:
                continue
            target = request_source(frame)
            if target is not None:
                return target
        return None

    def run(self, wait_for_request=30.0):
        raw = socket.socket(socket.AF_PACKET, socket.SOCK_RAW, socket.htons(ETH_P_ALL))
        try:
            raw.bind((self.interface, ETH_P_ALL))
            raw.setsockopt(socket.SOL_SOCKET, SO_TIMESTAMPNS, 1)
            target = self.learn_target(raw, wait_for_request)
            if target is None:
                raise RuntimeError("no discovery request seen in %.0f s" % wait_for_request)
            self.log("flooding %s port %d (MAC %s) at %d a second for %.0f s" % (
                frames.ip_text(target.ip), target.port, frames.format_mac(target.mac),
                self.rate, self.seconds))
            start = time.monotonic()
            wall_start = time.time()  # the kernel stamps frames by the wall clock
            while True:
                elapsed = time.monotonic() - start
                if elapsed >= self.seconds:
                    break
                due = int(elapsed * self.rate)
                while self.sent < due:
                    for frame in self.plan.frames_to(target, self.sent):
                        try:
                            raw.send(frame)
                        except OSError:
                            self.send_errors += 1
                    self.sent += 1
                self.take_requests(raw, wall_start)
                time.sleep(0.001)
            duration = time.monotonic() - start
        finally:
            raw.close()
        return {
            "target": {"ip": frames.ip_text(target.ip), "port": target.port,
                       "mac": frames.format_mac(target.mac)},
            "sent": self.sent,
            "send_errors": self.send_errors,
            "seconds": round(duration, 3),
            "senders": self.plan.senders,
            **self.plan.counts,
            "requests": len(self.requests),
            "requests_most_per_second": most_within(self.requests, 1.0),
            "requests_most_to_one_in_2_5_s": most_within(self.requests, 2.5, per_address=True),
        }


def most_within(requests, seconds, per_address=False):
    """Most of the (time, address) requests, in time order, within any span
    of seconds, to one address or to all."""
    groups = {}
    for when, address in requests:
        groups.setdefault(address if per_address else None, []).append(when)
    most = 0
    for times in groups.values():
        first = 0
        for last, when in enumerate(times):
            while when - times[first] >= seconds:
                first += 1
            most = max(most, last - first + 1)
    return most


def summary_line(result):
    return json.dumps(result, sort_keys=True)
