"""The packets of an exchange as pcapng, for Wireshark: each with a comment that names the
call that sent it, or why none did."""
import struct


def pcapng(path, wire):
    """The packets as pcapng, each with its comment, for Wireshark."""
    def block(kind, body):
        body += b"\0" * (-len(body) % 4)
        size = len(body) + 12
        return struct.pack("<II", kind, size) + body + struct.pack("<I", size)

    def option(code, value):
        return struct.pack("<HH", code, len(value)) + value + b"\0" * (-len(value) % 4)

    with open(path, "wb") as out:
        out.write(block(0x0A0D0D0A, struct.pack("<IHHq", 0x1A2B3C4D, 1, 0, -1)))
        # Ethernet frames, times in nanoseconds (if_tsresol 9).
        out.write(block(1, struct.pack("<HHI", 1, 0, 65535) + option(9, b"\x09") +
                        option(0, b"")))
        for p in wire:
            body = struct.pack("<IIIII", 0, p["at"] >> 32, p["at"] & 0xFFFFFFFF,
                               len(p["frame"]), len(p["frame"]))
            body += p["frame"] + b"\0" * (-len(p["frame"]) % 4)
            body += option(1, p["during"].encode()) + option(0, b"")
            out.write(block(6, body))
