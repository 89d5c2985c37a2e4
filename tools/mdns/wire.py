"""Multicast DNS messages by hand, for the responder of our own.

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


def ptr_record(service_type, instance_name):
    return record(service_type, TYPE_PTR, OTHER_TTL, encode_name(instance_name), unique=False)


def srv_record(instance_name, port, server):
    return record(instance_name, TYPE_SRV, HOST_TTL, struct.pack("!HHH", 0, 0, port) + encode_name(server))


def txt_record(instance_name, txt_bytes):
    return record(instance_name, TYPE_TXT, OTHER_TTL, txt_bytes or b"\0")


def a_record(server, address_bytes):
    return record(server, TYPE_A, HOST_TTL, address_bytes)


def response(answers, additionals):
    header = struct.pack("!HHHHHH", 0, FLAGS_RESPONSE, 0, len(answers), 0, len(additionals))
    return header + b"".join(answers) + b"".join(additionals)


class DeviceRecords:
    """The records one device answers with, and the response to a query."""

    def __init__(self, service_type, instance_name, server, port, txt_bytes, address_bytes):
        self.names = {"type": service_type.lower(), "instance": instance_name.lower(),
                      "server": server.lower()}
        self.records = {
            "ptr": ptr_record(service_type, instance_name),
            "srv": srv_record(instance_name, port, server),
            "txt": txt_record(instance_name, txt_bytes),
            "a": a_record(server, address_bytes),
        }
        # What each answer brings along as additional records (RFC 6763 12).
        self.extras = {"ptr": ["srv", "txt", "a"], "srv": ["a"], "txt": [], "a": []}

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

    def answer(self, questions):
        """The response packet for a query's questions, or None when none is ours."""
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
        return response([self.records[k] for k in answers], [self.records[k] for k in additionals])
