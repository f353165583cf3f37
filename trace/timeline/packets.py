"""The capture, read back as the packets of an exchange.

wire.pcap holds every packet that crossed, stamped by the kernel from the real-time clock
that also stamps the calls (trace/capture.py): the two compare directly."""
import datetime
import struct

from scapy.all import ICMP, IP, TCP, UDP, Ether
from scapy.layers.inet import TCPerror, UDPerror


def read_pcap(path):
    """(stamp in ns, frame) of each packet of a nanosecond pcap file."""
    with open(path, "rb") as f:
        data = f.read()
    at, out = 24, []
    while at + 16 <= len(data):
        seconds, fraction, size, _ = struct.unpack("<IIII", data[at:at + 16])
        out.append((seconds * 1000000000 + fraction, data[at + 16:at + 16 + size]))
        at += 16 + size
    return out


def content(data):
    """What a packet's bytes say: a chat record's text (up to its zero byte, in code page
    850), or the time answer's date."""
    if not data:
        return ""
    if len(data) == 4:
        seconds = int.from_bytes(data, "big")
        when = datetime.datetime(1900, 1, 1) + datetime.timedelta(seconds=seconds)
        return f"{seconds} s since 1900: {when:%Y-%m-%d %H:%M:%S} UTC"
    text = data.split(b"\0", 1)[0].decode("cp850", "replace").replace("\n", "⏎")
    return f'"{text}", then {len(data) - len(text.encode("cp850", "replace"))} bytes of zeros'


def numbers(p, layer, size, first):
    """A TCP segment's bytes and acknowledgement, counted from each side's first sequence
    number (0 for its SYN, as Wireshark counts): "bytes 141-280, ack 1"."""
    here, there = (p[IP].src, layer.sport), (p[IP].dst, layer.dport)
    first.setdefault(here, layer.seq if "S" in str(layer.flags) else layer.seq - 1)
    seq = (layer.seq - first[here]) % 2**32
    out = f"bytes {seq}–{seq + size - 1}" if size else f"seq {seq}"
    if "A" in str(layer.flags) and there in first:
        out += f", ack {(layer.ack - first[there]) % 2**32}"
    return out


def packets(directory, ports):
    events, first, sent = [], {}, {}
    for stamp, frame in read_pcap(f"{directory}/wire.pcap"):
        p = Ether(frame)
        if IP not in p:
            continue
        inner = p[ICMP].payload if ICMP in p else None
        layer = next((p[t] for t in (TCP, UDP) if t in p), None)
        if inner is not None and (TCPerror in inner or UDPerror in inner):
            quoted = inner[TCPerror] if TCPerror in inner else inner[UDPerror]
            if quoted.dport not in ports and quoted.sport not in ports:
                continue
            kind = {3: "port unreachable", 1: "host unreachable"}.get(p[ICMP].code, "error")
            events.append({"kind": "packet", "name": f"ICMP {kind}", "to_right": True,
                           "flags": "", "size": 0, "retransmission": False, "at": stamp,
                           "frame": frame, "from": p[IP].src, "to": p[IP].dst,
                           "quoted": f"{inner.src}:{quoted.sport}",
                           "quoted_to": f"{inner.dst}:{quoted.dport}",
                           "about": str(quoted.dport), "numbers": "",
                           "content": "", "again_after_ms": None})
            continue
        if layer is None or (layer.sport not in ports and layer.dport not in ports):
            continue
        size = len(bytes(layer.payload)) if TCP in p else len(bytes(p[UDP].payload))
        retransmission, again_after = False, None
        if TCP in p:
            flags = str(layer.flags)
            name = " ".join(n for n, f in (("SYN", "S"), ("FIN", "F"), ("RST", "R"),
                                           ("PSH", "P"), ("ACK", "A")) if f in flags)
            name = f"{name} {size}" if size else name
            # The same bytes again from the same side: a retransmission.
            if size or "S" in flags or "F" in flags:
                key = (p[IP].src, layer.sport, layer.seq, size, flags)
                retransmission = key in sent
                if retransmission:
                    again_after = round((stamp - sent[key]) / 1e6, 3)
                sent[key] = stamp
            if retransmission:
                name += " (again)"
            detail = numbers(p, layer, size, first)
            payload = bytes(layer.payload)
        else:
            flags, name = "", f"UDP {size}"
            detail, payload = f"{size} bytes", bytes(p[UDP].payload)
        events.append({"kind": "packet", "name": name, "to_right": layer.sport in ports,
                       "flags": flags, "size": size, "retransmission": retransmission,
                       "at": stamp, "frame": frame, "from": f"{p[IP].src}:{layer.sport}",
                       "to": f"{p[IP].dst}:{layer.dport}", "numbers": detail,
                       "content": content(payload), "again_after_ms": again_after})
    return events
