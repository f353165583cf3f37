"""The exchanges of a traced run whose programs may be anyone's (scripts/trace): which
program is on which side of which exchange, read from what each did.

python3 -m timeline.plan DIR
    writes DIR/exchanges.json for the programs that DIR/LABEL.started names: a program
    that made a stream socket is in the chat, one that made only datagram sockets in the
    time request (one that made none, by its name); one that bound or listened is its
    server, on the left; the ports are the service's, every port that a server bound and
    every port that a client connected or sent to."""
import json
import os
import sys

from .calls import records

SERVICES = {"chat": (1609, "Your chat", "cp850"), "time": (37, "Your time request", "latin-1")}


def named_ports(raw, server):
    """The ports a program names, each with the call that names it first: a server's own
    (bind), a client's server's (connect, sendto); never a client's port that a server
    answers to."""
    out = {}
    for r in raw:
        if r["call"] in (("bind",) if server else ("connect", "sendto")) \
                and ":" in r["args"].get("addr", "-"):
            out.setdefault(int(r["args"]["addr"].rpartition(":")[2]), r["call"])
    return out


def plan(directory):
    exchanges = {}
    labels = sorted(f[:-len(".started")] for f in os.listdir(directory) if f.endswith(".started"))
    for label in labels:
        path = f"{directory}/{label}.calls"
        raw = records(path) if os.path.exists(path) else []
        kinds = {r["args"].get("type") for r in raw if r["call"] == "socket"}
        if kinds:
            service = "chat" if "SOCK_STREAM" in kinds else "time"
            server = any(r["call"] in ("bind", "listen") for r in raw)
        else:
            service = "time" if "time" in label else "chat"
            server = label.endswith("server")
        port, title, charset = SERVICES[service]
        ex = exchanges.setdefault(service, {"name": service, "title": title, "left": [],
                                            "right": [], "ports": {port}, "charset": charset})
        ex["left" if server else "right"].append(label)
        ex["ports"] |= set(named_ports(raw, server))
    return [dict(ex, ports=sorted(ex["ports"])) for ex in exchanges.values()]


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    with open(f"{sys.argv[1]}/exchanges.json", "w", encoding="utf-8") as out:
        json.dump(plan(sys.argv[1]), out)
