"""Tests of the device simulator's frames, scenarios and responses.

Everything here works on bytes and objects; no socket is opened. The
simulator's answers are what the end-to-end tests judge the product by, so
a wrong checksum or a misplaced line here would show up there as a product
fault.
"""

import json
import os
import struct
import sys
import tempfile
import unittest

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools"))

from simulator import engine, frames, scenario  # noqa: E402
from simulator.responder import Responder  # noqa: E402

SCENARIO_DIR = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools", "scenarios")

PC_MAC = bytes.fromhex("0a0000000010")
PC_IP = frames.ip_bytes("192.168.77.10")
PC_PORT = 50123


def request_frame(dst_ip="192.168.77.255", dst_mac=frames.BROADCAST_MAC, payload=scenario.REQUEST,
                  src_mac=PC_MAC, src_ip=PC_IP):
    return frames.udp_frames(dst_mac, src_mac, src_ip, frames.ip_bytes(dst_ip),
                             PC_PORT, scenario.DISCOVERY_PORT, payload, 1)[0]


def make_scenario(*devices, pc=("192.168.77.10/24",), **extra):
    data = {"pc": list(pc), "devices": list(devices)}
    data.update(extra)
    return scenario.Scenario(data)


def answers_of(outgoing):
    """(device id, parsed UDP answers, parsed ARP frames) for each Outgoing."""
    result = []
    for item in outgoing:
        parsed = [frames.parse_frame(f) for f in item.frames]
        result.append((item.device.id,
                       [p for p in parsed if isinstance(p, frames.Udp)],
                       [p for p in parsed if isinstance(p, frames.Arp)]))
    return result


class ChecksumAndFrameTests(unittest.TestCase):
    def test_internet_checksum_matches_the_published_example(self):
        # RFC 1071's worked example: the words sum to 0xDDF2, so the checksum is 0x220D.
        self.assertEqual(frames.internet_checksum(bytes.fromhex("0001f203f4f5f6f7")), 0x220D)
        self.assertEqual(frames.internet_checksum(bytes.fromhex("0001f203f4f5f6")),
                         frames.internet_checksum(bytes.fromhex("0001f203f4f5f600")))

    def test_udp_answer_carries_valid_ip_and_udp_checksums(self):
        src, dst = frames.ip_bytes("192.168.77.21"), PC_IP
        for payload in (b"", b"A", b"IO-8\r\n02-4F-56-00-10-21\r\nOrvel IO-8\r\n"):
            frame = frames.udp_frames(PC_MAC, bytes(6), src, dst, 30303, PC_PORT, payload, 77)[0]
            ip = frame[14:34]
            self.assertEqual(frames.internet_checksum(ip), 0, "IPv4 header checksum")
            segment = frame[34:]
            pseudo = src + dst + struct.pack("!BBH", 0, 17, len(segment))
            self.assertEqual(frames.internet_checksum(pseudo + segment), 0, "UDP checksum")
            self.assertNotEqual(struct.unpack_from("!H", segment, 6)[0], 0)
            self.assertEqual(struct.unpack_from("!H", ip, 2)[0], 20 + 8 + len(payload))
            self.assertEqual(struct.unpack_from("!H", ip, 4)[0], 77)

    def test_oversized_answer_is_fragmented_and_reassembles(self):
        payload = bytes(range(256)) * 8      # 2048 bytes, more than one frame holds
        src = frames.ip_bytes("192.168.77.21")
        out = frames.udp_frames(PC_MAC, bytes(6), src, PC_IP, 30303, PC_PORT, payload, 5)
        self.assertEqual(len(out), 2)
        pieces = {}
        for index, frame in enumerate(out):
            self.assertLessEqual(len(frame), 1514)
            ip = frame[14:]
            self.assertEqual(frames.internet_checksum(ip[:20]), 0)
            flags_offset = struct.unpack_from("!H", ip, 6)[0]
            self.assertEqual(bool(flags_offset & frames.IP_FLAG_MORE_FRAGMENTS), index == 0)
            self.assertEqual(struct.unpack_from("!H", ip, 4)[0], 5, "one id for all fragments")
            pieces[(flags_offset & frames.IP_OFFSET_MASK) * 8] = ip[20:]
        self.assertEqual(frames.parse_frame(out[0]), None, "a fragment is not a datagram")
        segment = b""
        for offset in sorted(pieces):
            self.assertEqual(offset, len(segment), "fragments must be contiguous")
            segment += pieces[offset]
        pseudo = src + PC_IP + struct.pack("!BBH", 0, 17, len(segment))
        self.assertEqual(frames.internet_checksum(pseudo + segment), 0)
        self.assertEqual(segment[8:], payload)

    def test_arp_frames_have_the_fields_a_kernel_checks(self):
        dev_mac, dev_ip = bytes.fromhex("024f56001021"), frames.ip_bytes("192.168.77.21")
        request = frames.parse_frame(frames.arp_request_frame(dev_mac, dev_ip, PC_IP))
        self.assertEqual((request.dst_mac, request.src_mac, request.op), (frames.BROADCAST_MAC, dev_mac, 1))
        self.assertEqual((request.sender_mac, request.sender_ip, request.target_ip), (dev_mac, dev_ip, PC_IP))
        reply = frames.parse_frame(frames.arp_reply_frame(dev_mac, dev_ip, PC_MAC, PC_IP))
        self.assertEqual((reply.dst_mac, reply.op, reply.target_mac, reply.target_ip), (PC_MAC, 2, PC_MAC, PC_IP))

    def test_parser_never_raises_on_cut_or_corrupted_frames(self):
        good = request_frame()
        self.assertIsInstance(frames.parse_frame(good), frames.Udp)
        for cut in range(len(good)):
            frames.parse_frame(good[:cut])
        for position in range(14, 42):
            for value in (0x00, 0xFF, 0x45):
                corrupted = bytearray(good)
                corrupted[position] = value
                frames.parse_frame(bytes(corrupted))
        arp = frames.arp_request_frame(bytes(6), PC_IP, PC_IP)
        for cut in range(len(arp)):
            frames.parse_frame(arp[:cut])

    def test_mac_text_forms(self):
        mac = frames.parse_mac("02:4f:56:00:10:2A")
        self.assertEqual(mac, bytes.fromhex("024f5600102a"))
        self.assertEqual(frames.format_mac(mac), "02-4F-56-00-10-2A")
        self.assertEqual(frames.format_mac(mac, ":", upper=False), "02:4f:56:00:10:2a")
        for bad in ("02-4F-56-00-10", "02-AC-ME-00-50-02", ""):
            with self.assertRaises(ValueError):
                frames.parse_mac(bad)


class PayloadTests(unittest.TestCase):
    BASE = {"ip": "192.168.77.21", "mac": "02-4F-56-00-10-21", "name": "IO-8 Hall"}

    def payload(self, **fields):
        return make_scenario(dict(self.BASE, **fields)).devices[0].payload

    def test_answer_lines_for_each_mac_and_port_form(self):
        cases = [
            ({}, b"IO-8 Hall\r\n02-4F-56-00-10-21\r\nOrvel IO-8\r\n"),
            ({"mac_line": "lower"}, b"IO-8 Hall\r\n02-4f-56-00-10-21\r\nOrvel IO-8\r\n"),
            ({"mac_line": "colons"}, b"IO-8 Hall\r\n02:4F:56:00:10:21\r\nOrvel IO-8\r\n"),
            ({"mac_line": "empty"}, b"IO-8 Hall\r\n\r\nOrvel IO-8\r\n"),
            ({"mac_line": "absent"}, b"IO-8 Hall\r\n\r\nOrvel IO-8\r\n"),
            ({"mac_line": "omit"}, b"IO-8 Hall\r\nOrvel IO-8\r\n"),
            ({"mac_text": "02-4F-56-00-99-99"}, b"IO-8 Hall\r\n02-4F-56-00-99-99\r\nOrvel IO-8\r\n"),
            ({"port": 8080}, b"IO-8 Hall\r\n02-4F-56-00-10-21\r\nOrvel IO-8\r\n8080\r\n"),
            ({"port": ""}, b"IO-8 Hall\r\n02-4F-56-00-10-21\r\nOrvel IO-8\r\n\r\n"),
            ({"port": 81, "trailing_crlf": False}, b"IO-8 Hall\r\n02-4F-56-00-10-21\r\nOrvel IO-8\r\n81"),
            ({"vendor": "Acme", "model": "Sensor 4"}, b"IO-8 Hall\r\n02-4F-56-00-10-21\r\nAcme Sensor 4\r\n"),
            ({"description": "Orvel"}, b"IO-8 Hall\r\n02-4F-56-00-10-21\r\nOrvel\r\n"),
            ({"extra_lines": ["x", "y"], "port": 80}, b"IO-8 Hall\r\n02-4F-56-00-10-21\r\nOrvel IO-8\r\n80\r\nx\r\ny\r\n"),
            ({"payload_hex": "00410d0a42"}, b"\x00A\r\nB"),
        ]
        for fields, expected in cases:
            with self.subTest(fields=fields):
                self.assertEqual(self.payload(**fields), expected)

    def test_payload_size_pads_or_cuts_exactly(self):
        for size in (2000, 1536, 1537, 10):
            with self.subTest(size=size):
                payload = self.payload(payload_size=size)
                self.assertEqual(len(payload), size)
                self.assertTrue(payload.startswith(b"IO-8 Hall"[:size]))

    def test_bad_fields_are_refused_with_a_scenario_error(self):
        for fields in ({"mac_line": "dots"}, {"hears": "all"}, {"colour": "red"},
                       {"mac": "nonsense"}, {"ip": "300.1.1.1"}, {"payload_hex": "zz"}):
            with self.subTest(fields=fields), self.assertRaises(scenario.ScenarioError):
                make_scenario(dict(self.BASE, **fields))


class ScenarioTests(unittest.TestCase):
    def test_range_gives_250_distinct_devices_on_one_subnet(self):
        s = make_scenario(pc=["192.168.77.1/24"],
                          range={"prefix": "192.168.77.", "from": 2, "count": 250, "name": "No {octet}"})
        self.assertEqual(len(s.devices), 250)
        self.assertEqual(len({d.ip for d in s.devices}), 250)
        self.assertEqual(len({d.mac for d in s.devices}), 250)
        self.assertEqual(len({d.id for d in s.devices}), 250)
        self.assertEqual((s.devices[0].ip_text, s.devices[-1].ip_text), ("192.168.77.2", "192.168.77.251"))
        self.assertEqual(s.devices[-1].name, "No 251")

    def test_range_past_the_last_octet_and_pc_address_clash_are_refused(self):
        with self.assertRaises(scenario.ScenarioError):
            make_scenario(range={"prefix": "192.168.77.", "from": 20, "count": 250})
        with self.assertRaises(scenario.ScenarioError):
            make_scenario({"ip": "192.168.77.10"})

    def test_repeated_ids_are_made_unique_and_find_accepts_ip_mac_and_all(self):
        s = make_scenario({"ip": "192.168.77.30", "mac": "02-00-00-00-00-01", "name": "Twin"},
                          {"ip": "192.168.77.30", "mac": "02-00-00-00-00-02", "name": "Twin"})
        self.assertEqual([d.id for d in s.devices], ["Twin", "Twin#2"])
        self.assertEqual(len(s.find("192.168.77.30")), 2)
        self.assertEqual([d.id for d in s.find("02:00:00:00:00:02")], ["Twin#2"])
        self.assertEqual(len(s.find("all")), 2)
        self.assertEqual(s.find("nobody"), [])

    def test_every_shipped_scenario_loads_and_names_its_pc_addresses(self):
        names = sorted(f for f in os.listdir(SCENARIO_DIR) if f.endswith(".json"))
        for required in ("same-subnet", "other-subnet", "link-local", "conflict", "other-vendor",
                         "multi-interface", "large", "demo"):
            self.assertIn(required + ".json", names)
        for name in names:
            with self.subTest(scenario=name):
                s = scenario.load(os.path.join(SCENARIO_DIR, name))
                self.assertTrue(s.pc)
                self.assertTrue(s.devices)


class ResponderTests(unittest.TestCase):
    def test_broadcast_request_gets_an_arp_request_then_the_answer_from_each_device(self):
        s = make_scenario({"id": "a", "ip": "192.168.77.21", "mac": "02-4F-56-00-10-21"},
                          {"id": "b", "ip": "10.20.30.40/8", "mac": "02-4F-56-00-10-22"})
        responder = Responder(s, 0.0)
        result = answers_of(responder.handle(request_frame(), 1.0))
        self.assertEqual([r[0] for r in result], ["a", "b"], "a device in another subnet answers too")
        for device, (_, udps, arps) in zip(s.devices, result):
            self.assertEqual(len(arps), 1)
            self.assertEqual((arps[0].op, arps[0].sender_mac, arps[0].sender_ip, arps[0].target_ip),
                             (1, device.mac, device.ip, PC_IP))
            self.assertEqual(len(udps), 1)
            udp = udps[0]
            self.assertEqual((udp.dst_mac, udp.src_mac), (PC_MAC, device.mac))
            self.assertEqual((udp.src_ip, udp.dst_ip, udp.src_port, udp.dst_port),
                             (device.ip, PC_IP, 30303, PC_PORT))
            self.assertEqual(udp.payload, device.payload)
        self.assertEqual(responder.counts["a"].by_source, {"192.168.77.10": 1})

    def test_who_hears_what(self):
        s = make_scenario({"id": "any", "ip": "192.168.77.21", "mac": "02-00-00-00-00-01"},
                          {"id": "own", "ip": "192.168.77.22", "mac": "02-00-00-00-00-02", "hears": "subnet"},
                          {"id": "ll", "ip": "169.254.7.20", "mac": "02-00-00-00-00-03", "hears": "subnet"})
        cases = [
            ("192.168.77.255", frames.BROADCAST_MAC, ["any", "own"]),
            ("255.255.255.255", frames.BROADCAST_MAC, ["any", "own", "ll"]),
            ("169.254.255.255", frames.BROADCAST_MAC, ["any", "ll"]),
            ("10.255.255.255", frames.BROADCAST_MAC, ["any"]),
            ("192.168.77.22", bytes.fromhex("020000000002"), ["own"]),
            ("192.168.77.22", bytes.fromhex("020000000001"), []),   # right IP, another MAC
            ("192.168.77.99", bytes.fromhex("0a0000000099"), []),
        ]
        for dst_ip, dst_mac, expected in cases:
            with self.subTest(dst=dst_ip):
                responder = Responder(s, 0.0)
                out = responder.handle(request_frame(dst_ip, dst_mac), 0.0)
                self.assertEqual([o.device.id for o in out], expected)
                self.assertEqual(responder.requests, 1 if expected else 0)

    def test_silent_device_counts_but_does_not_answer_until_resumed(self):
        s = make_scenario({"id": "quiet", "ip": "192.168.77.21", "silent": True},
                          {"id": "timed", "ip": "192.168.77.22", "silent_after_s": 5})
        responder = Responder(s, 100.0)
        self.assertEqual([o.device.id for o in responder.handle(request_frame(), 101.0)], ["timed"])
        self.assertEqual(responder.tick(104.0), 105.0)
        responder.tick(105.0)
        self.assertEqual(responder.handle(request_frame(), 106.0), [])
        self.assertEqual((responder.counts["quiet"].requests, responder.counts["timed"].requests), (2, 2))
        self.assertEqual(responder.set_silent("quiet", False), ["quiet"])
        self.assertEqual([o.device.id for o in responder.handle(request_frame(), 107.0)], ["quiet"])

    def test_arp_request_for_a_shared_address_is_answered_by_both_devices(self):
        s = make_scenario({"id": "left", "ip": "192.168.77.30", "mac": "02-00-00-00-00-01"},
                          {"id": "right", "ip": "192.168.77.30", "mac": "02-00-00-00-00-02"},
                          {"id": "mute", "ip": "192.168.77.31", "arp": False})
        responder = Responder(s, 0.0)
        ask = frames.arp_request_frame(PC_MAC, PC_IP, frames.ip_bytes("192.168.77.30"))
        replies = [frames.parse_frame(o.frames[0]) for o in responder.handle(ask, 0.0)]
        self.assertEqual([r.sender_mac for r in replies], [s.devices[0].mac, s.devices[1].mac])
        for reply in replies:
            self.assertEqual((reply.op, reply.dst_mac, reply.target_ip), (2, PC_MAC, PC_IP))
        ask_mute = frames.arp_request_frame(PC_MAC, PC_IP, frames.ip_bytes("192.168.77.31"))
        self.assertEqual(responder.handle(ask_mute, 0.0), [])

    def test_request_variants_answers_delay_and_foreign_datagrams(self):
        s = make_scenario({"id": "twice", "ip": "192.168.77.21", "answers": 2, "announce": False},
                          {"id": "late", "ip": "192.168.77.22", "delay_ms": 250})
        responder = Responder(s, 0.0)
        out = {o.device.id: o for o in responder.handle(request_frame(), 10.0)}
        self.assertEqual(len(answers_of([out["twice"]])[0][1]), 2)
        self.assertEqual(answers_of([out["twice"]])[0][2], [], "announce off: no ARP request")
        self.assertAlmostEqual(out["late"].due, 10.25)
        responder.sent(out["twice"])
        self.assertEqual(responder.counts["twice"].answers, 2)
        # Near misses of the request text are counted apart and never answered.
        for payload in (scenario.REQUEST + b"\x00", scenario.REQUEST[:-1], b""):
            self.assertEqual(responder.handle(request_frame(payload=payload), 11.0), [])
        self.assertEqual((responder.requests, responder.other_datagrams), (1, 3))
        # Frames from one of our own devices are never taken as requests.
        own = request_frame(src_mac=s.devices[0].mac)
        self.assertEqual(responder.handle(own, 12.0), [])


class ControlAndCountsTests(unittest.TestCase):
    def setUp(self):
        self.scenario = make_scenario({"id": "a", "ip": "192.168.77.21"},
                                      {"id": "b", "ip": "192.168.77.22"})
        self.directory = tempfile.TemporaryDirectory()
        self.counts_path = os.path.join(self.directory.name, "counts.json")
        self.engine = engine.Engine(self.scenario, "dev0", counts_path=self.counts_path)

    def tearDown(self):
        self.directory.cleanup()

    def test_commands_change_behaviour_and_counts_file_reflects_it(self):
        self.assertTrue(self.engine.command("silence a")["ok"])
        self.assertFalse(self.engine.command("silence nobody")["ok"])
        self.assertTrue(self.engine.command('set b description "Acme Box"')["ok"])
        self.assertFalse(self.engine.command("set b ip 192.168.77.99")["ok"])
        self.assertFalse(self.engine.command("frobnicate")["ok"])
        out = self.engine.responder.handle(request_frame(), 1.0)
        self.assertEqual([o.device.id for o in out], ["b"])
        self.assertIn(b"\r\nAcme Box\r\n", self.scenario.devices[1].payload)
        self.engine.write_counts(force=True)
        with open(self.counts_path, encoding="utf-8") as handle:
            counts = json.load(handle)
        self.assertEqual(counts["requests"], 1)
        self.assertEqual(counts["devices"]["a"]["requests"], 1)
        self.assertTrue(counts["devices"]["a"]["silent"])
        self.assertEqual(counts["devices"]["b"]["by_source"], {"192.168.77.10": 1})
        self.assertEqual(os.listdir(self.directory.name), ["counts.json"], "no temporary file left")
        self.assertTrue(self.engine.command("reset")["ok"])
        self.assertEqual(self.engine.command("counts")["requests"], 0)


    def test_loss_file_drops_each_devices_share_of_requests_on_its_own(self):
        devices = [{"id": "d%d" % i, "ip": "192.168.77.%d" % (20 + i)} for i in range(100)]
        loss_path = os.path.join(self.directory.name, "loss")
        sim = engine.Engine(make_scenario(*devices), "dev0", seed=7, loss_path=loss_path)
        for text, expected in (("20\n", 0.2), ("junk", 0.0), ("100", 1.0)):
            with open(loss_path, "w", encoding="ascii") as handle:
                handle.write(text)
            sim.loss_stamp = None
            sim.check_loss()
            self.assertEqual(sim.responder.loss, expected)
        sim.responder.loss = 0.2
        answered = [len(sim.responder.handle(request_frame(), 2.0 + i)) for i in range(20)]
        lost = sim.responder.lost_requests
        # 2000 device-requests at 20 %: far outside 300..500 only by a fault.
        self.assertTrue(300 < lost < 500, lost)
        self.assertEqual(sum(answered), 2000 - lost)
        self.assertGreater(len(set(answered)), 1, "each device loses on its own, not all at once")
        self.assertEqual(sum(sim.responder.counts[d].lost_requests for d in sim.responder.counts), lost)


if __name__ == "__main__":
    unittest.main()
