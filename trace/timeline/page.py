"""The timeline as a page: a ladder for each exchange, in SVG, that any browser opens."""
import html

from .model import cell, fit, heading, rows, time_of


def svg(plan, events):
    """The ladder: a line for each side, time downwards a row at a time, each packet an
    arrow between the lines, each call and console text beside its program's line, and
    the line of code behind each call at the right."""
    table = rows(events)
    step, top = 22, 60
    # Each text column is as wide as 48 characters, so that none runs into the times at
    # the left or into the lines of code at the right.
    x_left, x_right, x_code, width = 470, 810, 1180, 1900
    height = top + step * (len(table) + 1)
    begin = events[0]["at"] - events[0]["at_ms"] * 1e6 if events else 0
    title = html.escape(plan["title"])
    out = [f'<section><h2>{title}</h2>',
           f'<svg xmlns="http://www.w3.org/2000/svg" width="{width}" height="{height}" '
           f'viewBox="0 0 {width} {height}">',
           f'<text class="head" x="{x_left}" y="30" text-anchor="middle">'
           f'{html.escape(heading(plan, "left"))}</text>',
           f'<text class="head" x="{x_right}" y="30" text-anchor="middle">'
           f'{html.escape(heading(plan, "right"))}</text>',
           f'<text class="head" x="{x_code}" y="30">the line of code</text>',
           f'<line class="life" x1="{x_left}" y1="40" x2="{x_left}" y2="{height}"/>',
           f'<line class="life" x1="{x_right}" y1="40" x2="{x_right}" y2="{height}"/>']
    where = {}
    for row, (at, e, part) in enumerate(table):
        y = top + step * row
        where[(id(e), part)] = y
        out.append(f'<text class="time" x="8" y="{y + 4}">{time_of(at, begin):.3f} ms</text>')
        if e["side"] == "wire":
            x1, x2 = (x_left, x_right) if e["to_right"] else (x_right, x_left)
            kind = "packet again" if e["retransmission"] else "packet"
            out.append(f'<g class="{kind}"><title>{html.escape(e["during"])}</title>'
                       f'<line x1="{x1}" y1="{y}" x2="{x2}" y2="{y}" '
                       f'marker-end="url(#arrow)"/><text x="{(x_left + x_right) / 2}" '
                       f'y="{y - 4}" text-anchor="middle">{html.escape(e["name"])}</text></g>')
            continue
        left = e["side"] == "left"
        x = x_left - 10 if left else x_right + 10
        anchor = "end" if left else "start"
        text = cell(e, part)
        out.append(f'<text class="{e["kind"]}" x="{x}" y="{y + 4}" text-anchor="{anchor}">'
                   f'<title>{html.escape(text)}</title>'
                   f'{html.escape(fit(text, 48, e["kind"] == "call"))}</text>')
        if e["kind"] == "call" and part != "returns":
            code = e["code"] if len(e["code"]) <= 64 else e["code"][:63] + "…"
            out.append(f'<text class="source" x="{x_code}" y="{y + 4}">'
                       f'<tspan class="where">{html.escape(e["source"])}</tspan> '
                       f'<tspan class="code">{html.escape(code)}</tspan></text>')
        if part == "returns":
            x = x_left if left else x_right
            y0 = where[(id(e), "begins")]
            out.append(f'<rect class="blocked" x="{x - 4}" y="{y0}" width="8" '
                       f'height="{y - y0}"><title>{html.escape(e["name"])} blocks</title></rect>')
    out.append("</svg></section>")
    return "\n".join(out)


PAGE = """<!DOCTYPE html>
<html lang="en"><head><meta charset="utf-8"><title>{title}</title>
<style>
body {{ font-family: sans-serif; margin: 1em 2em; }}
svg {{ font-family: monospace; font-size: 12px; }}
.head {{ font: bold 15px sans-serif; }}
.life {{ stroke: #444; stroke-width: 2; }}
.time {{ fill: #777; }}
.call {{ fill: #00468c; }}
.console {{ fill: #2f7d32; font-style: italic; }}
.note {{ fill: #6a1b9a; font-weight: bold; }}
.packet line {{ stroke: #b23c17; stroke-width: 1.5; }}
.packet text {{ fill: #b23c17; }}
.again line {{ stroke-dasharray: 6 3; }}
.blocked {{ fill: #f2c14e; }}
.where {{ fill: #777; }}
.code {{ fill: #222; }}
</style></head><body>
<h1>{title}</h1>
<p>Each program's line runs down the page, one row per event, with the time since the
first <code>socket</code>. Beside each line, the Winsock calls that its code makes (blue;
a yellow bar while a call waits while something else happens) and its console (green:
» written to it, « typed at it); between the lines, every packet that crossed (red), with
its TCP flags and the bytes it carried, dashed where it is the same bytes sent again; at
the right, the line of the program's code that made each call. A packet's tooltip names
the call during which it crossed. A return marked ≈ may have come before the other
program's rows just above it, back to the last packet that the call sent or waited for:
its clock is read only after it returns.</p>
<svg width="0" height="0"><defs><marker id="arrow" markerWidth="10" markerHeight="8"
 refX="10" refY="4" orient="auto"><path d="M0,0 L10,4 L0,8 z" fill="#b23c17"/></marker>
</defs></svg>
{sections}
</body></html>
"""
