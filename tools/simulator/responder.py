"""What the simulated devices do with each frame they see.

The responder holds no socket: it takes one received frame and the current
time and returns the frames to send and when, and keeps the counts. The
engine does the I/O; tests drive the responder directly.
"""

import random
from collections import deque, namedtuple

from . import frames
from .scenario import DISCOVERY_PORT, REQUEST

# kind: "arp" (a reply to an ARP request) or "answer" (announce + discovery answers)
Outgoing = namedtuple("Outgoing", "due device kind frames answers")


class DeviceCounts:
    def __init__(self):
        self.requests = 0
        self.answers = 0
        self.other_datagrams = 0
        self.arp_replies = 0
        self.lost_requests = 0
        self.by_source = {}

    def as_dict(self):
        return {
            "requests": self.requests,
            "answers": self.answers,
            "other_datagrams": self.other_datagrams,
            "arp_replies": self.arp_replies,
            "lost_requests": self.lost_requests,
            "by_source": dict(self.by_source),
        }


class Responder:
    def __init__(self, scenario, start_time, seed=None):
        self.scenario = scenario
        self.start_time = start_time
        self.random = random.Random(seed)
        # Share of the IPv4 frames each device loses on its way in (0..1),
        # each device and frame on its own, as on a lossy link.
        self.loss = 0.0
        self.by_ip = {}
        self.by_mac = {}
        for device in scenario.devices:
            self.by_ip.setdefault(device.ip, []).append(device)
            self.by_mac.setdefault(device.mac, []).append(device)
            device.silenced = bool(device.settings.get("silent", False))
            device.silence_pending = device.silent_after is not None
        self.reset_counts()

    def reset_counts(self):
        self.counts = {device.id: DeviceCounts() for device in self.scenario.devices}
        self.requests = 0
        self.other_datagrams = 0
        self.arp_requests = 0
        self.lost_requests = 0
        self.last_request = None
        self.recent_requests = deque(maxlen=32)
        self.changed = True

    # ---- time and control ---------------------------------------------------

    def tick(self, now):
        """Apply timed silences; returns the time of the next one, or None."""
        next_due = None
        for device in self.scenario.devices:
            if not device.silence_pending:
                continue
            due = self.start_time + float(device.silent_after)
            if now >= due:
                device.silenced = True
                device.silence_pending = False
                self.changed = True
            elif next_due is None or due < next_due:
                next_due = due
        return next_due

    def set_silent(self, key, silent):
        devices = self.scenario.find(key)
        for device in devices:
            device.silenced = silent
            device.silence_pending = False
        self.changed = True
        return [device.id for device in devices]

    # ---- frames ---------------------------------------------------------------

    def handle(self, frame, now):
        """The frames to send in response to one received frame."""
        parsed = frames.parse_frame(frame)
        if parsed is None or parsed.src_mac in self.by_mac:
            return []
        if isinstance(parsed, frames.Arp):
            return self._handle_arp(parsed, now)
        if parsed.dst_port == DISCOVERY_PORT:
            return self._handle_datagram(parsed, now)
        return []

    def _handle_arp(self, arp, now):
        if arp.op != frames.ARP_REQUEST:
            return []
        out = []
        for device in self.by_ip.get(arp.target_ip, ()):
            if not device.arp:
                continue
            self.counts[device.id].arp_replies += 1
            self.arp_requests += 1
            self.changed = True
            reply = frames.arp_reply_frame(device.mac, device.ip, arp.sender_mac, arp.sender_ip)
            out.append(Outgoing(now, device, "arp", [reply], 0))
        return out

    def _handle_datagram(self, udp, now):
        if udp.dst_mac == frames.BROADCAST_MAC:
            candidates = self.scenario.devices
        else:
            candidates = self.by_mac.get(udp.dst_mac, ())
        hearers = [d for d in candidates if d.hears_destination(udp.dst_mac, udp.dst_ip)]
        if self.loss > 0.0:
            hearers = [d for d in hearers if not self._lost(d)]
        if not hearers:
            return []
        self.changed = True
        if udp.payload != REQUEST:
            self.other_datagrams += 1
            for device in hearers:
                self.counts[device.id].other_datagrams += 1
            return []
        self.requests += 1
        source = frames.ip_text(udp.src_ip)
        self.last_request = {"time": now, "source": source, "port": udp.src_port,
                             "destination": frames.ip_text(udp.dst_ip)}
        self.recent_requests.append(self.last_request)
        out = []
        for device in hearers:
            counts = self.counts[device.id]
            counts.requests += 1
            counts.by_source[source] = counts.by_source.get(source, 0) + 1
            if device.silenced or device.answers == 0:
                continue
            due = now + device.delay
            if device.jitter:
                due += self.random.uniform(0.0, device.jitter)
            out.append(Outgoing(due, device, "answer",
                                self._answer_frames(device, udp), device.answers))
        return out

    def _lost(self, device):
        if self.random.random() >= self.loss:
            return False
        self.counts[device.id].lost_requests += 1
        self.lost_requests += 1
        self.changed = True
        return True

    def _answer_frames(self, device, request):
        out = []
        if device.announce:
            # A real device resolves the requester before it can answer, and the
            # PC records the device's MAC from that request.
            out.append(frames.arp_request_frame(device.mac, device.ip, request.src_ip))
        for _ in range(device.answers):
            out.extend(frames.udp_frames(request.src_mac, device.mac, device.ip, request.src_ip,
                                         DISCOVERY_PORT, request.src_port, device.payload,
                                         device.next_ident(), device.ttl))
        return out

    def sent(self, outgoing):
        """The engine reports an Outgoing as sent."""
        if outgoing.kind == "answer":
            self.counts[outgoing.device.id].answers += outgoing.answers
            self.changed = True

    # ---- reporting --------------------------------------------------------------

    def snapshot(self, now, extra=None):
        devices = {}
        for device in self.scenario.devices:
            entry = self.counts[device.id].as_dict()
            entry.update(ip=device.ip_text, mac=frames.format_mac(device.mac),
                         silent=device.silenced)
            devices[device.id] = entry
        data = {
            "scenario": self.scenario.source,
            "uptime": round(now - self.start_time, 3),
            "requests": self.requests,
            "other_datagrams": self.other_datagrams,
            "arp_requests": self.arp_requests,
            "lost_requests": self.lost_requests,
            "loss": self.loss,
            "answers": sum(c.answers for c in self.counts.values()),
            "last_request": self.last_request,
            # CLOCK_MONOTONIC seconds: comparable with time.monotonic() of any process here.
            "recent_requests": list(self.recent_requests),
            "devices": devices,
        }
        if extra:
            data.update(extra)
        return data
