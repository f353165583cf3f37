"""The recorder's calls, read back as the calls of main.

libcalls.so (trace/calls.cpp, preloaded into a program) writes LABEL.calls: each socket and
console call between two readings of the real-time clock, with its return address in the
program. They are shown under the Winsock names that the programs' code uses, one call of
main each: the POSIX layer's own system calls made for one call of main (an option that
gives Winsock's behaviour, say) are part of it. Each call names the line of main that made
it, found from its return address in the program's debug information (addr2line, inlined
frames included: the platform layer's functions are inlined into main)."""
import errno
import os
import subprocess


TOP = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))


# Winsock's numbers and names for what the programs' calls report.
WINSOCK = {
    "EINTR": (10004, "WSAEINTR"), "EBADF": (10038, "WSAENOTSOCK"),
    "EACCES": (10013, "WSAEACCES"), "EFAULT": (10014, "WSAEFAULT"),
    "EINVAL": (10022, "WSAEINVAL"), "EMFILE": (10024, "WSAEMFILE"),
    "EAGAIN": (10035, "WSAEWOULDBLOCK"), "ENOTSOCK": (10038, "WSAENOTSOCK"),
    "EMSGSIZE": (10040, "WSAEMSGSIZE"), "ENOPROTOOPT": (10042, "WSAENOPROTOOPT"),
    "EADDRINUSE": (10048, "WSAEADDRINUSE"), "EADDRNOTAVAIL": (10049, "WSAEADDRNOTAVAIL"),
    "ENETDOWN": (10050, "WSAENETDOWN"), "ENETUNREACH": (10051, "WSAENETUNREACH"),
    "ECONNABORTED": (10053, "WSAECONNABORTED"), "ECONNRESET": (10054, "WSAECONNRESET"),
    "EPIPE": (10054, "WSAECONNRESET"), "ENOBUFS": (10055, "WSAENOBUFS"),
    "EISCONN": (10056, "WSAEISCONN"), "ENOTCONN": (10057, "WSAENOTCONN"),
    "ESHUTDOWN": (10058, "WSAESHUTDOWN"), "ETIMEDOUT": (10060, "WSAETIMEDOUT"),
    "ECONNREFUSED": (10061, "WSAECONNREFUSED"), "EHOSTDOWN": (10064, "WSAEHOSTDOWN"),
    "EHOSTUNREACH": (10065, "WSAEHOSTUNREACH"),
}


SHUTDOWN = {0: "SD_RECEIVE", 1: "SD_SEND", 2: "SD_BOTH"}


# (level, option) of the system calls behind Winsock's options.
KEEPALIVE = {(1, 9): "SO_KEEPALIVE", (6, 4): "TCP_KEEPIDLE", (6, 5): "TCP_KEEPINTVL",
             (6, 6): "TCP_KEEPCNT"}


NEVER = 1 << 62  # the end of a call that never returned


SOCKET_CALLS = {"socket", "bind", "listen", "accept", "connect", "send", "recv", "sendto",
                "recvfrom", "shutdown", "close", "sleep", "read", "write", "getaddrinfo"}


def is_console(r):
    """A console record: what the program wrote to its standard output or read of its input
    (a socket's read or write names its descriptor)."""
    return r["call"] in ("write", "read") and "fd" not in r["args"]


def spelled(code, names, default):
    """The name the program's code gives a call: the first of NAMES that its line spells."""
    return next((n for n in names if f"{n}(" in code.replace(" (", "(")), default)
# The system calls' own names for what they were given, as the layer's rows show them.
LEVELS = {0: "IPPROTO_IP", 1: "SOL_SOCKET", 6: "IPPROTO_TCP"}
OPTIONS = {(0, 11): "IP_RECVERR", (1, 2): "SO_REUSEADDR", (1, 9): "SO_KEEPALIVE",
           (1, 20): "SO_RCVTIMEO", (6, 4): "TCP_KEEPIDLE", (6, 5): "TCP_KEEPINTVL",
           (6, 6): "TCP_KEEPCNT", (6, 18): "TCP_USER_TIMEOUT"}


def system_call(r):
    """One system call as the layer made it: its name, arguments and result, errno named."""
    a = r["args"]
    if r["call"] == "setsockopt":
        level, option = int(a["level"]), int(a["option"])
        args = [a["fd"], LEVELS.get(level, str(level)), OPTIONS.get((level, option), str(option)),
                a["value"]]
    elif r["call"] == "sleep":
        return f"nanosleep({int(a['ms']) / 1000:g} s)"
    else:
        args = [a[k] for k in ("type", "fd", "len", "addr", "backlog", "how") if a.get(k, "-") != "-"]
    result = str(r["result"]) if r["end"] is not None else "…"
    if r["end"] is not None and r["result"] < 0:
        result = f"-1 {errno.errorcode.get(r['errno'], r['errno'])}"
    return f"{r['call']}({', '.join(args)}) = {result}"


def winsock_error(name, number, datagram):
    code = errno.errorcode.get(number, str(number))
    # The layer's own translations: a refused datagram is a reset, as in Winsock; a receive
    # that its time-out ended is WSAETIMEDOUT.
    if name == "recvfrom" and datagram and code == "ECONNREFUSED":
        code = "ECONNRESET"
    if name in ("recv", "recvfrom") and code == "EAGAIN":
        code = "ETIMEDOUT"
    number, text = WINSOCK.get(code, (number, code))
    return f"{text} ({number})"


def records(path):
    """The recorder's lines, each call once: where it returned, or, for a call that never
    returned (the program ended while it waited), where it began (its end None)."""
    out, waiting = [], {}
    for line in open(path, encoding="ascii", errors="replace"):
        fields = line.split()
        if len(fields) < 7:
            continue
        args = dict(f.split("=", 1) for f in fields[7:] if "=" in f)
        r = {"start": int(fields[0]), "end": None if fields[1] == "-" else int(fields[1]),
             "call": fields[2], "result": int(fields[3]), "errno": int(fields[4]),
             "object": fields[5], "offset": int(fields[6], 16), "args": args}
        if r["end"] is None:
            waiting[(r["start"], r["call"])] = r
        else:
            waiting.pop((r["start"], r["call"]), None)
            out.append(r)
    out += waiting.values()
    out.sort(key=lambda r: r["start"])
    return out


# The platform layer's own sources: a call made from there (out of line, in a program built
# without optimisation) is shown at the line of the program that called the layer.
LAYER = ("/platform/winsock.hpp", "/trace/winsock/")


def where_in_main(raw):
    """Each record's source line: the outermost inlined frame of its return address less one
    (the call instruction's own line), or where that is in the platform layer, of the first
    return address further out (from=) that is not. A program without debug information
    has no lines: there the record names the function it was called from (file "", line 0)."""
    by_object = {}
    for r in raw:
        r["from"] = [int(x, 16) for x in r["args"].pop("from", "").split(",") if x]
        by_object.setdefault(r["object"], set()).update([r["offset"]] + r["from"])
    found = {}
    for obj, offsets in by_object.items():
        offsets = sorted(offsets)
        out = subprocess.run(["addr2line", "-a", "-f", "-C", "-i", "-e", obj] +
                             [hex(o - 1) for o in offsets],
                             capture_output=True, text=True, check=False).stdout.splitlines()
        frames, current = {}, None
        for line in out:
            if line.startswith("0x"):
                current = int(line, 16) + 1
                frames[current] = []
            elif current is not None:
                frames[current].append(line.split(" (discriminator")[0])
        for offset in offsets:
            pairs = frames.get(offset) or ["??", "??:0"]
            function, last = pairs[-2] if len(pairs) > 1 else "??", pairs[-1]
            file, _, number = last.rpartition(":")
            found[(obj, offset)] = (file, int(number) if number.isdigit() else 0, function)
    for r in raw:
        places = [found[(r["object"], o)] for o in [r["offset"]] + r["from"]]
        r["file"], r["line"], r["function"] = next(
            (p for p in places if not any(layer in p[0] for layer in LAYER)), places[0])
        if r["file"] == "??" or r["line"] == 0:
            r["file"], r["line"] = "", 0


def relative(path):
    """A source's path from the top of its tree (this one, or a scratch copy of it); a
    learner's source elsewhere by its name."""
    for top in ("chat/", "time_service/", "platform/"):
        at = path.rfind("/" + top)
        if at >= 0:
            return path[at + 1:]
    if os.path.isabs(path) and not path.startswith(TOP + "/"):
        return os.path.basename(path)
    return os.path.relpath(path, TOP)


def source(r):
    """Where a call was made: FILE:LINE, or, in a program built without debug information,
    the function, said so."""
    if r["line"]:
        return f"{relative(r['file'])}:{r['line']}"
    function = r.get("function", "??")
    if function == "??":
        return f"{os.path.basename(r['object'])}+{r['offset']:#x} (no debug information, no symbols)"
    return f"in {function}() (no debug information: build with -g for its lines)"


def statement(path, number):
    """The code of main at that line: the statement that begins there, on one line."""
    try:
        lines = open(path, encoding="latin-1").read().splitlines()
    except OSError:
        return ""
    code = ""
    for line in lines[number - 1:number + 3]:
        code += " " + line.strip()
        if code.count("(") <= code.count(")") and code.rstrip().endswith((";", "{", ")")):
            break
    return " ".join(code.split())


def shown(data, charset):
    return bytes.fromhex(data).decode(charset, "replace").replace("\n", "⏎") if data != "-" else ""


def winsock_call(group, datagram, code=""):
    """One call of the program, from the system calls it made: its name (as its line of code
    spells it, where it differs from the system call's), text and result."""
    names = [r["call"] for r in group]
    main = next((r for r in group if r["call"] in SOCKET_CALLS), group[-1])
    a = main["args"]
    failed = next((r for r in group if r["result"] < 0), None)
    result = main["result"] if failed is None else -1
    name = main["call"]
    fd = a.get("fd", "?")
    if name == "socket":
        text = f"socket({a.get('type')})"
    elif name == "bind":
        text = f"bind({fd}, {a.get('addr')})"
    elif name == "listen":
        text = f"listen({fd}, {a.get('backlog')})"
    elif name == "accept":
        text = f"accept({fd})"
    elif name == "connect":
        text = f"connect({fd}, {a.get('addr')})"
    elif name == "send":
        text = f"send({fd}, {a.get('len')} bytes)"
    elif name == "recv":
        text = f"recv({fd}, {a.get('len')})"
    elif name == "sendto":  # on a connected socket, to no address of its own
        to = f", {a['addr']}" if a.get("addr", "-") != "-" else ""
        text = f"sendto({fd}, {a.get('len')} bytes{to})"
    elif name == "recvfrom":
        text = f"recvfrom({fd}, {a.get('len')})"
    elif name == "shutdown":
        text = f"shutdown({fd}, {SHUTDOWN.get(int(a.get('how', -1)), a.get('how'))})"
    elif name == "read":
        text = f"read({fd}, {a.get('len')})"
    elif name == "write":
        text = f"write({fd}, {a.get('len')} bytes)"
    elif name == "getaddrinfo":
        node = bytes.fromhex(a["node"]).decode("latin-1") if a.get("node", "-") != "-" else "NULL"
        text = f"getaddrinfo(\"{node}\")"
        if main["result"] == 0:
            text += f" → {a.get('addr', '-').rpartition(':')[0]}"
    elif name == "close":
        name = spelled(code, ("closesocket", "close"), "close")
        text = f"{name}({fd})"
    elif name == "sleep":
        name = spelled(code, ("_sleep", "Sleep", "usleep", "nanosleep", "sleep"), "sleep")
        text = f"{name}({a.get('ms')} ms)" if name != "_sleep" else f"_sleep({a.get('ms')})"
    else:
        options = {(int(r["args"]["level"]), int(r["args"]["option"])): r["args"]["value"]
                   for r in group if r["call"] == "setsockopt"}
        if (1, 9) in options:
            name = "WSAIoctl"
            values = ", ".join(f"{KEEPALIVE.get(k, k)} {v}" for k, v in options.items())
            text = f"WSAIoctl({fd}, SIO_KEEPALIVE_VALS: {values})"
        elif (6, 18) in options:
            name = "setsockopt"
            text = f"setsockopt({fd}, TCP_MAXRT, {int(options[(6, 18)]) // 1000} s)"
        elif (1, 20) in options:
            name = "setsockopt"
            text = f"setsockopt({fd}, SO_RCVTIMEO, {options[(1, 20)].replace('ms', ' ms')})"
        else:
            name = "setsockopt"
            text = f"setsockopt({fd}, {', '.join(f'{k}' for k in options)})"
    error = ""
    # What was measured: whether the thread slept, and each socket as the system had it
    # once the call returned (accept's record measures the socket it made).
    measured = {}
    for r in group:
        if "local" in r["args"]:
            at = int(r["args"]["new"]) if r["call"] == "accept" else int(r["args"].get("fd", r["result"]))
            measured[at] = {k: r["args"].get(k) for k in ("local", "peer", "state")}
    facts = {"slept": sum(int(r["args"].get("slept", 0)) for r in group),
             "fd": int(fd) if str(fd).isdigit() else None, "measured": measured,
             "layer": [system_call(r) for r in group]}
    if main["end"] is None:
        return dict(facts, name=name, call=text, result="", error="", unfinished=True,
                    text=f"{text} … (never returned: the program ended)", calls=names)
    if name in ("_sleep", "Sleep", "usleep", "nanosleep", "sleep"):
        return dict(facts, name=name, call=text, result="", error="", text=text, calls=names)
    if result < 0:
        culprit = failed or main
        error = winsock_error(culprit["call"], culprit["errno"], datagram)
        outcome = f"-1 {error}"
    elif name == "getaddrinfo" and result > 0:
        outcome = f"{result} (not found)"
    elif name == "closesocket" or name == "WSAIoctl":
        outcome = "0"
    else:
        outcome = str(result)
    peer = ""
    if name in ("accept", "recvfrom") and result >= 0 and a.get("addr", "-") != "-":
        peer = f" ← {a['addr']}"
    if result < 0:
        culprit = failed or main
        error = f"{errno.errorcode.get(culprit['errno'], culprit['errno'])} → {error}"
    return dict(facts, name=name, call=text, result=outcome + peer, error=error,
                text=f"{text} = {outcome}{peer}", calls=names)


def program_events(directory, label, charset=None):
    """A program's calls and its console, as events; the final character it waits for at
    its end is left out (the exchange is over by then)."""
    raw = records(f"{directory}/{label}.calls")
    if raw and is_console(raw[-1]) and raw[-1]["call"] == "read" and raw[-1]["end"] is not None:
        raw.pop()
    where_in_main(raw)
    charset = charset or ("cp850" if label.startswith("chat") else "latin-1")
    datagram_sockets = {r["result"] for r in raw if r["call"] == "socket"
                        and r["args"].get("type") == "SOCK_DGRAM"}
    events, group = [], []

    def flush():
        if not group:
            return
        first, last = group[0], group[-1]
        fd = next((int(r["args"]["fd"]) for r in group if "fd" in r["args"]), -1)
        code = statement(last["file"], last["line"]) if last["line"] else ""
        call = winsock_call(group, fd in datagram_sockets or (
            first["call"] == "socket" and first["result"] in datagram_sockets), code)
        events.append(dict(call, kind="call", process=label, source=source(last), code=code,
                           start=first["start"], end=last["end"] or NEVER))
        group.clear()

    for r in raw:
        if is_console(r):
            flush()
            mark = "»" if r["call"] == "write" else "«"
            text = shown(r["args"].get("text", "-"), charset)
            if r["call"] == "read" and not text:
                text = "(end of input)"
            events.append({"kind": "console", "name": r["call"], "process": label,
                           "text": f"{mark} {text}", "start": r["start"], "end": r["end"],
                           "slept": int(r["args"].get("slept", 0))})
            continue
        if group and (group[-1]["file"], group[-1]["line"], group[-1].get("function")) != (
                r["file"], r["line"], r.get("function")):
            flush()
        if group and any(g["call"] in SOCKET_CALLS for g in group) and r["call"] in SOCKET_CALLS:
            flush()
        group.append(r)
    flush()
    return events
