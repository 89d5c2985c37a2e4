"""Tests of the hostile flood's frames (tools/simulator/flood.py); no socket.

The flood benchmark counts on two things: the well-formed answers are ones
the program must list (the maker's description, the sender's own MAC) and
the garbage is what it must drop; and every frame goes from a made-up
sender inside the given range to the program's own port.
"""

import ipaddress
import os
import sys
import unittest

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools"))

from simulator import flood, frames, scenario  # noqa: E402

PC_MAC = bytes.fromhex("0a0000000010")
PC_IP = frames.ip_bytes("10.77.0.1")
PC_PORT = 50123


class FloodTests(unittest.TestCase):
    def test_the_target_is_learnt_from_a_request_only(self):
        request = frames.udp_frames(frames.BROADCAST_MAC, PC_MAC, PC_IP,
                                    frames.ip_bytes("10.77.255.255"), PC_PORT,
                                    scenario.DISCOVERY_PORT, scenario.REQUEST, 1)[0]
        self.assertEqual(flood.request_source(request), flood.Target(PC_MAC, PC_IP, PC_PORT))
        answer = frames.udp_frames(PC_MAC, bytes(6), frames.ip_bytes("10.77.0.2"), PC_IP,
                                   scenario.DISCOVERY_PORT, PC_PORT, b"IO-8\r\n", 1)[0]
        self.assertIsNone(flood.request_source(answer))
        self.assertIsNone(flood.request_source(b"\x00" * 10))

    def test_frames_go_from_spoofed_senders_to_the_program(self):
        plan = flood.FloodPlan("10.77.1.1", 3000, wellformed=0.5, seed=7)
        target = flood.Target(PC_MAC, PC_IP, PC_PORT)
        first = ipaddress.IPv4Address("10.77.1.1")
        macs = {}
        makers = 0
        for ident in range(2000):
            frame = plan.frames_to(target, ident)
            self.assertEqual(len(frame), 1, "a flood datagram fits one frame")
            udp = frames.parse_frame(frame[0])
            self.assertIsInstance(udp, frames.Udp)
            self.assertEqual((udp.dst_mac, udp.dst_ip, udp.dst_port), (PC_MAC, PC_IP, PC_PORT))
            self.assertEqual(udp.src_port, scenario.DISCOVERY_PORT)
            offset = int(ipaddress.IPv4Address(udp.src_ip)) - int(first)
            self.assertTrue(0 <= offset < 3000)
            self.assertEqual(macs.setdefault(udp.src_ip, udp.src_mac), udp.src_mac)
            lines = udp.payload.split(b"\r\n")
            maker = len(lines) > 2 and lines[2].startswith(b"Orvel ")
            makers += maker
            if maker:
                self.assertEqual(lines[1], frames.format_mac(udp.src_mac).encode())
        self.assertEqual(len(set(macs.values())), len(macs), "one MAC per sender")
        self.assertGreater(len(macs), 1000)
        self.assertEqual(plan.counts["wellformed"] + plan.counts["garbage"], 2000)
        self.assertEqual(makers, plan.counts["wellformed"], "garbage never passes for the maker's")
        self.assertTrue(800 < makers < 1200)

    def test_the_count_of_direct_requests_finds_the_busiest_span(self):
        requests = [(0.0, "a"), (0.5, "b"), (0.9, "a"), (1.0, "a"), (2.4, "a"), (2.6, "b")]
        for seconds, per_address, most in [(1.0, False, 3), (1.0, True, 2), (2.5, True, 4),
                                           (0.05, False, 1)]:
            self.assertEqual(flood.most_within(requests, seconds, per_address), most,
                             (seconds, per_address))

    def test_fresh_names_make_every_answer_new(self):
        plan = flood.FloodPlan("10.77.1.1", 1, wellformed=1.0, seed=1, fresh_names=True)
        names = {plan.next()[2].split(b"\r\n")[0] for _ in range(5)}
        self.assertEqual(len(names), 5)
        self.assertTrue(plan.is_sender(frames.ip_bytes("10.77.1.1")))
        self.assertFalse(plan.is_sender(frames.ip_bytes("10.77.1.2")))


if __name__ == "__main__":
    unittest.main()
