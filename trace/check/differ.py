"""Where a learner's program departs from ours in one scenario, told in words.

Each difference is (words, mark): what differs, as a learner reads it, and how to find the
learner's row where it shows on the timeline (side, pattern), for the page of the first."""
import re

from timeline.calls import is_console, records
from timeline.plan import named_ports

from .scenarios import END_S, RECORD, SERVICE

EPOCH_OFFSET = 2208988800

# The accented letters of the programs' texts, in each code page they may come in.
LETTERS = {
    "cp850": {0x82: "é", 0x8A: "è", 0x85: "à"},
    "latin-1": {0xE9: "é", 0xE8: "è", 0xE0: "à"},
}
UTF8 = {"c3a9": "é", "c3a8": "è", "c3a0": "à"}
DATE = re.compile(rb"[A-Z][a-z]{2} [A-Z][a-z]{2} [ \d]\d \d\d:\d\d:\d\d \d{4}")


def swapped16(port):
    return ((port & 0xFF) << 8) | (port >> 8)


def byte_named(data, at, charset):
    """The byte at AT, in words: its value, and the letter it is where it is one."""
    if at >= len(data):
        return "nothing (the line ends there)"
    b = data[at]
    if data[at:at + 2].hex() in UTF8:
        return f"0x{b:02X} 0x{data[at + 1]:02X} ({UTF8[data[at:at + 2].hex()]} in UTF-8, two bytes)"
    letter = LETTERS[charset].get(b)
    if letter:
        page = "the console's code page, CP850" if charset == "cp850" else "ISO-8859-1"
        return f"0x{b:02X} ({letter} in {page})"
    if 32 <= b < 127:
        return f"0x{b:02X} '{chr(b)}'"
    return f"0x{b:02X}"


def quoted(data):
    return '"' + "".join(chr(b) if 32 <= b < 127 else f"\\x{b:02x}" for b in data) + '"'


def console(ours, yours, charset, side, mask_dates):
    """The first console line that differs, byte by byte."""
    if mask_dates:
        ours, yours = DATE.sub(b"<date>", ours), DATE.sub(b"<date>", yours)
    a, b = ours.split(b"\n"), yours.split(b"\n")
    for number, (x, y) in enumerate(zip(a, b), 1):
        if x != y:
            at = next((i for i in range(min(len(x), len(y))) if x[i] != y[i]), min(len(x), len(y)))
            shown = y.decode(charset, "replace").strip()
            if not y and number == len(b):
                return [(f"console, line {number}: ours prints {quoted(x)}, yours nothing more",
                         None)]
            mark = (side, re.escape(shown[:24])) if shown else None
            return [(f"console, line {number}: ours prints {quoted(x)}, yours {quoted(y)}: at byte "
                     f"{at + 1} ours has {byte_named(x, at, charset)}, yours "
                     f"{byte_named(y, at, charset)}", mark)]
    if len(a) != len(b):
        longer, who = (a, "ours") if len(a) > len(b) else (b, "yours")
        rest = longer[min(len(a), len(b)):]
        line = next((x for x in rest if x.strip()), rest[0])
        return [(f"console: {who} goes on after line {min(len(a), len(b))}, with "
                 f"{quoted(line)}{' and more' if len(rest) > 1 else ''}", None)]
    return []


def program_calls(path):
    try:
        return [r for r in records(path) if not is_console(r)]
    except OSError:
        return []


def left_open(calls):
    """The sockets that the program neither closed nor shut down: their places in the order
    the program made its sockets, and their descriptors."""
    made = [(r["start"], r["result"]) for r in calls if r["call"] == "socket" and r["result"] >= 0]
    made += [(r["start"], int(r["args"]["new"])) for r in calls if r["call"] == "accept"
             and r["end"] is not None and r["result"] >= 0]
    ended = {int(r["args"]["fd"]) for r in calls if r["call"] in ("close", "shutdown")
             and r["result"] == 0}
    return {at: fd for at, (_, fd) in enumerate(sorted(made)) if fd not in ended}


def sent_sizes(calls):
    return [int(r["args"]["len"]) for r in calls if r["call"] in ("send", "write", "sendto")
            and r["result"] >= 0]


def differences(role, ours, yours, ours_calls, yours_calls):
    """Every difference of YOURS from OURS in one scenario: (words, mark)."""
    service = SERVICE[role]
    charset = "cp850" if service == "chat" else "latin-1"
    side = "left" if role.endswith("server") else "right"
    out = []
    a, b = named_ports(ours_calls, side == "left"), named_ports(yours_calls, side == "left")
    for port, call in b.items():
        if port in a:
            continue
        right = next(iter(a), None)
        if right is not None and swapped16(port) == right:
            words = (f"port: your {call} uses port {port}; {port} is {right} with its bytes "
                     f"swapped: the port must be in network order, htons({right})")
        else:
            words = f"port: your {call} uses port {port}, ours {right}"
        out.append((words, (side, rf"{call}\(.*:{port}\b")))
    if ours["ended"] and not yours["ended"]:
        waiting = [r for r in yours_calls if r["end"] is None]
        where = f": it was still in {waiting[-1]['call']}()" if waiting else ""
        out.append((f"hang: yours did not end within {END_S} s of the exchange's last step, "
                    f"where ours ends{where}", (side, "never returned") if waiting else None))
    out += console(bytes.fromhex(ours["console"]), bytes.fromhex(yours["console"]), charset,
                   side, role == "chatclient")
    if service == "chat":
        x, y = bytes.fromhex(ours["received"]), bytes.fromhex(yours["received"])
        sizes = sent_sizes(yours_calls)
        odd = [n for n in sizes if n != RECORD]
        if x != y and role == "chatserver" and odd:
            out.append((f"records: yours sends a record of {odd[0]} bytes where ours sends "
                        f"{RECORD} (each line as one record: the text, its line feed, zeros up "
                        f"to {RECORD})", (side, rf"(send|write)\(\d+, {odd[0]} bytes\)")))
        elif x != y:
            at = next((i for i in range(min(len(x), len(y))) if x[i] != y[i]), min(len(x), len(y)))
            out.append((f"wire: the {'server' if role == 'chatclient' else 'client'} received "
                        f"{len(y)} bytes from yours, {len(x)} from ours; they differ first at byte "
                        f"{at + 1} (record {at // RECORD + 1})", None))
    if role == "timeserver" and ours.get("answer") is not None:
        out += answer(ours, yours, side)
    if role == "timeclient" and ours.get("request") != yours.get("request"):
        n = len(bytes.fromhex(yours["request"] or ""))
        out.append((f"request: yours sends {'no request' if yours['request'] is None else f'{n} bytes'}"
                    f"; ours sends an empty datagram", (side, r"sendto\(")))
    open_a, open_b = left_open(ours_calls), left_open(yours_calls)
    extra = [fd for at, fd in open_b.items() if at not in open_a]
    if extra and yours["ended"]:
        fds = " and ".join(str(fd) for fd in extra)
        out.append((f"sockets: yours ends with socket{'s' if len(extra) > 1 else ''} {fds} "
                    "neither closed nor shut down, where ours closes or shuts down each "
                    "(closesocket, or shutdown)", (side, rf"(socket|accept)\(.*\) = {extra[0]}\b")))
    return out


def answer(ours, yours, side):
    if yours.get("answer") is None:
        return [("answer: yours sent no answer", None)]
    data = bytes.fromhex(yours["answer"])
    if len(data) != 4:
        return [(f"answer: yours is {len(data)} bytes, ours 4 (seconds since 1900, most "
                 "significant byte first)", (side, r"sendto\("))]
    value = int.from_bytes(data, "big")
    then = int(yours["answered"])
    right = (then + EPOCH_OFFSET) & 0xFFFFFFFF
    swapped = int.from_bytes(data, "little")
    near = lambda v, w: abs(v - w) <= 3  # noqa: E731 the answer's and our clock's second
    if near(value, right):
        return []
    if near(value, then):
        words = (f"answer: yours says {value}, off by {EPOCH_OFFSET:,} seconds: it counts from "
                 f"1970, where the time protocol counts from 1900: add {EPOCH_OFFSET}")
    elif near(swapped, right):
        words = (f"answer: yours is {data.hex(' ')}, the time in the machine's byte order: "
                 "send htonl(seconds)")
    elif near(swapped, then):
        words = (f"answer: yours is {data.hex(' ')}: counted from 1970 and in the machine's "
                 f"byte order: add {EPOCH_OFFSET}, then htonl")
    else:
        words = f"answer: yours says {value} seconds since 1900, ours about {right}"
    return [(words, (side, r"sendto\("))]
