"""Ethernet, ARP, IPv4 and UDP frames built and taken apart by hand.

The simulated devices talk to the lab's LAN through a raw packet socket, so
every byte on the wire comes from here: addresses, checksums and, for
answers longer than one Ethernet frame can carry, IPv4 fragments.
Pure functions over bytes; nothing here opens a socket.
"""

import ipaddress
import struct
from collections import namedtuple

ETH_P_IP = 0x0800
ETH_P_ARP = 0x0806
ETH_HEADER_LEN = 14
BROADCAST_MAC = b"\xff" * 6
ZERO_MAC = b"\x00" * 6

ARP_REQUEST = 1
ARP_REPLY = 2

IPPROTO_UDP = 17
IP_FLAG_MORE_FRAGMENTS = 0x2000
IP_FLAG_DONT_FRAGMENT = 0x4000
IP_OFFSET_MASK = 0x1FFF

DEFAULT_MTU = 1500


# ---- addresses ------------------------------------------------------------

def parse_mac(text):
    """Six bytes from "00-11-22-aa-bb-cc", "00:11:..." or "001122aabbcc"."""
    digits = "".join(ch for ch in str(text) if ch not in "-:. ")
    if len(digits) != 12 or any(ch not in "0123456789abcdefABCDEF" for ch in digits):
        raise ValueError("not a MAC address: %r" % (text,))
    return bytes.fromhex(digits)


def format_mac(mac, separator="-", upper=True):
    text = separator.join("%02x" % b for b in mac)
    return text.upper() if upper else text


def ip_bytes(text):
    return ipaddress.IPv4Address(text).packed


def ip_text(raw):
    return str(ipaddress.IPv4Address(bytes(raw)))


# ---- checksums ------------------------------------------------------------

def internet_checksum(data):
    """One's-complement sum of 16-bit words (RFC 1071), complemented."""
    if len(data) % 2:
        data = bytes(data) + b"\x00"
    total = sum(struct.unpack("!%dH" % (len(data) // 2), data))
    while total >> 16:
        total = (total & 0xFFFF) + (total >> 16)
    return ~total & 0xFFFF


def udp_checksum(src_ip, dst_ip, udp_segment):
    pseudo = src_ip + dst_ip + struct.pack("!BBH", 0, IPPROTO_UDP, len(udp_segment))
    value = internet_checksum(pseudo + udp_segment)
    # Zero means "no checksum" in UDP over IPv4, so a computed zero is sent as all ones.
    return value or 0xFFFF


# ---- building -------------------------------------------------------------

def ethernet(dst_mac, src_mac, ethertype, payload):
    return dst_mac + src_mac + struct.pack("!H", ethertype) + payload


def arp_packet(op, sender_mac, sender_ip, target_mac, target_ip):
    return struct.pack("!HHBBH6s4s6s4s", 1, ETH_P_IP, 6, 4, op,
                       sender_mac, sender_ip, target_mac, target_ip)


def arp_request_frame(sender_mac, sender_ip, target_ip):
    """Who has target_ip? Tell sender_ip — broadcast, as a device sends it."""
    return ethernet(BROADCAST_MAC, sender_mac, ETH_P_ARP,
                    arp_packet(ARP_REQUEST, sender_mac, sender_ip, ZERO_MAC, target_ip))


def arp_reply_frame(sender_mac, sender_ip, target_mac, target_ip):
    """target_ip is at... : the answer goes straight to the asker's MAC."""
    return ethernet(target_mac, sender_mac, ETH_P_ARP,
                    arp_packet(ARP_REPLY, sender_mac, sender_ip, target_mac, target_ip))


def udp_segment(src_ip, dst_ip, src_port, dst_port, payload):
    header = struct.pack("!HHHH", src_port, dst_port, 8 + len(payload), 0)
    checksum = udp_checksum(src_ip, dst_ip, header + payload)
    return struct.pack("!HHHH", src_port, dst_port, 8 + len(payload), checksum) + payload


def ipv4_header(src_ip, dst_ip, protocol, payload_len, ident, flags_offset, ttl):
    header = struct.pack("!BBHHHBBH4s4s", 0x45, 0, 20 + payload_len, ident,
                         flags_offset, ttl, protocol, 0, src_ip, dst_ip)
    return header[:10] + struct.pack("!H", internet_checksum(header)) + header[12:]


def ipv4_packets(src_ip, dst_ip, protocol, payload, ident, ttl=64, mtu=DEFAULT_MTU):
    """One IPv4 packet, or its fragments when it does not fit the MTU."""
    if 20 + len(payload) <= mtu:
        return [ipv4_header(src_ip, dst_ip, protocol, len(payload), ident, 0, ttl) + payload]
    chunk = (mtu - 20) // 8 * 8
    packets = []
    for start in range(0, len(payload), chunk):
        part = payload[start:start + chunk]
        more = IP_FLAG_MORE_FRAGMENTS if start + chunk < len(payload) else 0
        header = ipv4_header(src_ip, dst_ip, protocol, len(part), ident,
                             more | (start // 8), ttl)
        packets.append(header + part)
    return packets


def udp_frames(dst_mac, src_mac, src_ip, dst_ip, src_port, dst_port, payload,
               ident, ttl=64, mtu=DEFAULT_MTU):
    """Ethernet frames carrying one UDP datagram (several if it is fragmented)."""
    segment = udp_segment(src_ip, dst_ip, src_port, dst_port, payload)
    return [ethernet(dst_mac, src_mac, ETH_P_IP, packet)
            for packet in ipv4_packets(src_ip, dst_ip, IPPROTO_UDP, segment, ident, ttl, mtu)]


# ---- parsing --------------------------------------------------------------

Arp = namedtuple("Arp", "dst_mac src_mac op sender_mac sender_ip target_mac target_ip")
Udp = namedtuple("Udp", "dst_mac src_mac src_ip dst_ip src_port dst_port payload")


def parse_frame(frame):
    """An Arp or Udp tuple for the frames the devices care about, else None.

    Fragments, IPv4 options the header length does not cover, bad lengths and
    anything not ARP-over-Ethernet or UDP are dropped (None), never raised.
    """
    if len(frame) < ETH_HEADER_LEN:
        return None
    dst_mac, src_mac = bytes(frame[0:6]), bytes(frame[6:12])
    ethertype = struct.unpack_from("!H", frame, 12)[0]
    body = frame[ETH_HEADER_LEN:]
    if ethertype == ETH_P_ARP:
        if len(body) < 28:
            return None
        htype, ptype, hlen, plen, op, sha, spa, tha, tpa = struct.unpack_from(
            "!HHBBH6s4s6s4s", body, 0)
        if htype != 1 or ptype != ETH_P_IP or hlen != 6 or plen != 4:
            return None
        return Arp(dst_mac, src_mac, op, sha, spa, tha, tpa)
    if ethertype != ETH_P_IP or len(body) < 20:
        return None
    version_ihl, _, total_len, _, flags_offset, _, protocol = struct.unpack_from(
        "!BBHHHBB", body, 0)
    ihl = (version_ihl & 0x0F) * 4
    if version_ihl >> 4 != 4 or ihl < 20 or total_len < ihl or total_len > len(body):
        return None
    if protocol != IPPROTO_UDP:
        return None
    if flags_offset & (IP_FLAG_MORE_FRAGMENTS | IP_OFFSET_MASK):
        return None
    src_ip, dst_ip = bytes(body[12:16]), bytes(body[16:20])
    udp = body[ihl:total_len]
    if len(udp) < 8:
        return None
    src_port, dst_port, udp_len = struct.unpack_from("!HHH", udp, 0)
    if udp_len < 8 or udp_len > len(udp):
        return None
    return Udp(dst_mac, src_mac, src_ip, dst_ip, src_port, dst_port, bytes(udp[8:udp_len]))
