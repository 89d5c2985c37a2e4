"""The multicast-only responder's packets, read back by python3-zeroconf's parser.

The end-to-end tests judge the program by what this responder sends, so its
queries are read as zeroconf writes them (compressed names, QU bit) and its
responses must parse, with the right records, in an independent parser.
No socket is opened.
"""

import os
import sys
import unittest

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools"))

from mdns import wire  # noqa: E402
from mdns.scenario import SERVICE_TYPE, Scenario  # noqa: E402
from zeroconf import DNSIncoming, DNSOutgoing, DNSQuestion  # noqa: E402
from zeroconf.const import _CLASS_IN, _FLAGS_QR_QUERY  # noqa: E402

INSTANCE = "X200 Stage." + SERVICE_TYPE
SERVER = "x200-stage.local."


def device_records():
    device = Scenario({"mdns": [{"ip": "192.168.77.32", "host": "x200-stage", "instance": "X200 Stage",
                                 "port": 8080, "txt": ["model=X200", "vendor=Orvel"]}]}).devices[0]
    return wire.DeviceRecords(SERVICE_TYPE, device.instance_name, device.server, device.port,
                              device.txt_bytes(), device.interface.ip.packed)


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


if __name__ == "__main__":
    unittest.main()
