"""Scenario files for the multicast DNS devices (tools/mdns-devices).

A scenario is a JSON object; the key "mdns" lists the devices, so the same
file may also carry broadcast devices for tools/simulate under "devices":

  {
    "about": "free text",
    "pc": ["192.168.77.10/24", ...],  the PC's addresses, pc0, pc1, ... in order
    "split_lans": false,               true: every PC interface gets a LAN of its
                                       own and each device joins the LAN of the
                                       PC interface whose subnet holds its address
    "mdns": [ { device fields }, ...]
  }

Device fields (all optional except "ip"; an entry with "prefix", "from" and
"count" instead of "ip" stands for that many devices, and its text fields
may use {n} (index in the range) and {octet} (last octet of the address)):
  ip         "a.b.c.d" or "a.b.c.d/len" (default /24)
  mac        the device's hardware address (default 02-4F-56-6D-<3rd>-<4th octet>)
  host       host name without ".local" (default "orvel-<octet>")
  instance   service instance label (default: the host name)
  port       SRV port (default 80)
  txt        TXT strings in order (default vendor=Orvel, model=X200,
             firmware_version=1.4)
  responder  "zeroconf" (python3-zeroconf, the default) or "multicast" (a
             responder of our own that answers only by multicast to
             224.0.0.251:5353, whatever the query's QU bit and source port)
  broadcast  true or an object of tools/simulate device fields: the broadcast
             simulator also runs for this device, with its address and MAC,
             name = host name, description "<vendor> <model> - v<firmware>"
  id         key in logs and state (default: the host name)
"""

import ipaddress
import json

SERVICE_TYPE = "_lumarisnet._tcp.local."
DEFAULT_TXT = ["vendor=Orvel", "model=X200", "firmware_version=1.4"]
RESPONDERS = ("zeroconf", "multicast")
FIELDS = {"id", "ip", "mac", "host", "instance", "port", "txt", "responder", "broadcast"}
RANGE_FIELDS = {"prefix", "from", "count"}


class ScenarioError(ValueError):
    pass


def parse_mac(text):
    digits = "".join(ch for ch in str(text) if ch not in "-:. ")
    if len(digits) != 12:
        raise ScenarioError("not a MAC address: %r" % (text,))
    try:
        mac = bytes.fromhex(digits)
    except ValueError:
        raise ScenarioError("not a MAC address: %r" % (text,)) from None
    if mac[0] & 1:
        raise ScenarioError("%s is a group address" % text)
    return mac


def format_mac(mac, separator="-"):
    return separator.join("%02X" % b for b in mac)


def txt_values(strings):
    """The key values the program reads, last one winning (keys are case-sensitive)."""
    values = {}
    for text in strings:
        for key in ("vendor=", "model=", "firmware_version="):
            if text.startswith(key):
                values[key[:-1]] = text[len(key):]
                break
    return values


class Device:
    def __init__(self, fields, index):
        unknown = set(fields) - FIELDS
        if unknown:
            raise ScenarioError("unknown mdns device field(s): %s" % ", ".join(sorted(unknown)))
        if "ip" not in fields:
            raise ScenarioError("mdns device %d has no ip" % index)
        text = str(fields["ip"])
        try:
            self.interface = ipaddress.IPv4Interface(text if "/" in text else text + "/24")
        except ValueError as error:
            raise ScenarioError("mdns device %d: %s" % (index, error)) from None
        self.ip = str(self.interface.ip)
        octets = self.interface.ip.packed
        self.mac = parse_mac(fields.get("mac", "02-4F-56-6D-%02X-%02X" % (octets[2], octets[3])))
        self.host = str(fields.get("host", "orvel-%d" % octets[3]))
        self.instance = str(fields.get("instance", self.host))
        self.port = int(fields.get("port", 80))
        self.txt = [str(t) for t in fields.get("txt", DEFAULT_TXT)]
        if any(len(t.encode("utf-8")) > 255 for t in self.txt):
            raise ScenarioError("%s: a TXT string is longer than 255 bytes" % self.host)
        self.responder = str(fields.get("responder", "zeroconf"))
        if self.responder not in RESPONDERS:
            raise ScenarioError("%s: responder must be one of %s" % (self.host, ", ".join(RESPONDERS)))
        broadcast = fields.get("broadcast", False)
        self.broadcast = dict(broadcast) if isinstance(broadcast, dict) else ({} if broadcast else None)
        self.id = str(fields.get("id", self.host))
        self.index = index

    @property
    def instance_name(self):
        return "%s.%s" % (self.instance, SERVICE_TYPE)

    @property
    def server(self):
        return "%s.local." % self.host

    def txt_bytes(self):
        out = b""
        for text in self.txt:
            data = text.encode("utf-8")
            out += bytes([len(data)]) + data
        return out

    def description(self):
        """What the program shows for this device, or None when it must not list it."""
        values = txt_values(self.txt)
        vendor = values.get("vendor")
        if vendor is None or vendor.lower() != "orvel":
            return None
        text = vendor
        if values.get("model"):
            text += " " + values["model"]
        if values.get("firmware_version"):
            text += " - v" + values["firmware_version"]
        return text

    def simulator_device(self):
        """The broadcast simulator's entry for this device (same address and MAC)."""
        entry = {"id": self.id, "ip": str(self.interface), "mac": format_mac(self.mac),
                 "name": self.host, "description": self.description() or "Orvel X200",
                 # The device's own kernel answers ARP for its address.
                 "arp": False}
        entry.update(self.broadcast)
        return entry

    def describe(self):
        return {"id": self.id, "ip": self.ip, "mac": format_mac(self.mac), "host": self.host,
                "instance": self.instance, "port": self.port, "txt": self.txt,
                "responder": self.responder, "broadcast": self.broadcast is not None,
                "listed_as": self.description()}


def _expand(entry):
    missing = RANGE_FIELDS - set(entry)
    if missing:
        raise ScenarioError("range lacks %s" % ", ".join(sorted(missing)))
    prefix = str(entry["prefix"])
    prefix = prefix if prefix.endswith(".") else prefix + "."
    first, count = int(entry["from"]), int(entry["count"])
    if first < 1 or count < 0 or first + count - 1 > 254:
        raise ScenarioError("range %s%d + %d leaves 1..254" % (prefix, first, count))
    out = []
    for n in range(count):
        octet = first + n
        fields = {}
        for key, value in entry.items():
            if key in RANGE_FIELDS or key == "prefix_len":
                continue
            if isinstance(value, str):
                value = value.format(n=n, octet=octet)
            fields[key] = value
        fields["ip"] = "%s%d/%d" % (prefix, octet, int(entry.get("prefix_len", 24)))
        out.append(fields)
    return out


class Scenario:
    def __init__(self, data, source="<scenario>"):
        if not isinstance(data, dict):
            raise ScenarioError("%s: a scenario is a JSON object" % source)
        self.source = source
        self.pc = [ipaddress.IPv4Interface(a) for a in data.get("pc", [])]
        self.split_lans = bool(data.get("split_lans", False))
        entries = []
        for entry in data.get("mdns", []):
            entries.extend(_expand(entry) if "prefix" in entry else [entry])
        self.devices = [Device(entry, i + 1) for i, entry in enumerate(entries)]
        seen = {}
        for device in self.devices:
            for key, value in (("address", device.ip), ("MAC", device.mac),
                               ("instance", device.instance_name.lower())):
                if (key, value) in seen:
                    raise ScenarioError("%s and %s share one %s" % (seen[(key, value)], device.id, key))
                seen[(key, value)] = device.id
            if any(device.interface.ip == pc.ip for pc in self.pc):
                raise ScenarioError("%s uses a PC address" % device.id)

    def lan_of(self, device):
        """Index of the PC interface whose LAN the device joins."""
        if not self.split_lans:
            return 0
        for index, pc in enumerate(self.pc):
            if device.interface.ip in pc.network:
                return index
        return 0


def load(path):
    with open(path, encoding="utf-8") as handle:
        try:
            data = json.load(handle)
        except json.JSONDecodeError as error:
            raise ScenarioError("%s: %s" % (path, error)) from None
    return Scenario(data, path)
