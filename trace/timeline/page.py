"""The timeline as a page: a ladder for each exchange, in SVG, that any browser opens."""
import html
import re
import textwrap

from .calls import NEVER
from .model import cell, fit, heading, rows, shows_layer, time_of


# Across 1366 pixels: the time, the left side's texts, its lanes, the wire, the right
# side's lanes and texts, and the line of code.
WIDTH, STEP, TOP, GAP = 1340, 24, 70, 5e6
TEXT = 36  # characters of a side's text
X_LEFT_TEXT, X_LEFT_LANE, X_RIGHT_LANE, X_RIGHT_TEXT, X_CODE = 352, 366, 726, 742, 1000
CODE = 27  # characters of code behind its place
NOTE_LINE = 13
LANE = 24


def lanes(plan, events, sockets):
    """Each side's lanes, from the outside in: a line for each program (its console, its
    pauses), one for each of its sockets, and the system's where a packet reaches a port
    that no traced socket holds. Returns {(kind, label): x}, in that order."""
    where = {}
    for side, sign, x0 in (("left", 1, X_LEFT_LANE), ("right", -1, X_RIGHT_LANE)):
        keys = [("program", label) for label in plan[side]]
        keys += [("socket", s["label"]) for s in sockets if s["side"] == side]
        for p in events:
            if p["kind"] == "packet":
                end = p["sender"] if p["to_right"] == (side == "left") else p["receiver"]
                if end.startswith("port ") and ("system", end) not in keys:
                    keys.append(("system", end))
        for i, key in enumerate(keys):
            where[key] = x0 + sign * i * LANE
    return where


def svg(plan, events, sockets, story=()):
    """The ladder: time downwards a row at a time; on each side a lane for each program and
    each of its sockets, the calls and console texts beside them; each packet an arrow
    from the lane of the socket that sent it to the lane of the one it reached, with its
    bytes; the line of code behind each call at the right."""
    table = rows(events)
    x = lanes(plan, events, sockets)
    by_label = {s["label"]: s for s in sockets}
    begin = events[0]["at"] - events[0]["at_ms"] * 1e6 if events else 0
    # Each row's height; a longer gap than GAP gets room for its length.
    ys, y, last = [], TOP, None
    for at, e, part in table:
        if last is not None and at - last > GAP:
            y += STEP // 2
        ys.append(y)
        # A note is said whole, over as many lines as it takes.
        lines = len(textwrap.wrap(cell(e, part), TEXT)) if e["kind"] == "note" else 1
        y, last = y + STEP + (lines - 1) * NOTE_LINE, at
    height = y + STEP
    title = html.escape(plan["title"])
    by_kernel = any(sock.get("states_by") == "kernel" for sock in sockets)
    how = ("TCP states as the kernel changed them (its tracepoint sock:inet_sock_set_state; "
           "after a CLOSE that hands it to a timewait socket, a connection goes on unseen until "
           "sock_diag reads its TIME_WAIT at the end)" if by_kernel else
           "TCP states as read from each socket when one of its calls returned (TCP_INFO); "
           "the kernel's own changes were not read (that takes root): a change between two "
           "calls shows at the later one")
    told = "".join(f'<li value="{i}"><span class="at">{time_of(table[row][0], begin):.3f} ms'
                   f'</span> <code>{html.escape(text)}</code><br>{html.escape(meaning)}</li>'
                   if row is not None else
                   f'<li value="{i}" class="unseen">(not seen in this run) {html.escape(meaning)}</li>'
                   for i, (meaning, _, row, text) in enumerate(story, 1))
    out = [f'<section><h2>{title}</h2>',
           f'<h3>What happened, and why</h3><ol class="story">{told}</ol>' if story else "",
           f'<p class="states-by">{html.escape(how)}.</p>' if any(
               not sock["datagram"] for sock in sockets) else "",
           f'<svg xmlns="http://www.w3.org/2000/svg" width="{WIDTH}" height="{height}" '
           f'viewBox="0 0 {WIDTH} {height}">',
           f'<text class="head" x="{X_LEFT_TEXT}" y="20" text-anchor="end">'
           f'{html.escape(heading(plan, "left"))}</text>',
           f'<text class="head" x="{X_RIGHT_TEXT}" y="20">{html.escape(heading(plan, "right"))}</text>',
           f'<text class="head" x="{X_CODE}" y="20">the line of code</text>']

    def row_of(ns):
        """The row of what happened at NS: the last one at or before it."""
        return max((ys[i] for i, (at, _, _) in enumerate(table) if at <= ns), default=TOP)

    ends_said = {}
    for key, lx in x.items():
        kind, label = key
        sock = by_label.get(label)
        y0 = row_of(sock["opened"]) if sock else TOP
        y1 = row_of(sock["closed"]) if sock and sock["closed"] else height - STEP
        if kind == "program":  # a program's line ends with its last row
            y1 = max((ys[i] for i, (_, e, _) in enumerate(table) if e.get("process") == label),
                     default=y1)
        short = label.split(" socket ")[-1] if sock else label
        name = f"socket {short}" if sock else label
        out.append(f'<g class="lane {kind}"><title>{html.escape(lane_title(kind, label, sock))}'
                   f'</title><line x1="{lx}" y1="{y0}" x2="{lx}" y2="{y1}"/>'
                   + (f'<text class="lane-head" x="{lx}" y="{y0 - 6 if sock else 40}" '
                      f'text-anchor="middle">{html.escape(name)}</text>' if kind != "program" else "")
                   + '</g>')
        # A connection outlives its socket's close: its packets still come and go.
        later = [at for at, e, _ in table if e["kind"] == "packet" and sock
                 and label in (e["sender"], e["receiver"]) and at > (sock["closed"] or NEVER)]
        waits_on = sock and sock.get("time_wait_at_end")
        if later or waits_on:
            y2 = height - STEP if waits_on else row_of(max(later))
            out.append(f'<line class="after" x1="{lx}" y1="{y1}" x2="{lx}" y2="{y2}">'
                       f'<title>{html.escape(label)}: closed; its connection lives on in the '
                       f'system</title></line>')
        if waits_on:
            out.append(f'<text class="state" x="{lx + 4 if sock["side"] == "left" else lx - 4}" '
                       f'y="{height - STEP + 10}" text-anchor='
                       f'"{"start" if sock["side"] == "left" else "end"}">TIME_WAIT at the play\'s '
                       f'end, runs on past the page<title>read with sock_diag as the play ended; '
                       f'the kernel\'s tracer does not report when it began</title></text>')
        if sock and sock.get("closed_by_exit") and sock["closed"]:
            # Sockets that the same end closed: one label under the other.
            below = ends_said.setdefault(y1, 0)
            ends_said[y1] += 1
            out.append(f'<text class="state" x="{lx + 4}" y="{y1 + 22 + 12 * below}">closed by '
                       f'the program\'s end</text>')
        if sock:
            # Beside the lane, toward the wire; changes that fall on one row, as one label.
            said = ("as the kernel changed it" if sock.get("states_by") == "kernel"
                    else "read from the socket as a call of it returned")
            on_row = {}
            for at, state in sock["states"]:
                on_row.setdefault(row_of(at), []).append(state)
            left = sock["side"] == "left"
            for y_state, states in on_row.items():
                text = " → ".join(states)
                out.append(f'<text class="state" x="{lx + 4 if left else lx - 4}" '
                           f'y="{y_state + 12}" text-anchor="{"start" if left else "end"}">'
                           f'{html.escape(text)}<title>{html.escape(sock["label"])}: {text}, '
                           f'{said}</title></text>')
    # Each step of the story, its number on the row it speaks of.
    for i, (meaning, _, row, _) in enumerate(story, 1):
        if row is not None:
            out.append(f'<g class="step" data-step="{i}"><title>{html.escape(meaning)}</title>'
                       f'<circle cx="86" cy="{ys[row]}" r="8"/><text x="86" y="{ys[row] + 4}" '
                       f'text-anchor="middle">{i}</text></g>')
    where, last = {}, None
    for row, (at, e, part) in enumerate(table):
        y = ys[row]
        where[(id(e), part)] = y
        if last is not None and at - last > GAP:
            out.append(f'<text class="gap" x="8" y="{y - STEP // 2 + 2}">⋮ {(at - last) / 1e6:.1f} ms'
                       f'</text>')
        last = at
        out.append(f'<text class="time" x="8" y="{y + 4}">{time_of(at, begin):.3f} ms</text>')
        if e["side"] == "wire":
            out.append(arrow(e, y, x))
            continue
        left = e["side"] == "left"
        lx = x.get(lane_key(e, by_label), x.get(("program", e["process"])))
        text = cell(e, part)
        tip = text + (f"\n{e['process']}: " + "; ".join(e["layer"]) if e.get("layer") else "")
        if "slept" in e and part != "begins" and e.get("end"):
            name = "fgets" if e["kind"] == "console" else e["name"]
            tip += (f"\n{name} waited {(e['end'] - e['start']) / 1e6:.1f} ms: its thread slept"
                    if e["slept"] else f"\n{name} returned at once: its thread never slept")
        if e.get("error"):
            tip += f"\n{e['error']}"
        out.append(f'<text class="{e["kind"]}{" failed" if e.get("error") and part != "begins" else ""}" '
                   f'x="{X_LEFT_TEXT if left else X_RIGHT_TEXT}" y="{y + 4}" '
                   f'text-anchor="{"end" if left else "start"}"><title>{html.escape(tip)}</title>'
                   + (note_lines(text, X_LEFT_TEXT if left else X_RIGHT_TEXT) if e["kind"] == "note"
                      else html.escape(fit(text, TEXT, e["kind"] == "call"))) + '</text>')
        if shows_layer(e) and part != "returns":
            out.append(f'<text class="layer" x="{X_LEFT_TEXT if left else X_RIGHT_TEXT}" '
                       f'y="{y + 15}" text-anchor="{"end" if left else "start"}">'
                       f'<title>{html.escape("; ".join(e["layer"]))}</title>'
                       f'{html.escape(fit("↳ " + layer_text(e), TEXT + 8))}</text>')
        if e["kind"] == "call" and part != "returns":
            # The place and the code share the column: a longer path leaves less code.
            room = max(CODE + len("chat/server/main.cpp:88") - len(e["source"]), 12)
            code = e["code"] if len(e["code"]) <= room else e["code"][:room - 1] + "…"
            out.append(f'<text class="source" x="{X_CODE}" y="{y + 4}"><title>'
                       f'{html.escape(e["code"])}</title>'
                       f'<tspan class="where">{html.escape(e["source"])}</tspan> '
                       f'<tspan class="code">{html.escape(code)}</tspan></text>')
        if part == "returns" and lx is not None:
            y0 = where[(id(e), "begins")]
            name = "fgets" if e["kind"] == "console" else e["name"]
            if e.get("slept"):
                out.append(f'<rect class="blocked" x="{lx - 4}" y="{y0}" width="8" '
                           f'height="{y - y0}"><title>{name} waited '
                           f'{(e["end"] - e["start"]) / 1e6:.1f} ms: its thread slept</title></rect>')
            else:
                out.append(f'<line class="through" x1="{lx}" y1="{y0}" x2="{lx}" y2="{y}">'
                           f'<title>{name} returned at once: its thread never slept; what '
                           f'crossed meanwhile, the system did within the call</title></line>')
    out.append("</svg></section>")
    return "\n".join(out)


def layer_text(e):
    """The layer's calls, shortest first: a setsockopt by its option, the call that the
    Winsock name already says left out where others go with it."""
    calls = [re.sub(r"^setsockopt\(\d+, \w+, ", "setsockopt(", c) for c in e["layer"]]
    own = [c for c in calls if not c.startswith(e["name"] + "(")]
    return "; ".join(own if own and len(calls) > 1 else calls)


def note_lines(text, x):
    """A note whole: a line of its text under the other."""
    return "".join(f'<tspan x="{x}" dy="{0 if i == 0 else NOTE_LINE}">{html.escape(line)}</tspan>'
                   for i, line in enumerate(textwrap.wrap(text, TEXT)))


def lane_key(e, by_label):
    """The lane of a call: its socket's; a console text or a pause: its program's."""
    label = f"{e['process']} socket {e.get('fd')}"
    return ("socket", label) if e["kind"] == "call" and label in by_label else ("program", e["process"])


def lane_title(kind, label, sock):
    if kind == "program":
        return f"{label}: its console and its pauses"
    if kind == "system" and "nothing listens" not in label:
        return f"{label}: a program that is not traced holds this port"
    if kind == "system":
        return f"{label}: no traced socket holds this port; the system answers for it"
    return (f"{label}: {'UDP' if sock['datagram'] else 'TCP'}, {sock['local']}"
            + (f" ↔ {sock['peer']}" if sock["peer"] else "")
            + ("; closed by the program's end" if sock.get("closed_by_exit") else ""))


def arrow(p, y, x):
    """A packet: from its sender's lane to its receiver's, with its flags, its bytes and
    what it carried."""
    x1 = x.get(("socket", p["sender"]), x.get(("system", p["sender"])))
    x2 = x.get(("socket", p["receiver"]), x.get(("system", p["receiver"])))
    x1 = x1 if x1 is not None else (X_LEFT_LANE if p["to_right"] else X_RIGHT_LANE)
    x2 = x2 if x2 is not None else (X_RIGHT_LANE if p["to_right"] else X_LEFT_LANE)
    kind = "packet again" if p["retransmission"] else "packet"
    kind += " icmp" if p["name"].startswith("ICMP") else " reset" if "R" in p["flags"] else ""
    label = p["name"] + (f" +{p['again_after_ms']:.0f} ms" if p["again_after_ms"] else "")
    tip = "\n".join(t for t in (f"{p['sender']} → {p['receiver']}", p["numbers"], p["content"],
                                 p["during"]) if t)
    middle = (X_LEFT_LANE + X_RIGHT_LANE) / 2
    return (f'<g class="{kind}" data-from="{html.escape(p["sender"])}" '
            f'data-to="{html.escape(p["receiver"])}"><title>{html.escape(tip)}</title>'
            f'<line x1="{x1}" y1="{y}" x2="{x2}" y2="{y}" marker-end="url(#arrow)"/>'
            f'<text x="{middle}" y="{y - 4}" text-anchor="middle">{html.escape(label)}</text>'
            f'<text class="numbers" x="{middle}" y="{y + 10}" text-anchor="middle">'
            f'{html.escape(ports(p) + p["numbers"])}</text></g>')


def ports(p):
    """The ports a packet goes from and to: where a client knocks, and where it lands."""
    if p["name"].startswith("ICMP"):
        return f"about :{p['about']}; "
    return f":{p['from'].rpartition(':')[2]} → :{p['to'].rpartition(':')[2]}, "
