"""Multicast DNS messages by hand, for the responders of our own.

Just enough of the DNS wire format to read the questions of a query and to
write a response with answer and additional records. Names are written
without compression (python3-zeroconf, the other responder in the lab,
compresses), so the program's parser sees both forms. Pure functions over
bytes; nothing here opens a socket.
"""

import struct

TYPE_A, TYPE_PTR, TYPE_TXT, TYPE_SRV, TYPE_ANY = 1, 12, 16, 33, 255
CLASS_IN = 1
CACHE_FLUSH = 0x8000
QU_BIT = 0x8000
FLAGS_RESPONSE = 0x8400  # QR and AA
HOST_TTL = 120
OTHER_TTL = 4500
# Records in an answer to a one-shot query (source port not 5353) carry at
# most this TTL and no cache-flush bit (RFC 6762 6.7).
LEGACY_TTL = 10
ADDITIONALS = ("full", "a-only")


class WireError(ValueError):
    pass


def encode_name(name):
    out = b""
    for label in name.rstrip(".").split("."):
        data = label.encode("utf-8")
        if not 0 < len(data) < 64:
            raise WireError("bad label in %r" % name)
        out += bytes([len(data)]) + data
    return out + b"\0"


def read_name(packet, offset):
    """(name, offset after the name); follows compression pointers, no loops."""
    labels, end, jumps = [], None, 0
    while True:
        if offset >= len(packet):
            raise WireError("name runs past the packet")
        length = packet[offset]
        if length & 0xC0 == 0xC0:
            if offset + 1 >= len(packet) or jumps > 32:
                raise WireError("bad compression pointer")
            if end is None:
                end = offset + 2
            offset = ((length & 0x3F) << 8) | packet[offset + 1]
            jumps += 1
            continue
        if length & 0xC0:
            raise WireError("unknown label type")
        offset += 1
        if length == 0:
            return ".".join(labels) + ".", end if end is not None else offset
        if offset + length > len(packet):
            raise WireError("label runs past the packet")
        labels.append(packet[offset:offset + length].decode("utf-8", "replace"))
        offset += length


def parse_query(packet):
    """(id, [(name, type, qu)]) of a query; None for a response or a broken packet."""
    if len(packet) < 12:
        return None
    ident, flags, qdcount = struct.unpack("!HHH", packet[:6])
    if flags & 0x8000:
        return None
    questions, offset = [], 12
    try:
        for _ in range(qdcount):
            name, offset = read_name(packet, offset)
            if offset + 4 > len(packet):
                return None
            qtype, qclass = struct.unpack("!HH", packet[offset:offset + 4])
            offset += 4
            questions.append((name, qtype, bool(qclass & QU_BIT)))
    except WireError:
        return None
    return ident, questions


def record(name, rtype, ttl, rdata, unique=True):
    rclass = CLASS_IN | (CACHE_FLUSH if unique else 0)
    return encode_name(name) + struct.pack("!HHIH", rtype, rclass, ttl, len(rdata)) + rdata


def ptr_record(service_type, instance_name, ttl=OTHER_TTL):
    return record(service_type, TYPE_PTR, ttl, encode_name(instance_name), unique=False)


def srv_record(instance_name, port, server, ttl=HOST_TTL, unique=True):
    return record(instance_name, TYPE_SRV, ttl, struct.pack("!HHH", 0, 0, port) + encode_name(server), unique)


def txt_record(instance_name, txt_bytes, ttl=OTHER_TTL, unique=True):
    return record(instance_name, TYPE_TXT, ttl, txt_bytes or b"\0", unique)


def a_record(server, address_bytes, ttl=HOST_TTL, unique=True):
    return record(server, TYPE_A, ttl, address_bytes, unique)


def question(name, qtype):
    return encode_name(name) + struct.pack("!HH", qtype, CLASS_IN)


def query(questions, ident=0):
    """A query packet for [(name, type)]."""
    header = struct.pack("!HHHHHH", ident, 0, len(questions), 0, 0, 0)
    return header + b"".join(question(name, qtype) for name, qtype in questions)


def response(answers, additionals, ident=0, questions=()):
    """A response; questions (already encoded) are repeated only in a one-shot answer."""
    header = struct.pack("!HHHHHH", ident, FLAGS_RESPONSE, len(questions), len(answers), 0,
                         len(additionals))
    return header + b"".join(questions) + b"".join(answers) + b"".join(additionals)


class DeviceRecords:
    """The records one device answers with, and the response to a query.

    additionals "full": a PTR answer brings SRV, TXT and A along (RFC 6763
    12.1), so one packet is enough to list the device; "a-only": it brings
    only the A record of the SRV target, and the asker must query SRV and
    TXT itself (answered directly, like every question for our names).
    """

    def __init__(self, service_type, instance_name, server, port, txt_bytes, address_bytes,
                 additionals="full"):
        if additionals not in ADDITIONALS:
            raise ValueError("additionals must be one of %s" % ", ".join(ADDITIONALS))
        self.names = {"type": service_type.lower(), "instance": instance_name.lower(),
                      "server": server.lower()}
        self.records = {
            "ptr": ptr_record(service_type, instance_name),
            "srv": srv_record(instance_name, port, server),
            "txt": txt_record(instance_name, txt_bytes),
            "a": a_record(server, address_bytes),
        }
        self.legacy_records = {
            "ptr": ptr_record(service_type, instance_name, LEGACY_TTL),
            "srv": srv_record(instance_name, port, server, LEGACY_TTL, unique=False),
            "txt": txt_record(instance_name, txt_bytes, LEGACY_TTL, unique=False),
            "a": a_record(server, address_bytes, LEGACY_TTL, unique=False),
        }
        # What each answer brings along as additional records.
        self.extras = {"ptr": ["srv", "txt", "a"] if additionals == "full" else ["a"],
                       "srv": ["a"], "txt": [], "a": []}

    def wanted(self, name, qtype):
        """The records a question asks for."""
        name = name.lower()
        out = []
        if name == self.names["type"] and qtype in (TYPE_PTR, TYPE_ANY):
            out.append("ptr")
        if name == self.names["instance"]:
            if qtype in (TYPE_SRV, TYPE_ANY):
                out.append("srv")
            if qtype in (TYPE_TXT, TYPE_ANY):
                out.append("txt")
        if name == self.names["server"] and qtype in (TYPE_A, TYPE_ANY):
            out.append("a")
        return out

    def answer(self, questions, ident=0, legacy=False):
        """The response packet for a query's questions, or None when none is ours.

        legacy: the answer to a one-shot query (source port not 5353), sent
        back by unicast: the query's ID and questions repeated, short TTLs.
        """
        answers = []
        for name, qtype, _ in questions:
            for key in self.wanted(name, qtype):
                if key not in answers:
                    answers.append(key)
        if not answers:
            return None
        additionals = []
        for key in answers:
            for extra in self.extras[key]:
                if extra not in answers and extra not in additionals:
                    additionals.append(extra)
        if not legacy:
            return response([self.records[k] for k in answers], [self.records[k] for k in additionals])
        return response([self.legacy_records[k] for k in answers],
                        [self.legacy_records[k] for k in additionals], ident,
                        [question(name, qtype) for name, qtype, _ in questions])
