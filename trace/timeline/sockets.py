"""The sockets of a traced run, and the packets they own.

Each socket is known from the calls that made and closed it, and from what the recorder
measured of it after each of its calls: its own address, its peer's, its TCP state. A
packet belongs to the socket whose addresses it carries; where no traced socket holds them,
to the system of that host."""
import os

from .calls import NEVER


def sockets(events):
    """Each program's sockets, from the calls that made and closed them: its number, its
    addresses and TCP states as measured after each of its calls, and its life (from the
    call that made it to its close; a program that ends closes what it left open)."""
    out, open_now = [], {}
    for e in events:
        if e["kind"] != "call" or e.get("unfinished"):
            continue
        if e["name"] in ("socket", "accept") and e["result"][:1].isdigit():
            fd = int(e["result"].split()[0])
            made = {"process": e["process"], "fd": fd, "opened": e["end"], "closed": None,
                    "datagram": e["name"] == "socket" and "DGRAM" in e["call"],
                    "local": None, "peer": None, "listening": False, "states": [],
                    "label": f"{e['process']} socket {fd}"}
            out.append(made)
            open_now[(e["process"], fd)] = made
        if e["name"] == "connect" and (e["process"], e["fd"]) in open_now:
            # Where it aims, even where it never connects (its local port is then let go).
            open_now[(e["process"], e["fd"])]["aim"] = e["call"].split(", ")[-1].rstrip(")")
        for fd, seen in e["measured"].items():
            sock = open_now.get((e["process"], fd))
            if sock is None:
                continue
            sock["local"] = seen["local"] if seen["local"] not in (None, "-") else sock["local"]
            sock["peer"] = seen["peer"] if seen["peer"] not in (None, "-") else sock["peer"]
            if seen.get("state"):
                sock["listening"] |= seen["state"] == "LISTEN"
                if not sock["states"] or sock["states"][-1][1] != seen["state"]:
                    sock["states"].append((e["end"], seen["state"]))
        if e["name"] in ("closesocket", "close") and e["fd"] is not None:
            sock = open_now.pop((e["process"], e["fd"]), None)
            if sock is not None:
                sock["closed"] = e["end"]
    # A program that ended while it waited in a call ended at an unknown time: its sockets
    # run on to the page's end.
    ends = {}
    for e in events:
        last = ends.get(e["process"], 0)
        ends[e["process"]] = None if last is None or e["end"] == NEVER else max(last, e["end"])
    for sock in open_now.values():
        sock["closed"], sock["closed_by_exit"] = ends[sock["process"]], True
    return out


def kernel_states(directory, socks, calls):
    """Each TCP socket's states as the kernel changed them (trace/states.py, as root), in
    place of those read at its calls. A connection closed first goes on, after its socket
    reports CLOSE, in a lighter timewait socket that the tracepoint does not report: its
    TIME_WAIT is read with sock_diag at the end of the play (WORK/time-wait), and when it
    began is not measured. False where the kernel was not asked."""
    if not os.path.exists(f"{directory}/states"):
        return False
    waiting = set()
    if os.path.exists(f"{directory}/time-wait"):
        waiting = {tuple(line.split()[2:4]) for line in open(f"{directory}/time-wait")}
    for sock in socks:
        if not sock["datagram"]:
            sock["states"], sock["states_by"] = [], "kernel"
    for line in open(f"{directory}/states", encoding="ascii"):
        at, here, there, _, new = line.split()
        sock = changed(int(at), here, there, socks, calls)
        # A socket closed in FIN_WAIT1 is set to FIN_WAIT1 again: no change to show.
        if sock is None or sock["datagram"] or sock["states"][-1:] and sock["states"][-1][1] == new:
            continue
        sock["states"].append((int(at), new))
    for sock in socks:
        if not sock["datagram"] and (sock["local"], sock["peer"]) in waiting:
            sock["time_wait_at_end"] = True
    return True


def changed(at, here, there, socks, calls):
    """The socket whose state the kernel changed at AT, on the pair (HERE, THERE). Other runs
    on this machine use the same ports in namespaces of their own, and the tracepoint does
    not say which: a change is this run's where it came inside one of the socket's own
    calls, or carries its connection's ephemeral port."""
    def inside(s, names):
        return any(c["process"] == s["process"] and c.get("fd") == s["fd"] and
                   c["name"] in names and c["start"] <= at <= c["end"] for c in calls)
    if here.endswith(":0"):  # connect's SYN_SENT, before its port is chosen
        return next((s for s in socks if s.get("aim") == there and inside(s, ("connect",))), None)
    if there.endswith(":0"):  # a listening socket: in listen, or in its close
        return next((s for s in socks if holds(s["local"], here)
                     and inside(s, ("listen", "closesocket", "close"))), None)
    return next((s for s in socks if s["peer"] == there and holds(s["local"], here)), None) or \
        next((s for s in socks if s.get("aim") == there and s["peer"] is None
              and s["opened"] <= at), None)


def holds(local, address):
    """Whether a socket bound to LOCAL (its address may be the wildcard) holds ADDRESS."""
    if not local or local == "-":
        return False
    ip, _, port = local.rpartition(":")
    there, _, there_port = address.rpartition(":")
    return port == there_port and ip in (there, "0.0.0.0")


def socket_of(here, there, at, socks):
    """The socket that holds the pair (HERE, THERE) at AT, and how: its connection, or the
    listening socket in whose queue a connection waits until accept returns it, or an
    unconnected datagram socket. None where no traced socket holds it."""
    alive = [s for s in socks if s["opened"] <= at and (s["closed"] is None or at <= s["closed"])]
    # A connection outlives its socket's close (FIN_WAIT, TIME_WAIT): same pair, same one.
    connected = [s for s in socks if s["peer"] == there and holds(s["local"], here)
                 and s["opened"] <= at]
    connected = connected or [s for s in alive if s.get("aim") == there and s["peer"] is None]
    if connected:
        return connected[-1], "connection"
    for s in alive:
        if s["listening"] and holds(s["local"], here):
            return s, "queue"
    for s in alive:
        if s["datagram"] and s["peer"] is None and holds(s["local"], here):
            return s, "datagram"
    return None, None


# What a call itself puts on the wire; any other packet the system sends on its own.
SENDS = {"connect": ("S",), "send": ("data",), "sendto": ("data",), "write": ("data",),
         "shutdown": ("F", "R"), "closesocket": ("F", "R"), "close": ("F", "R")}


def sent_by(p, sock, how, calls):
    """Who sent packet P: the call of its socket that put it on the wire, or the system,
    and why."""
    kinds = [k for k in ("S", "F", "R") if k in p["flags"]] + (["data"] if p["size"] else [])
    if p["name"].startswith("UDP"):
        kinds = ["data"]
    if sock is not None and how != "queue" and not p["retransmission"]:
        for c in calls:
            if c["process"] == sock["process"] and c.get("fd") == sock["fd"] \
                    and c["start"] <= p["at"] <= c["end"] \
                    and any(k in SENDS.get(c["name"], ()) for k in kinds):
                return f"{c['process']} {c['text']} {c['source']}"
    if p["name"].startswith("ICMP"):
        return f"no call: the system's own: nothing listens on port {p['about']} there"
    if sock is None:
        return f"no call: the system's own: no socket holds {p['from']}" + \
            (", so it resets" if "R" in p["flags"] else "")
    if how == "queue":
        return f"no call: the system's own: the listening queue of {sock['label']}"
    if p["retransmission"]:
        return f"no call: the system's own: {sock['label']}'s bytes sent again, unacknowledged"
    if sock["closed"] is not None and p["at"] > sock["closed"]:
        return f"no call: the system's own: the connection that {sock['label']} closed"
    if not kinds:
        return f"no call: the system's own: {sock['label']} acknowledges what came"
    return f"no call: the system's own, for {sock['label']}"


def lane(sock, events):
    """A socket as the timeline's data: its times in ms, as its rows show them."""
    begin = events[0]["at"] - events[0]["at_ms"] * 1e6 if events else 0

    def ms(ns):
        return None if ns is None else round((ns - begin) / 1e6, 3)
    return {"label": sock["label"], "process": sock["process"], "side": sock["side"],
            "fd": sock["fd"], "local": sock["local"], "peer": sock["peer"],
            "datagram": sock["datagram"], "listening": sock["listening"],
            "opened_ms": ms(sock["opened"]), "closed_ms": ms(sock["closed"]),
            "closed_by_exit": sock.get("closed_by_exit", False),
            "states": [[ms(at), state] for at, state in sock["states"]],
            "states_by": sock.get("states_by", "calls"),
            "time_wait_at_end": sock.get("time_wait_at_end", False)}
