"""The timeline of an exchange: its programs' calls, their consoles, what the run did to
them and the packets, joined on one clock.

What a traced run leaves in its folder:
- LABEL.calls, one for each program run (calls.py reads them);
- wire.pcap: the packets (packets.py reads them);
- notes (optional): what the run did to the programs, a line each: NS LABEL TEXT;
- exchanges.json: [{"name", "title", "left": [LABEL...], "right": [LABEL...],
  "ports": [PORT...]}], the programs of each side, and the ports whose packets belong to
  the exchange (TCP or UDP, and the ICMP errors about them); optionally "charset", the
  consoles' code page where the labels do not tell it, and "dir", a folder of its own that
  holds this exchange's calls and packets (a check's run of ours beside one of the
  learner's), and "peers", {PORT: NAME} of the ports that an untraced program holds.

The renderings (terminal.py, page.py, pcapng.py) draw what this module makes of them."""
import os

from .calls import NEVER, program_events
from .packets import packets
from .sockets import kernel_states, sent_by, socket_of, sockets


def notes(directory, labels):
    out = []
    path = f"{directory}/notes"
    if os.path.exists(path):
        for line in open(path, encoding="utf-8"):
            stamp, label, text = line.rstrip("\n").split(" ", 2)
            if label in labels:
                out.append({"kind": "note", "name": "note", "process": label,
                            "text": f"▸ {text}", "at": int(stamp)})
    return out


def exchange(directory, plan):
    directory = os.path.join(directory, plan.get("dir", ""))
    side = {label: "left" for label in plan["left"]}
    side.update({label: "right" for label in plan["right"]})
    events = []
    for label in side:
        if os.path.exists(f"{directory}/{label}.calls"):
            events += program_events(directory, label, plan.get("charset"))
    calls = [e for e in events if e["kind"] == "call"]
    for e in events:
        # A console text shows when it is written, or when the typed line has come.
        e["at"] = e["end"] if e["name"] == "read" else e["start"]
    socks = sockets(sorted(calls, key=lambda c: c["start"]))
    kernel_states(directory, socks, calls)
    wire = packets(directory, set(plan["ports"]))
    # Ports that an untraced program of the run holds (a check's own peer), by its name.
    peers = plan.get("peers", {})

    def nobody(port):
        return peers.get(port, f"port {port}: nothing listens")

    for p in wire:
        # Each end of a packet is the socket whose addresses it carries, or where none does,
        # the system of that host.
        source, how = socket_of(p["from"], p["to"], p["at"], socks)
        target, _ = socket_of(p["to"], p["from"], p["at"], socks)
        if p["name"].startswith("ICMP"):
            source, how = None, None
            target, _ = socket_of(p["quoted"], p["quoted_to"], p["at"], socks)
        port = (p.get("about") or p["to"]).rpartition(":")[2]
        p["sender"] = source["label"] if source else nobody(p['from'].rpartition(':')[2]) \
            if not p["name"].startswith("ICMP") else nobody(port)
        p["receiver"] = target["label"] if target else nobody(port)
        p["during"] = sent_by(p, source, how, calls)
        if source is None and p["from"].rpartition(":")[2] in peers:
            p["during"] = f"sent by {peers[p['from'].rpartition(':')[2]]}"
    events += wire + notes(directory, side)
    begin = min((e["start"] for e in calls if e["name"] == "socket"),
                default=min(e["at"] for e in events))
    events = [e for e in events if e["at"] >= begin]
    for e in events:
        e["side"] = "wire" if e["kind"] == "packet" else side[e["process"]]
        e["shared"] = e["side"] != "wire" and len(plan[e["side"]]) > 1
        for key in ("start", "end", "at"):
            if key in e:
                e[key + "_ms"] = round((e[key] - begin) / 1e6, 3) if e[key] != NEVER else None
    events.sort(key=lambda e: e["at"])
    for sock in socks:
        sock["side"] = side[sock["process"]]
    return events, socks


LONG_WAIT = 5e6  # ns: a wait that long gets its own two rows


def rows(events):
    """The rows of a timeline: an event where it happens; a call during which anything
    else happens (a packet, the other program's calls) where it begins and where it
    returns, with what happened meanwhile between the two."""
    out = []
    for e in events:
        # A call (or a console read) that others' rows fall within, or that slept for a
        # while, is drawn from where it begins to where it returns.
        waits = e["kind"] == "call" or (e["kind"] == "console" and e["name"] == "read")
        end = e.get("end") or NEVER
        e["blocks"] = waits and (any(o is not e and e["start"] < o["at"] < end for o in events)
                                 or e.get("slept", 0) > 0 and end - e["start"] > LONG_WAIT)
        if e.get("unfinished"):
            out.append((e["start"], e, "whole"))
        elif e["blocks"]:
            out.append((e["start"], e, "begins"))
            out.append((e["end"], e, "returns"))
        else:
            out.append((e["at"], e, "whole"))
    out.sort(key=lambda r: r[0])
    unordered(events, out)
    return out


RECEIVES = {"accept", "connect", "recv", "recvfrom"}


def unordered(events, table):
    """Marks each return that the clocks cannot order against the other programs' rows
    above it. A return is read from the clock only after it: it lies somewhere between the
    call's last packet (one it sent, or, for a receive, one that came to it) and that
    reading ("returns_after_ms"). A row of another program drawn within that stretch may
    have come before or after it; the return then says so ("unordered")."""
    for at, e, part in table:
        if part != "returns" or e["kind"] != "call":
            continue
        own = []
        for p in events:
            if p["kind"] != "packet" or not e["start"] < p["at"] < e["end"]:
                continue
            incoming = p["to_right"] == (e["side"] == "right")
            if (e["name"] in RECEIVES) if incoming else p["during"].startswith(e["process"] + " "):
                own.append((p["at"], p["at_ms"]))
        # A pause returns no sooner than it was asked to last.
        if e["name"] == "_sleep":
            pause = e["start"] + int(e["call"][7:-1]) * 1000000
            own.append((pause, round(e["start_ms"] + (pause - e["start"]) / 1e6, 3)))
        # The stretch's start in ms as its own row shows it: the same figure, not a sum of
        # two roundings that may fall a microsecond short of the packet's.
        low, e["returns_after_ms"] = max([(e["start"], e["start_ms"])] + own)
        others = [o for t, o, _ in table if low <= t < at and o["kind"] != "packet"
                  and o["process"] != e["process"]]
        e["unordered"] = bool(others)


def shows_layer(e):
    """Whether a call's row opens to the layer's own system calls: where it made more than
    one, or where Winsock's name is not the system's (setsockopt's TCP_MAXRT, closesocket)."""
    return len(e.get("layer", [])) > 1 or e.get("name") in ("setsockopt", "closesocket")


def heading(plan, side):
    return plan.get(f"{side}_title") or " + ".join(plan[side])


def cell(event, part):
    """An event's text on its side; a side of several programs names the one it is of."""
    who = f"{event['process']}: " if event.get("shared") else ""
    if event["kind"] == "console" and part == "begins":
        return who + "fgets …"
    if event["kind"] != "call" or part == "whole":
        return who + event["text"]
    if part == "begins":
        return who + event["call"] + " …"
    if not event["result"]:
        return f"{who}… {event['name']} returns"
    mark = "≈ " if event.get("unordered") else ""
    return f"{mark}{who}… {event['name']} = {event['result']}"


def fit(text, width, call=False):
    """At most width characters: a call keeps its ' = result' whole and loses arguments."""
    if len(text) <= width:
        return text
    if call and " = " in text:
        head, tail = text.split(" = ", 1)
        if "(" not in head:  # a return: its name and result, whole
            return text
        tail = " = " + tail
        # The arguments go first; the call's name and its result are never cut.
        keep = max(width - len(tail) - 2, head.index("(") + 1)
        return head[:keep] + "…)" + tail
    return text[:width - 1] + "…"


def time_of(at, begin):
    return (at - begin) / 1e6
