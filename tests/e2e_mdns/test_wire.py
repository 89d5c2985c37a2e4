"""Our responders' packets and the hostile ones of tools/flood-mdns, read back
by python3-zeroconf's parser.

The end-to-end tests judge the program by what these responders send, so
their queries are read as zeroconf writes them (compressed names, QU bit)
and their responses must parse, with the right records, in an independent
parser; so must the well-formed hostile packets. No socket is opened.
"""

import os
import sys
import unittest

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools"))

from mdns import hostile, wire  # noqa: E402
from mdns.scenario import SERVICE_TYPE, Scenario, ScenarioError  # noqa: E402
from zeroconf import DNSIncoming, DNSOutgoing, DNSQuestion  # noqa: E402
from zeroconf.const import _CLASS_IN, _FLAGS_QR_QUERY  # noqa: E402

INSTANCE = "X200 Stage." + SERVICE_TYPE
SERVER = "x200-stage.local."


def device_records(additionals="full"):
    device = Scenario({"mdns": [{"ip": "192.168.77.32", "host": "x200-stage", "instance": "X200 Stage",
                                 "port": 8080, "txt": ["model=X200", "vendor=Orvel"], "responder": "standard",
                                 "additionals": additionals}]}).devices[0]
    return wire.DeviceRecords(SERVICE_TYPE, device.instance_name, device.server, device.port,
                              device.txt_bytes(), device.interface.ip.packed, device.additionals)


def zeroconf_query(*questions):
    out = DNSOutgoing(_FLAGS_QR_QUERY)
    for name, qtype, unicast in questions:
        question = DNSQuestion(name, qtype, _CLASS_IN)
        question.unicast = unicast
        out.add_question(question)
    return out.packets()[0]


class ResponderTest(unittest.TestCase):
    def test_reads_zeroconf_queries(self):
        packet = zeroconf_query((SERVICE_TYPE, wire.TYPE_PTR, True), (INSTANCE, wire.TYPE_SRV, False))
        self.assertEqual(wire.parse_query(packet),
                         (0, [(SERVICE_TYPE, wire.TYPE_PTR, True), (INSTANCE, wire.TYPE_SRV, False)]))

    def test_ignores_responses_and_broken_queries(self):
        records = device_records()
        response = records.answer([(SERVICE_TYPE, wire.TYPE_PTR, False)])
        packet = zeroconf_query((SERVICE_TYPE, wire.TYPE_PTR, False))
        for broken in (response, packet[:14], packet[:12] + b"\xc0\x0c" + packet[14:]):
            self.assertIsNone(wire.parse_query(broken))

    def test_answers_parse_with_their_additionals(self):
        # (question, answer types in order, additional types in order)
        cases = [
            ((SERVICE_TYPE, wire.TYPE_PTR), [wire.TYPE_PTR], [wire.TYPE_SRV, wire.TYPE_TXT, wire.TYPE_A]),
            ((INSTANCE.upper(), wire.TYPE_SRV), [wire.TYPE_SRV], [wire.TYPE_A]),
            ((INSTANCE, wire.TYPE_TXT), [wire.TYPE_TXT], []),
            ((SERVER, wire.TYPE_A), [wire.TYPE_A], []),
            ((INSTANCE, wire.TYPE_ANY), [wire.TYPE_SRV, wire.TYPE_TXT], [wire.TYPE_A]),
        ]
        records = device_records()
        for (name, qtype), answers, additionals in cases:
            with self.subTest(name=name, qtype=qtype):
                packet = records.answer([(name, qtype, True)])
                incoming = DNSIncoming(packet)
                self.assertTrue(incoming.valid)
                self.assertEqual(incoming.flags, wire.FLAGS_RESPONSE)
                self.assertEqual(incoming.num_answers, len(answers))
                self.assertEqual([r.type for r in incoming.answers], answers + additionals)

    def test_record_contents(self):
        incoming = DNSIncoming(device_records().answer([(SERVICE_TYPE, wire.TYPE_PTR, False)]))
        ptr, srv, txt, a = incoming.answers
        self.assertEqual((ptr.name, ptr.alias, ptr.unique), (SERVICE_TYPE, INSTANCE, False))
        self.assertEqual((srv.name, srv.server, srv.port, srv.unique), (INSTANCE, SERVER, 8080, True))
        self.assertEqual(txt.text, b"\x0amodel=X200\x0cvendor=Orvel")
        self.assertEqual((a.name, a.address), (SERVER, bytes([192, 168, 77, 32])))

    def test_other_names_get_no_answer(self):
        self.assertIsNone(device_records().answer([("_other._tcp.local.", wire.TYPE_PTR, False),
                                                   (SERVER, wire.TYPE_SRV, False)]))

    def test_a_only_ptr_answer_carries_only_the_address(self):
        records = device_records("a-only")
        incoming = DNSIncoming(records.answer([(SERVICE_TYPE, wire.TYPE_PTR, False)]))
        self.assertEqual([(r.type, r.name) for r in incoming.answers],
                         [(wire.TYPE_PTR, SERVICE_TYPE), (wire.TYPE_A, SERVER)])
        # SRV and TXT are still answered when asked for.
        incoming = DNSIncoming(records.answer([(INSTANCE, wire.TYPE_SRV, False), (INSTANCE, wire.TYPE_TXT, False)]))
        self.assertEqual([r.type for r in incoming.answers], [wire.TYPE_SRV, wire.TYPE_TXT, wire.TYPE_A])

    def test_one_shot_answer_repeats_id_and_questions(self):
        packet = device_records().answer([(INSTANCE, wire.TYPE_SRV, False)], ident=0x4242, legacy=True)
        incoming = DNSIncoming(packet)
        self.assertTrue(incoming.valid)
        self.assertEqual(incoming.id, 0x4242)
        self.assertEqual([(q.name, q.type) for q in incoming.questions], [(INSTANCE, wire.TYPE_SRV)])
        self.assertEqual([(r.type, r.ttl, r.unique) for r in incoming.answers],
                         [(wire.TYPE_SRV, wire.LEGACY_TTL, False), (wire.TYPE_A, wire.LEGACY_TTL, False)])

    def test_scenario_delays_and_modes(self):
        scenario = Scenario({"delay_ms": [20, 120], "mdns": [
            {"ip": "192.168.77.40", "responder": "standard", "additionals": "a-only"},
            {"ip": "192.168.77.41", "delay_ms": 5},
            {"ip": "192.168.77.42", "responder": "silent"}]})
        self.assertEqual([d.delay_ms for d in scenario.devices], [(20, 120), (5, 5), (20, 120)])
        self.assertIsNone(scenario.devices[2].description())
        for bad in ({"ip": "192.168.77.40", "additionals": "a-only"},  # zeroconf cannot
                    {"ip": "192.168.77.40", "delay_ms": [120, 20]},
                    {"ip": "192.168.77.40", "responder": "other"}):
            with self.subTest(bad=bad), self.assertRaises(ScenarioError):
                Scenario({"mdns": [bad]})


class HostileTest(unittest.TestCase):
    TRIO = [("192.168.77.241", bytes(6)), ("192.168.77.242", bytes(6)), ("192.168.77.243", bytes(6))]

    def plan(self):
        return hostile.HostilePlan("192.168.77.0/24", ["192.168.77.%d" % i for i in range(130, 200)],
                                   self.TRIO, "192.168.77.250", seed=3)

    def test_well_formed_kinds_parse(self):
        plan = self.plan()
        for kind in ("txt", "names", "multi", "offsubnet"):
            for _ in range(6):
                source, _, payload = plan.next(kind)
                with self.subTest(kind=kind, source=source):
                    self.assertLessEqual(len(payload), hostile.DATAGRAM_LIMIT)
                    self.assertTrue(DNSIncoming(payload).valid)

    def test_txt_bomb_fills_one_datagram_with_empty_strings(self):
        for _ in range(2):
            _, _, payload = self.plan().next("txt")
            txt = [r for r in DNSIncoming(payload).answers if r.type == wire.TYPE_TXT][0]
            self.assertEqual(len(payload), hostile.DATAGRAM_LIMIT)
            self.assertGreater(txt.text.count(b"\0"), 8800)

    def test_multi_names_the_trio(self):
        source, mac, payload = self.plan().next("multi")
        incoming = DNSIncoming(payload)
        self.assertEqual((source, mac), self.TRIO[0])
        self.assertEqual(sorted(r.address for r in incoming.answers if r.type == wire.TYPE_A),
                         [bytes([192, 168, 77, n]) for n in (241, 242, 243)])
        self.assertEqual(sum(1 for r in incoming.answers if r.type == wire.TYPE_PTR), 3)

    def test_off_subnet_senders_are_outside_and_name_themselves_or_the_ghost(self):
        plan = self.plan()
        for _ in range(10):
            source, _, payload = plan.next("offsubnet")
            self.assertFalse(source.startswith("192.168.77."))
            (a,) = [r for r in DNSIncoming(payload).answers if r.type == wire.TYPE_A]
            self.assertIn(".".join(map(str, a.address)), (source, "192.168.77.250"))

    def test_malformed_packets_do_not_break_an_independent_parser(self):
        plan = self.plan()
        for _ in range(3 * len(hostile.MALFORMED)):
            _, _, payload = plan.next("malformed")
            DNSIncoming(payload)

    def test_rates(self):
        self.assertEqual(hostile.parse_rates("names=200")["names"], 200)
        self.assertEqual(hostile.parse_rates("")["txt"], hostile.DEFAULT_RATES["txt"])
        with self.assertRaises(ValueError):
            hostile.parse_rates("bombs=3")


if __name__ == "__main__":
    unittest.main()
