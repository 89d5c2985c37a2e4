"""Hostile multicast DNS traffic on the lab's LAN, for tools/flood-mdns.

Five kinds of response, each at a rate of its own (packets a second):

  txt        TXT bombs: a fake instance of the service whose TXT record holds
             as many empty strings as fit one 9000-byte datagram (about 8,900;
             sent as IPv4 fragments), alone or with PTR, SRV and A, some with
             vendor=Orvel as the very last string
  names      a stream of new host names: every packet a new instance with a
             new host name whose A record names an on-subnet address that no
             host owns; half of them with SRV and TXT (vendor=Orvel), half
             with the A record alone (the asker must query SRV and TXT)
  multi      one response naming three devices (three PTR answers, three
             SRV, three TXT with vendor=Orvel, three A), sent from the first
             of them: the "trio", real silent devices of the lab (namespaces
             whose kernels answer ARP), so each can be listed
  offsubnet  complete answers with vendor=Orvel sent from addresses outside
             the PC's subnet (10.99.0.5 onwards): half name the sender's own
             address, half name the "ghost", a real silent on-subnet device
             that nothing else announces; neither may ever be listed
  malformed  truncated packets, compression pointer loops and chains, counts
             larger than the packet, oversize labels and names, records whose
             lengths run past the packet, reserved label types, random bytes

Every response leaves from UDP port 5353. Its destination rotates: the group
224.0.0.251:5353 (to the group's MAC), the PC's port 5353 by unicast, and the
PC's port its last query came from (the answer path of one-shot queries).
The PC's MAC, address and query port are learnt from its queries on the LAN.

HostilePlan builds the payloads (pure, seeded, tested without sockets);
HostileSender sends them as raw frames through a packet socket on the
devices namespace's dev0, so any source address and MAC can be used.
"""

import ipaddress
import json
import random
import select
import socket
import struct
import time

from simulator import frames

from . import wire
from .scenario import SERVICE_TYPE

KINDS = ("txt", "names", "multi", "offsubnet", "malformed")
DEFAULT_RATES = {"txt": 30, "names": 500, "multi": 5, "offsubnet": 20, "malformed": 100}
MDNS_PORT = 5353
MDNS_GROUP = "224.0.0.251"
GROUP_MAC = bytes.fromhex("01005e0000fb")
ETH_P_ALL = 0x0003
PACKET_OUTGOING = 4
DATAGRAM_LIMIT = 9000
HEADER = 12
OFF_SUBNET_FIRST = "10.99.0.5"
OFF_SUBNET_SENDERS = 5
ORVEL_TXT = [b"vendor=Orvel", b"model=X200", b"firmware_version=6.6"]
TRIO_TXT = [b"vendor=Orvel", b"model=T3", b"firmware_version=1.0"]
DESTINATIONS = ("group", "unicast", "query-port")


def parse_rates(text):
    """{kind: packets a second} from "txt=30,names=500,..." over the defaults."""
    rates = dict(DEFAULT_RATES)
    for part in filter(None, (p.strip() for p in (text or "").split(","))):
        key, _, value = part.partition("=")
        if key not in KINDS or not value:
            raise ValueError("--rates: want KIND=N with KIND one of %s, got %r" % (", ".join(KINDS), part))
        rates[key] = float(value)
        if rates[key] < 0:
            raise ValueError("--rates: %s must not be negative" % key)
    return rates


def txt_bytes(strings):
    return b"".join(bytes([len(s)]) + s for s in strings)


def local_mac(tag, index):
    """A made-up, locally administered unicast MAC, distinct per tag and index."""
    return bytes([0x06, 0x6D, tag & 0xFF]) + (index & 0xFFFFFF).to_bytes(3, "big")


class HostilePlan:
    """What each hostile packet says and who seems to send it (seeded, repeatable)."""

    def __init__(self, lan, unowned, trio, ghost, seed=1):
        """lan: the PC's network (text); unowned: on-subnet addresses no host
        owns; trio: three (ip, mac bytes) of real silent devices; ghost: the
        address of a real silent device named only from off the subnet."""
        self.lan = ipaddress.IPv4Network(lan, strict=False)
        self.unowned = [str(a) for a in unowned]
        if not self.unowned:
            raise ValueError("no unowned address for the hostile senders")
        self.trio = [(str(ip), bytes(mac)) for ip, mac in trio]
        if len(self.trio) != 3:
            raise ValueError("the multi-instance packet names three devices")
        self.ghost = str(ghost)
        first = int(ipaddress.IPv4Address(OFF_SUBNET_FIRST))
        self.off_sources = [str(ipaddress.IPv4Address(first + i)) for i in range(OFF_SUBNET_SENDERS)]
        if any(ipaddress.IPv4Address(a) in self.lan for a in self.off_sources):
            raise ValueError("the off-subnet senders are inside %s" % self.lan)
        self.seed = seed
        self.random = random.Random(seed)
        self.serial = {kind: 0 for kind in KINDS}

    # ---- who sends ----

    def unowned_sender(self, index):
        ip = self.unowned[index % len(self.unowned)]
        return ip, local_mac(0x01, int(ipaddress.IPv4Address(ip)) & 0xFFFF)

    def off_subnet_addresses(self):
        """Every address an off-subnet answer names: its senders and the ghost."""
        return self.off_sources + [self.ghost]

    # ---- the kinds ----

    def next(self, kind):
        """(source ip text, source MAC bytes, payload) of the next packet of a kind."""
        n = self.serial[kind]
        self.serial[kind] += 1
        return getattr(self, "make_" + kind.replace("-", "_"))(n)

    def make_txt(self, n):
        instance = "Bomb %d.%s" % (n % 64, SERVICE_TYPE)
        ip, mac = self.unowned_sender(n)
        last = [b"vendor=Orvel"] if n % 3 == 2 else []
        if n % 2 == 0:
            # The TXT record alone, its owner name written out.
            head = wire.encode_name(instance) + struct.pack("!HHIH", wire.TYPE_TXT, wire.CLASS_IN, 4500, 0)
            room = DATAGRAM_LIMIT - HEADER - len(head)
            rdata = self.fill_txt(room, last)
            payload = struct.pack("!HHHHHH", 0, wire.FLAGS_RESPONSE, 0, 1, 0, 0) + head[:-2] + \
                struct.pack("!H", len(rdata)) + rdata
            return ip, mac, payload
        # PTR answer; TXT (its owner a pointer to the PTR's target), SRV and A.
        host = "bomb-%d.local." % (n % 64)
        ptr = wire.ptr_record(SERVICE_TYPE, instance)
        instance_at = HEADER + len(wire.encode_name(SERVICE_TYPE)) + 10
        srv = wire.srv_record(instance, 80, host)
        a = wire.a_record(host, ipaddress.IPv4Address(ip).packed)
        txt_head = struct.pack("!HHHIH", 0xC000 | instance_at, wire.TYPE_TXT, wire.CLASS_IN, 4500, 0)
        room = DATAGRAM_LIMIT - HEADER - len(ptr) - len(srv) - len(a) - len(txt_head)
        rdata = self.fill_txt(room, last)
        txt = txt_head[:-2] + struct.pack("!H", len(rdata)) + rdata
        payload = struct.pack("!HHHHHH", 0, wire.FLAGS_RESPONSE, 0, 1, 0, 3) + ptr + txt + srv + a
        return ip, mac, payload

    @staticmethod
    def fill_txt(room, last):
        tail = txt_bytes(last)
        return b"\0" * (room - len(tail)) + tail

    def make_names(self, n):
        instance = "Flood %d-%d.%s" % (self.seed, n, SERVICE_TYPE)
        host = "flood-%d-%d.local." % (self.seed, n)
        ip, mac = self.unowned_sender(n)
        address = ipaddress.IPv4Address(ip).packed
        answers = [wire.ptr_record(SERVICE_TYPE, instance)]
        if n % 2 == 0:
            extras = [wire.srv_record(instance, 80, host), wire.txt_record(instance, txt_bytes(ORVEL_TXT)),
                      wire.a_record(host, address)]
        else:
            extras = [wire.a_record(host, address)]
        return ip, mac, wire.response(answers, extras)

    def trio_names(self):
        """(instance, host, ip) of each trio device."""
        out = []
        for ip, _ in self.trio:
            octet = ip.rsplit(".", 1)[1]
            out.append(("Trio %s.%s" % (octet, SERVICE_TYPE), "trio-%s.local." % octet, ip))
        return out

    def make_multi(self, n):
        names = self.trio_names()
        answers = [wire.ptr_record(SERVICE_TYPE, instance) for instance, _, _ in names]
        extras = [wire.srv_record(instance, 80, host) for instance, host, _ in names]
        extras += [wire.txt_record(instance, txt_bytes(TRIO_TXT)) for instance, _, _ in names]
        extras += [wire.a_record(host, ipaddress.IPv4Address(ip).packed) for _, host, ip in names]
        ip, mac = self.trio[0]
        return ip, mac, wire.response(answers, extras)

    def make_offsubnet(self, n):
        source = self.off_sources[n % len(self.off_sources)]
        mac = local_mac(0x02, n % len(self.off_sources))
        if n % 2 == 0:
            instance, host, named = "Outsider %d.%s" % (n % 8, SERVICE_TYPE), "outsider-%d.local." % (n % 8), source
        else:
            instance, host, named = "Ghost.%s" % SERVICE_TYPE, "ghost.local.", self.ghost
        answers = [wire.ptr_record(SERVICE_TYPE, instance)]
        extras = [wire.srv_record(instance, 80, host), wire.txt_record(instance, txt_bytes(ORVEL_TXT)),
                  wire.a_record(host, ipaddress.IPv4Address(named).packed)]
        return source, mac, wire.response(answers, extras)

    def make_malformed(self, n):
        ip, mac = self.unowned_sender(n + 7)
        builders = MALFORMED
        return ip, mac, builders[n % len(builders)](self.random)


# ---- malformed payloads: each a response the program must drop or survive ----

def _header(qd=0, an=1, ns=0, ar=0, flags=wire.FLAGS_RESPONSE):
    return struct.pack("!HHHHHH", 0, flags, qd, an, ns, ar)


def _good(rng):
    instance = "Broken %d.%s" % (rng.randrange(100), SERVICE_TYPE)
    host = "broken-%d.local." % rng.randrange(100)
    return wire.response([wire.ptr_record(SERVICE_TYPE, instance)],
                         [wire.srv_record(instance, 80, host), wire.txt_record(instance, txt_bytes(ORVEL_TXT)),
                          wire.a_record(host, bytes([192, 168, 77, 199]))])


def bad_truncated(rng):
    packet = _good(rng)
    return packet[:rng.randrange(1, len(packet) - 1)]


def bad_empty(rng):
    return b""


def bad_header_only(rng):
    return struct.pack("!HHHHHH", 0, wire.FLAGS_RESPONSE, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF)


def bad_counts(rng):
    # Says 40 answers and 200 additionals, holds one complete record.
    packet = _good(rng)
    return struct.pack("!HHHHHH", 0, wire.FLAGS_RESPONSE, 0, 40, 0, 200) + packet[HEADER:]


def bad_self_pointer(rng):
    # The answer's owner name is a pointer to itself.
    return _header() + b"\xc0\x0c" + struct.pack("!HHIH", wire.TYPE_PTR, wire.CLASS_IN, 4500, 2) + b"\xc0\x0c"


def bad_pointer_pair(rng):
    # The owner name points at the PTR's target, which points back at the owner.
    target_at = HEADER + 2 + 10
    return _header() + struct.pack("!H", 0xC000 | target_at) + \
        struct.pack("!HHIH", wire.TYPE_PTR, wire.CLASS_IN, 4500, 2) + struct.pack("!H", 0xC000 | HEADER)


def bad_pointer_chain(rng):
    # 200 pointers, each to the one before, kept in a first record's data;
    # the first points at the service type (a long chain that ends) or,
    # every other time, at the last (a ring). A PTR answer's owner and
    # target then point at the last link.
    service = wire.encode_name(SERVICE_TYPE)
    links_at = HEADER + len(service) + 10
    chain = bytearray()
    previous = HEADER
    for i in range(200):
        chain += struct.pack("!H", 0xC000 | previous)
        previous = links_at + 2 * i
    last = previous
    if rng.random() < 0.5:
        chain[0:2] = struct.pack("!H", 0xC000 | last)
    first = service + struct.pack("!HHIH", wire.TYPE_TXT, wire.CLASS_IN, 4500, len(chain)) + bytes(chain)
    second = struct.pack("!H", 0xC000 | last) + struct.pack("!HHIH", wire.TYPE_PTR, wire.CLASS_IN, 4500, 2) + \
        struct.pack("!H", 0xC000 | last)
    return _header(an=2) + first + second


def bad_forward_pointer(rng):
    return _header() + b"\xc0\xff" + struct.pack("!HHIH", wire.TYPE_PTR, wire.CLASS_IN, 4500, 2) + b"\xff\xff"


def bad_long_name(rng):
    # A name of five 63-byte labels: past the 255-byte limit of a name.
    name = b"".join(b"\x3f" + bytes([0x61 + i]) * 63 for i in range(5)) + b"\0"
    return _header() + wire.encode_name(SERVICE_TYPE) + struct.pack(
        "!HHIH", wire.TYPE_PTR, wire.CLASS_IN, 4500, len(name)) + name


def bad_label_past_end(rng):
    return _header() + b"\x3fshort"


def bad_label_type(rng):
    # Label types 01 and 10 are reserved.
    name = bytes([0x40 | 5]) + b"abcde" + bytes([0x80 | 3]) + b"xyz\0"
    return _header() + name + struct.pack("!HHIH", wire.TYPE_A, wire.CLASS_IN, 120, 4) + bytes(4)


def bad_rdlength(rng):
    # rdlength 60000 with a few bytes left.
    return _header() + wire.encode_name(SERVICE_TYPE) + struct.pack(
        "!HHIH", wire.TYPE_PTR, wire.CLASS_IN, 4500, 60000) + b"\x05abcde\0"


def bad_short_records(rng):
    # An SRV of 3 bytes, an A of 7, a TXT whose string runs past its record.
    instance = "Short.%s" % SERVICE_TYPE
    srv = wire.encode_name(instance) + struct.pack("!HHIH", wire.TYPE_SRV, wire.CLASS_IN, 120, 3) + b"\0\0\0"
    a = wire.encode_name("short.local.") + struct.pack("!HHIH", wire.TYPE_A, wire.CLASS_IN, 120, 7) + bytes(7)
    txt = wire.encode_name(instance) + struct.pack("!HHIH", wire.TYPE_TXT, wire.CLASS_IN, 4500, 4) + b"\x20abc"
    return _header(an=1, ar=3) + wire.ptr_record(SERVICE_TYPE, instance) + srv + a + txt


def bad_odd_instance(rng):
    # Instance labels of 63 bytes, with zero bytes and bytes that are no UTF-8.
    label = bytes(rng.choice([0, 0xFF, 0xC3, 0x2E, 0x41]) for _ in range(63))
    instance = b"\x3f" + label + wire.encode_name(SERVICE_TYPE)
    host = "odd-%d.local." % rng.randrange(100)
    ptr = wire.encode_name(SERVICE_TYPE) + struct.pack("!HHIH", wire.TYPE_PTR, wire.CLASS_IN, 4500,
                                                       len(instance)) + instance
    srv = instance + struct.pack("!HHIH", wire.TYPE_SRV, wire.CLASS_IN | wire.CACHE_FLUSH, 120,
                                 6 + len(wire.encode_name(host))) + struct.pack("!HHH", 0, 0, 80) + \
        wire.encode_name(host)
    txt = instance + struct.pack("!HHIH", wire.TYPE_TXT, wire.CLASS_IN, 4500, 13) + b"\x0cvendor=Orvel"
    return _header(an=1, ar=3) + ptr + srv + txt + wire.a_record(host, bytes([192, 168, 77, 198]))


def bad_query_with_answers(rng):
    # The QR bit clear: a query that carries answers.
    packet = _good(rng)
    return packet[:2] + b"\0\0" + packet[4:]


def bad_random(rng):
    return bytes(rng.randrange(256) for _ in range(rng.randint(1, 600)))


def bad_srv_loop(rng):
    # The SRV target is the instance name itself, with an A record for it.
    instance = "Loop.%s" % SERVICE_TYPE
    return wire.response([wire.ptr_record(SERVICE_TYPE, instance)],
                         [wire.srv_record(instance, 80, instance), wire.txt_record(instance, txt_bytes(ORVEL_TXT)),
                          wire.a_record(instance, bytes([192, 168, 77, 197]))])


MALFORMED = [bad_truncated, bad_empty, bad_header_only, bad_counts, bad_self_pointer, bad_pointer_pair,
             bad_pointer_chain, bad_forward_pointer, bad_long_name, bad_label_past_end, bad_label_type,
             bad_rdlength, bad_short_records, bad_odd_instance, bad_query_with_answers, bad_random,
             bad_srv_loop]


# ---- sending ----

def query_source(frame, pc_ip):
    """(PC's MAC, source port) of a multicast DNS query the PC sent, else None."""
    parsed = frames.parse_frame(frame)
    if not isinstance(parsed, frames.Udp) or parsed.src_ip != pc_ip or parsed.dst_port != MDNS_PORT:
        return None
    if len(parsed.payload) < HEADER or parsed.payload[2] & 0x80:
        return None
    return parsed.src_mac, parsed.src_port


class HostileSender:
    def __init__(self, interface, plan, rates, seconds, pc_ip, log=None):
        self.interface = interface
        self.plan = plan
        self.rates = rates
        self.seconds = seconds
        self.pc_ip = ipaddress.IPv4Address(pc_ip).packed
        self.log = log or (lambda text: None)
        self.sent = {kind: 0 for kind in KINDS}
        self.by_destination = {d: 0 for d in DESTINATIONS}
        self.frames = 0
        self.bytes = 0
        self.send_errors = 0
        self.pc_mac = None
        self.query_port = None
        self.query_ports = set()

    def watch(self, sniff, limit=256):
        """Reads what the sniffing socket holds; learns the PC's MAC and query port."""
        for _ in range(limit):
            try:
                frame, address = sniff.recvfrom(65535)
            except BlockingIOError:
                return
            if address[2] == PACKET_OUTGOING:
                continue
            found = query_source(frame, self.pc_ip)
            if found is not None:
                self.pc_mac, port = found
                if port != MDNS_PORT:
                    self.query_port = port
                    self.query_ports.add(port)

    def send(self, raw, kind, ident):
        source_ip, source_mac, payload = self.plan.next(kind)
        destination = DESTINATIONS[ident % len(DESTINATIONS)]
        if destination == "query-port" and self.query_port is None:
            destination = "group"
        if destination == "group":
            dst_mac, dst_ip, port = GROUP_MAC, frames.ip_bytes(MDNS_GROUP), MDNS_PORT
        else:
            dst_mac, dst_ip = self.pc_mac, self.pc_ip
            port = MDNS_PORT if destination == "unicast" else self.query_port
        for frame in frames.udp_frames(dst_mac, source_mac, frames.ip_bytes(source_ip), dst_ip, MDNS_PORT, port,
                                       payload, ident & 0xFFFF, ttl=255):
            try:
                raw.send(frame)
                self.frames += 1
                self.bytes += len(frame)
            except OSError:
                self.send_errors += 1
        self.sent[kind] += 1
        self.by_destination[destination] += 1

    def run(self, wait_for_query=30.0):
        # Protocol 0: the sending socket receives nothing, not even its own frames.
        raw = socket.socket(socket.AF_PACKET, socket.SOCK_RAW, 0)
        sniff = socket.socket(socket.AF_PACKET, socket.SOCK_RAW, socket.htons(ETH_P_ALL))
        try:
            raw.bind((self.interface, 0))
            sniff.bind((self.interface, ETH_P_ALL))
            sniff.setblocking(False)
            deadline = time.monotonic() + wait_for_query
            while self.pc_mac is None and time.monotonic() < deadline:
                select.select([sniff], [], [], 0.2)
                self.watch(sniff)
            if self.pc_mac is None:
                raise RuntimeError("no multicast DNS query of %s seen in %.0f s" % (
                    frames.ip_text(self.pc_ip), wait_for_query))
            self.log("PC %s (MAC %s, query port %s); sending %s for %.0f s" % (
                frames.ip_text(self.pc_ip), frames.format_mac(self.pc_mac), self.query_port,
                ", ".join("%s %g/s" % (k, self.rates[k]) for k in KINDS if self.rates[k] > 0), self.seconds))
            start = time.monotonic()
            ident = 0
            while True:
                elapsed = time.monotonic() - start
                if elapsed >= self.seconds:
                    break
                for kind in KINDS:
                    due = int(elapsed * self.rates[kind])
                    while self.sent[kind] < due:
                        self.send(raw, kind, ident)
                        ident += 1
                self.watch(sniff, 64)
                time.sleep(0.001)
            duration = time.monotonic() - start
        finally:
            raw.close()
            sniff.close()
        return {
            "pc": {"ip": frames.ip_text(self.pc_ip), "mac": frames.format_mac(self.pc_mac),
                   "query_ports": sorted(self.query_ports)},
            "seconds": round(duration, 3),
            "sent": dict(self.sent),
            "by_destination": dict(self.by_destination),
            "frames": self.frames,
            "bytes": self.bytes,
            "send_errors": self.send_errors,
            "off_subnet_addresses": self.plan.off_subnet_addresses(),
        }


def summary_line(result):
    return json.dumps(result, sort_keys=True)
