"""The timeline in the terminal: a row for each event, the two sides and the wire between
them, the line of code at the right."""
from .model import cell, fit, heading, rows, shows_layer, time_of


UNORDERED = """≈ a return that the clocks cannot set in order with the other program's rows above it,
  back to the last packet that the call sent or waited for: its clock is read after it
  returns, so either may have come first."""


def wire_cell(event):
    return f"{event['name']} ──▶" if event["to_right"] else f"◀── {event['name']}"


def terminal(plan, events):
    widths = (40, 24, 40)
    left, right = heading(plan, "left"), heading(plan, "right")
    print(f"\n======== {plan['title']} ========")
    print(f"{'ms':>9} | {left:<{widths[0]}} | {'wire':^{widths[1]}} | "
          f"{right:<{widths[2]}} | source")
    begin = events[0]["at"] - events[0]["at_ms"] * 1e6 if events else 0
    last = None
    for at, e, part in rows(events):
        # A gap of more than a few milliseconds, with its length.
        if last is not None and at - last > 5e6:
            print(f"{'⋮':>9} | {(at - last) / 1e6:.1f} ms")
        last = at
        columns = ["", "", ""]
        source = e.get("source", "") if e["kind"] == "call" else ""
        if e["side"] == "wire":
            columns[1] = wire_cell(e)
        else:
            columns[0 if e["side"] == "left" else 2] = cell(e, part)
        # A note is said whole; a call keeps its result.
        text = [c if e["kind"] == "note" else fit(c, w, e["kind"] == "call")
                for c, w in zip(columns, widths)]
        print(f"{time_of(at, begin):9.3f} | {text[0]:<{widths[0]}} | {text[1]:^{widths[1]}} | "
              f"{text[2]:<{widths[2]}} | {source}".rstrip())
        # The system calls that the layer made for a Winsock call, where they are not just
        # the one its name says, or where it failed: errno beside Winsock's number.
        layer = e.get("layer", [])
        if part != "returns" and shows_layer(e) or part != "begins" and e.get("error"):
            said = "; ".join(layer) + (f" → {e['error'].split(' → ')[-1]}" if e.get("error") else "")
            print(" " * (12 if e["side"] == "left" else 82) + f"↳ {said}")
    if any(e.get("unordered") for e in events):
        print(UNORDERED)
