"""The capture, read back as the packets of an exchange.

wire.pcap holds every packet that crossed, stamped by the kernel from the real-time clock
that also stamps the calls (trace/capture.py): the two compare directly."""
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


def packets(directory, ports):
    events, seen = [], set()
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
                           "frame": frame, "from": p[IP].src, "to": p[IP].dst})
            continue
        if layer is None or (layer.sport not in ports and layer.dport not in ports):
            continue
        size = len(bytes(layer.payload)) if TCP in p else len(bytes(p[UDP].payload))
        retransmission = False
        if TCP in p:
            flags = str(layer.flags)
            name = " ".join(n for n, f in (("SYN", "S"), ("FIN", "F"), ("RST", "R"),
                                           ("PSH", "P"), ("ACK", "A")) if f in flags)
            name = f"{name} {size}" if size else name
            # The same bytes again from the same side: a retransmission.
            if size or "S" in flags or "F" in flags:
                key = (p[IP].src, layer.sport, layer.seq, size, flags)
                retransmission = key in seen
                seen.add(key)
            if retransmission:
                name += " (again)"
        else:
            flags, name = "", f"UDP {size}"
        events.append({"kind": "packet", "name": name, "to_right": layer.sport in ports,
                       "flags": flags, "size": size, "retransmission": retransmission,
                       "at": stamp, "frame": frame, "from": f"{p[IP].src}:{layer.sport}",
                       "to": f"{p[IP].dst}:{layer.dport}"})
    return events
