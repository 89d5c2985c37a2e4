"""Scenario files: which devices exist and how each one answers.

A scenario is a JSON object:

  {
    "about": "free text",
    "pc": ["192.168.77.10/24", "169.254.7.10/16"],    addresses the PC side needs
    "defaults": { device fields },                    applied to every device
    "devices": [ { device fields }, ... ],
    "range": { "prefix": "192.168.77.", "from": 2, "count": 250, device fields }
                                                      (or a list of such objects)
  }

Device fields (all optional except "ip"):
  id            key in the counts and for control commands (default: the name)
  ip            "a.b.c.d" or "a.b.c.d/len" (len: the device's own subnet, default
                /16 for 169.254.0.0/16, else /24; only "hears": "subnet" uses it)
  mac           hardware address, any of 00-11-.., 00:11:.., 0011..; default derived
  model         default "IO-8"
  vendor        default "Orvel"
  name          default "<model>-<last three MAC bytes>"
  description   default "<vendor> <model>"
  port          fourth line: a number, or a string sent verbatim ("" gives an empty
                fourth line); absent by default (no fourth line)
  mac_line      "real" (upper case, hyphens; default), "lower", "colons", "empty"
                (an empty second line), "absent" (same as "empty": the later lines
                keep their places), "omit" (no MAC line; the later lines move up)
  mac_text      literal second line, e.g. somebody else's MAC (overrides mac_line)
  extra_lines   further lines after the port line
  trailing_crlf end the last line with CR LF too (default true)
  payload_hex   the whole answer as hex bytes, instead of the lines
  payload_size  pad (with a filler line) or cut the answer to exactly this many bytes
  answers       datagrams per request (default 1)
  delay_ms      wait before answering (default 0)
  jitter_ms     plus a random extra delay up to this many milliseconds (default 0)
  silent        start silent: count requests, answer none (default false)
  silent_after_s  become silent this many seconds after start
  hears         "any": every L2 broadcast whatever its IP destination (default; a
                device in another subnet still answers); "subnet": only
                255.255.255.255 and its own subnet's broadcast; plus, in both
                modes, unicast to its own IP and MAC
  announce      send an ARP request for the requester's address before each
                answer, so the PC learns the device's MAC (default true)
  arp           answer ARP requests for its address (default true)
  ttl           IPv4 TTL of its answers (default 64)

In "range" objects, "prefix" + ("from" .. "from" + "count" - 1) gives the IP
addresses ("prefix_len" optionally their subnet length), and text fields
may use {n} (0-based index in the range), {octet} (last octet) and {ip}.
"""

import ipaddress
import json

from . import frames

DISCOVERY_PORT = 30303
REQUEST = b"Discovery: Who is out there ?"

MAC_LINE_MODES = ("real", "lower", "colons", "empty", "absent", "omit")
HEARS_MODES = ("any", "subnet")

DEVICE_FIELDS = {
    "id", "ip", "mac", "model", "vendor", "name", "description", "port", "mac_line",
    "mac_text", "extra_lines", "trailing_crlf", "payload_hex", "payload_size",
    "answers", "delay_ms", "jitter_ms", "silent", "silent_after_s", "hears",
    "announce", "arp", "ttl",
}
RANGE_FIELDS = {"prefix", "from", "count"}


class ScenarioError(ValueError):
    pass


def parse_device_address(text):
    """"a.b.c.d/len", or "a.b.c.d" with the usual length for its kind."""
    if "/" in text:
        return ipaddress.IPv4Interface(text)
    address = ipaddress.IPv4Address(text)
    prefix = 16 if address in ipaddress.IPv4Network("169.254.0.0/16") else 24
    return ipaddress.IPv4Interface("%s/%d" % (address, prefix))


class Device:
    """One simulated device, its settings and the answer it sends."""

    def __init__(self, fields, index):
        unknown = set(fields) - DEVICE_FIELDS
        if unknown:
            raise ScenarioError("unknown device field(s): %s" % ", ".join(sorted(unknown)))
        if "ip" not in fields:
            raise ScenarioError("device %d has no ip" % index)
        self.index = index
        self.settings = {}
        try:
            self.interface = parse_device_address(str(fields["ip"]))
        except ValueError as error:
            raise ScenarioError("device %d: %s" % (index, error)) from None
        self.ip = self.interface.ip.packed
        self.ip_text = str(self.interface.ip)
        self.subnet_broadcast = self.interface.network.broadcast_address.packed
        if "mac" in fields:
            try:
                self.mac = frames.parse_mac(fields["mac"])
            except ValueError as error:
                raise ScenarioError("device %s: %s" % (fields["ip"], error)) from None
        else:
            self.mac = bytes([0x02, 0x4F, 0x56, 0x00, (index >> 8) & 0xFF, index & 0xFF])
        self.model = str(fields.get("model", "IO-8"))
        self.vendor = str(fields.get("vendor", "Orvel"))
        self.name = str(fields.get("name", "%s-%s" % (self.model, self.mac[3:].hex().upper())))
        self.id = str(fields.get("id", self.name))
        self.ip_ident = (index * 7919) & 0xFFFF
        self.configure(fields)

    def configure(self, fields):
        """(Re)apply the behaviour fields; used at load time and by "set" at run time."""
        merged = dict(self.settings)
        merged.update(fields)
        mac_line = merged.get("mac_line", "real")
        if mac_line not in MAC_LINE_MODES:
            raise ScenarioError("%s: mac_line must be one of %s" % (self.id, ", ".join(MAC_LINE_MODES)))
        hears = merged.get("hears", "any")
        if hears not in HEARS_MODES:
            raise ScenarioError("%s: hears must be one of %s" % (self.id, ", ".join(HEARS_MODES)))
        answers = int(merged.get("answers", 1))
        if answers < 0:
            raise ScenarioError("%s: answers must not be negative" % self.id)
        if "payload_hex" in merged:
            try:
                bytes.fromhex(str(merged["payload_hex"]))
            except ValueError:
                raise ScenarioError("%s: payload_hex is not hex" % self.id) from None
        self.settings = merged
        self.name = str(merged.get("name", self.name))
        self.description = str(merged.get("description", "%s %s" % (self.vendor, self.model)))
        self.answers = answers
        self.delay = float(merged.get("delay_ms", 0)) / 1000.0
        self.jitter = float(merged.get("jitter_ms", 0)) / 1000.0
        self.hears = hears
        self.announce = bool(merged.get("announce", True))
        self.arp = bool(merged.get("arp", True))
        self.ttl = int(merged.get("ttl", 64))
        self.silent_after = merged.get("silent_after_s")
        self.payload = self.build_payload()

    def mac_line(self):
        if "mac_text" in self.settings:
            return str(self.settings["mac_text"])
        mode = self.settings.get("mac_line", "real")
        if mode == "real":
            return frames.format_mac(self.mac)
        if mode == "lower":
            return frames.format_mac(self.mac, "-", upper=False)
        if mode == "colons":
            return frames.format_mac(self.mac, ":")
        if mode == "omit":
            return None
        return ""

    def lines(self):
        lines = [self.name]
        mac_line = self.mac_line()
        if mac_line is not None:
            lines.append(mac_line)
        lines.append(self.description)
        if self.settings.get("port") is not None:
            lines.append(str(self.settings["port"]))
        lines.extend(str(line) for line in self.settings.get("extra_lines", []))
        return lines

    def build_payload(self):
        if "payload_hex" in self.settings:
            payload = bytes.fromhex(str(self.settings["payload_hex"]))
        else:
            text = "\r\n".join(self.lines())
            if self.settings.get("trailing_crlf", True):
                text += "\r\n"
            payload = text.encode("latin-1")
        size = self.settings.get("payload_size")
        if size is not None:
            size = int(size)
            if len(payload) < size:
                payload += b"X" * (size - len(payload))
            payload = payload[:size]
        return payload

    def next_ident(self):
        self.ip_ident = (self.ip_ident + 1) & 0xFFFF
        return self.ip_ident

    def hears_destination(self, dst_mac, dst_ip):
        """Whether this device takes a datagram sent to dst_mac / dst_ip."""
        if dst_mac == frames.BROADCAST_MAC:
            if self.hears == "any":
                return True
            return dst_ip in (b"\xff\xff\xff\xff", self.subnet_broadcast, self.ip)
        return dst_mac == self.mac and dst_ip == self.ip

    def describe(self):
        """The device as the PC should list it (for tests and the list command)."""
        return {
            "id": self.id,
            "ip": self.ip_text,
            "mac": frames.format_mac(self.mac),
            "name": self.name,
            "mac_line": self.mac_line(),
            "description": self.description,
            "port": None if self.settings.get("port") is None else str(self.settings["port"]),
            "payload_len": len(self.payload),
            "answers": self.answers,
            "hears": self.hears,
            "silent": bool(self.settings.get("silent", False)),
        }


def _format_fields(fields, n, ip):
    octet = ip.rsplit(".", 1)[1]
    out = {}
    for key, value in fields.items():
        if isinstance(value, str) and key not in ("payload_hex",):
            value = value.format(n=n, octet=octet, ip=ip)
        out[key] = value
    return out


def _expand_range(entry_range):
    missing = RANGE_FIELDS - set(entry_range)
    if missing:
        raise ScenarioError("range lacks %s" % ", ".join(sorted(missing)))
    prefix = str(entry_range["prefix"])
    if not prefix.endswith("."):
        prefix += "."
    first, count = int(entry_range["from"]), int(entry_range["count"])
    if first < 0 or count < 0 or first + count - 1 > 255:
        raise ScenarioError("range %s%d + %d runs past the last octet" % (prefix, first, count))
    fields = {k: v for k, v in entry_range.items() if k not in RANGE_FIELDS | {"prefix_len"}}
    if "ip" in fields:
        raise ScenarioError("a range gives the addresses itself: use prefix/from/count")
    entries = []
    for n in range(count):
        ip = "%s%d" % (prefix, first + n)
        entry = _format_fields(fields, n, ip)
        entry["ip"] = ip if "prefix_len" not in entry_range else "%s/%d" % (ip, int(entry_range["prefix_len"]))
        entries.append(entry)
    return entries


class Scenario:
    def __init__(self, data, source="<scenario>"):
        if not isinstance(data, dict):
            raise ScenarioError("%s: a scenario is a JSON object" % source)
        self.source = source
        self.about = data.get("about", "")
        self.pc = [str(ipaddress.IPv4Interface(a)) for a in data.get("pc", [])]
        defaults = data.get("defaults", {})
        entries = [dict(defaults, **entry) for entry in data.get("devices", [])]
        ranges = data.get("range", [])
        if isinstance(ranges, dict):
            ranges = [ranges]
        for entry_range in ranges:
            entries.extend(dict(defaults, **entry) for entry in _expand_range(entry_range))
        self.devices = [Device(entry, index + 1) for index, entry in enumerate(entries)]
        self._check()

    def _check(self):
        pc_ips = {str(ipaddress.IPv4Interface(a).ip) for a in self.pc}
        seen_ids = {}
        for device in self.devices:
            if device.ip_text in pc_ips:
                raise ScenarioError("device %s uses the PC address %s" % (device.id, device.ip_text))
            if device.mac == frames.BROADCAST_MAC or device.mac[0] & 1:
                raise ScenarioError("device %s has a group MAC address" % device.id)
            base = device.id
            if base in seen_ids:
                seen_ids[base] += 1
                device.id = "%s#%d" % (base, seen_ids[base])
            else:
                seen_ids[base] = 1

    def find(self, key):
        """Devices named by id, IP text, MAC text or "all"."""
        if key == "all":
            return list(self.devices)
        try:
            mac = frames.parse_mac(key)
        except ValueError:
            mac = None
        return [d for d in self.devices if key in (d.id, d.ip_text) or d.mac == mac]


def load(path):
    with open(path, encoding="utf-8") as handle:
        try:
            data = json.load(handle)
        except json.JSONDecodeError as error:
            raise ScenarioError("%s: %s" % (path, error)) from None
    return Scenario(data, path)
