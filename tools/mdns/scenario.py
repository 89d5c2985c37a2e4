"""Scenario files for the multicast DNS devices (tools/mdns-devices).

A scenario is a JSON object; the key "mdns" lists the devices, so the same
file may also carry broadcast devices for tools/simulate under "devices":

  {
    "about": "free text",
    "pc": ["192.168.77.10/24", ...],  the PC's addresses, pc0, pc1, ... in order
    "split_lans": false,               true: every PC interface gets a LAN of its
                                       own and each device joins the LAN of the
                                       PC interface whose subnet holds its address
    "delay_ms": [20, 120],             default reply delay of every device (below)
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
  responder  "zeroconf" (python3-zeroconf, the default), "multicast" (a
             responder of our own that answers only by multicast to
             224.0.0.251:5353, whatever the query's QU bit and source port),
             "standard" (ours, answering as ordinary responders do: a
             one-shot query, from a port other than 5353, by unicast to the
             asker's address and port with its ID and questions repeated; a
             QU question by unicast to the asker's port 5353; others by
             multicast) or "silent" (no responder: the namespace only, whose
             kernel answers ARP, for a device that others speak for)
  additionals  "full" (default): a PTR answer carries SRV, TXT and A as
             additional records; "a-only": only the A record of the SRV
             target, so the asker must query SRV and TXT itself (our own
             responders only)
  delay_ms   [low, high] or one number: each answer waits a random time in
             that range (milliseconds) before it is sent, as real responders
             do (default [0, 0]: at once; a top-level "delay_ms" is the
             default for every device). python3-zeroconf already delays its
             multicast answers to shared records by 20-120 ms; the delay is
             added to its unicast answers.
  broadcast  true or an object of tools/simulate device fields: the broadcast
             simulator also runs for this device, with its address and MAC,
             name = host name, description "<vendor> <model> - v<firmware>"
  own_mac    the device sits behind a bridge that rewrites MACs (proxy ARP,
             a Wi-Fi extender as a repeater): "mac" is then the bridge's,
             which every frame of the device and its ARP answers carry (the
             devices behind one bridge share it), and own_mac the device's
             own, which its broadcast reply names
  id         key in logs and state (default: the host name)
"""

import ipaddress
import json

SERVICE_TYPE = "_lumarisnet._tcp.local."
DEFAULT_TXT = ["vendor=Orvel", "model=X200", "firmware_version=1.4"]
RESPONDERS = ("zeroconf", "multicast", "standard", "silent")
ADDITIONALS = ("full", "a-only")
FIELDS = {"id", "ip", "mac", "host", "instance", "port", "txt", "responder", "broadcast", "additionals",
          "delay_ms", "own_mac"}
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


def parse_delay(value, where):
    """(low, high) milliseconds from [low, high] or one number."""
    try:
        low, high = (value, value) if isinstance(value, (int, float)) else (value[0], value[1])
        low, high = float(low), float(high)
        if isinstance(value, (list, tuple)) and len(value) != 2:
            raise ValueError
    except (TypeError, ValueError, IndexError, KeyError):
        raise ScenarioError("%s: delay_ms must be [low, high] or a number" % where) from None
    if not 0 <= low <= high <= 10000:
        raise ScenarioError("%s: delay_ms must hold 0 <= low <= high <= 10000" % where)
    return low, high


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
    def __init__(self, fields, index, delay_ms=(0.0, 0.0)):
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
        self.own_mac = parse_mac(fields["own_mac"]) if "own_mac" in fields else None
        self.host = str(fields.get("host", "orvel-%d" % octets[3]))
        self.instance = str(fields.get("instance", self.host))
        self.port = int(fields.get("port", 80))
        self.txt = [str(t) for t in fields.get("txt", DEFAULT_TXT)]
        if any(len(t.encode("utf-8")) > 255 for t in self.txt):
            raise ScenarioError("%s: a TXT string is longer than 255 bytes" % self.host)
        self.responder = str(fields.get("responder", "zeroconf"))
        if self.responder not in RESPONDERS:
            raise ScenarioError("%s: responder must be one of %s" % (self.host, ", ".join(RESPONDERS)))
        self.additionals = str(fields.get("additionals", "full"))
        if self.additionals not in ADDITIONALS:
            raise ScenarioError("%s: additionals must be one of %s" % (self.host, ", ".join(ADDITIONALS)))
        if self.additionals != "full" and self.responder not in ("multicast", "standard"):
            raise ScenarioError("%s: additionals %s needs a responder of our own" % (self.host, self.additionals))
        self.delay_ms = parse_delay(fields["delay_ms"], self.host) if "delay_ms" in fields else delay_ms
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
        if self.responder == "silent":
            return None
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
        if self.own_mac is not None:
            entry["mac_text"] = format_mac(self.own_mac)
        entry.update(self.broadcast)
        return entry

    def describe(self):
        return {"id": self.id, "ip": self.ip, "mac": format_mac(self.mac), "host": self.host,
                "instance": self.instance, "port": self.port, "txt": self.txt,
                "responder": self.responder, "broadcast": self.broadcast is not None,
                "additionals": self.additionals, "delay_ms": list(self.delay_ms),
                "own_mac": format_mac(self.own_mac) if self.own_mac is not None else None,
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
        delay_ms = parse_delay(data["delay_ms"], source) if "delay_ms" in data else (0.0, 0.0)
        entries = []
        for entry in data.get("mdns", []):
            entries.extend(_expand(entry) if "prefix" in entry else [entry])
        self.devices = [Device(entry, i + 1, delay_ms) for i, entry in enumerate(entries)]
        seen = {}
        for device in self.devices:
            # Devices behind one bridge share its MAC; their own stay apart.
            mac = device.mac if device.own_mac is None else device.own_mac
            for key, value in (("address", device.ip), ("MAC", mac),
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
