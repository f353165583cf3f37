#!/usr/bin/python3
"""What crosses the loopback, for the demo.

wire capture FILE [INTERFACE]
                    writes every IPv4 packet that crosses INTERFACE (lo by default) to
                    FILE, a pcap file with times in nanoseconds, until ended; says
                    "capturing" once it does
wire record FILE    shows the first chat record of FILE in hex
wire answer FILE    shows the time answer of FILE in hex, and what it says
"""
import datetime
import signal
import socket
import struct
import sys

CHAT_PORT = 1609
TIME_PORT = 37


# The kernel's stamp of each packet, from the real-time clock, as the programs' calls are
# stamped: the two compare directly.
SO_TIMESTAMPNS = 35
ETH_P_ALL = 0x0003
PACKET_OUTGOING = 4


def capture(path, iface="lo"):
    sock = socket.socket(socket.AF_PACKET, socket.SOCK_RAW, socket.htons(ETH_P_ALL))
    sock.bind((iface, 0))
    sock.setsockopt(socket.SOL_SOCKET, SO_TIMESTAMPNS, 1)
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))
    with open(path, "wb") as out:
        # pcap, nanosecond stamps, Ethernet frames.
        out.write(struct.pack("<IHHiIII", 0xA1B23C4D, 2, 4, 0, 0, 65535, 1))
        out.flush()
        print("capturing", flush=True)
        while True:
            data, ancillary, _, where = sock.recvmsg(65535, 1024)
            # The loopback shows each packet twice, going out and coming in: the one coming
            # in is kept. Any other interface shows each once, either way.
            if iface == "lo" and where[2] == PACKET_OUTGOING:
                continue
            if len(data) < 14 or data[12:14] != b"\x08\x00":
                continue
            seconds = nanoseconds = 0
            for level, kind, value in ancillary:
                if level == socket.SOL_SOCKET and kind == SO_TIMESTAMPNS:
                    seconds, nanoseconds = struct.unpack("qq", value[:16])
            out.write(struct.pack("<IIII", seconds, nanoseconds, len(data), len(data)) + data)
            out.flush()


def hex_lines(data):
    for at in range(0, len(data), 16):
        row = data[at:at + 16]
        text = "".join(chr(b) if 32 <= b < 127 else "." for b in row)
        print(f"  {at:04x}  {row.hex(' '):<47}  {text}")


def record(path):
    from scapy.all import TCP, Raw, rdpcap  # slow to load: not for a capture
    for packet in rdpcap(path):
        if TCP in packet and packet[TCP].sport == CHAT_PORT and Raw in packet:
            data = bytes(packet[Raw].load)
            print(f"The first chat record, {len(data)} bytes: the text as typed, its line "
                  "feed, a zero byte, and zeros up to 140:")
            hex_lines(data)
            return
    sys.exit("no chat record in " + path)


def answer(path):
    from scapy.all import UDP, rdpcap
    for packet in rdpcap(path):
        if UDP in packet and packet[UDP].sport == TIME_PORT:
            data = bytes(packet[UDP].payload)
            seconds = int.from_bytes(data, "big")
            when = datetime.datetime(1900, 1, 1) + datetime.timedelta(seconds=seconds)
            print(f"The time answer, {len(data)} bytes, most significant first: "
                  f"{data.hex(' ')}")
            print(f"  = {seconds} seconds since 1900-01-01 00:00:00 UTC")
            print(f"  = {when:%Y-%m-%d %H:%M:%S} UTC")
            return
    sys.exit("no time answer in " + path)


if __name__ == "__main__":
    if len(sys.argv) not in (3, 4) or sys.argv[1] not in ("capture", "record", "answer") or (
            len(sys.argv) == 4 and sys.argv[1] != "capture"):
        sys.exit(__doc__)
    {"capture": capture, "record": record, "answer": answer}[sys.argv[1]](*sys.argv[2:])
