"""The page around the ladders: its style, and the legend that says what each mark is and
how it was measured."""

PAGE = """<!DOCTYPE html>
<html lang="en"><head><meta charset="utf-8"><title>{title}</title>
<style>
body {{ font-family: sans-serif; margin: 0.5em 0.3em; max-width: 1366px; }}
p {{ max-width: 1300px; }}
svg {{ font-family: monospace; font-size: 12px; }}
.head {{ font: bold 15px sans-serif; }}
.lane line {{ stroke: #444; stroke-width: 2; }}
.lane.program line {{ stroke: #bbb; stroke-width: 1; stroke-dasharray: 2 3; }}
.lane.system line {{ stroke: #999; stroke-dasharray: 8 4; }}
.lane-head {{ font-size: 10px; fill: #333; }}
.state {{ font-size: 9px; fill: #6d4c41; }}
.time, .gap {{ fill: #777; font-size: 11px; }}
.call {{ fill: #00468c; }}
.failed {{ fill: #c62828; font-weight: bold; }}
.layer {{ fill: #5c6bc0; font-size: 10px; }}
.console {{ fill: #2f7d32; font-style: italic; }}
.note {{ fill: #6a1b9a; font-weight: bold; }}
.packet line {{ stroke: #b23c17; stroke-width: 1.5; }}
.packet text {{ fill: #b23c17; }}
.packet .numbers {{ fill: #8d6e63; font-size: 10px; }}
.again line {{ stroke-dasharray: 6 3; }}
.reset line {{ stroke: #c62828; stroke-width: 2.5; }}
.reset text {{ fill: #c62828; }}
.icmp line {{ stroke: #8e24aa; stroke-width: 2.5; }}
.icmp text {{ fill: #8e24aa; }}
.legend {{ font-size: 12px; }}
.blocked {{ fill: #f2c14e; }}
.through {{ stroke: #9e9e9e; stroke-width: 1; }}
.after {{ stroke: #444; stroke-width: 1; stroke-dasharray: 3 3; }}
.source {{ font-size: 11px; }}
.step circle {{ fill: #1565c0; }}
.step text {{ fill: white; font: bold 10px sans-serif; }}
.story {{ max-width: 1300px; }}
.story li {{ margin: 0.3em 0; }}
.story .at {{ color: #777; font-family: monospace; }}
.story .unseen {{ color: #c62828; }}
.where {{ fill: #777; }}
.code {{ fill: #222; }}
</style></head><body>
<h1>{title}</h1>
<p>Time runs down the page, one row per event, with the time since the first
<code>socket</code>; a gap of more than 5 ms says its length (⋮). Each side has a lane for
each program (dotted: its console and its pauses, ending with its last row) and one for
each of its sockets, from the
call that made it to its close, marked where the program's end closed it; a port that no
traced socket holds is the system's lane (dashed). Beside the lanes, the Winsock calls
that the code makes (blue, red where they fail) with, below a call, the system calls that
the layer made for it (↳); the console (green: » written to it, « typed at it). A yellow
bar stands where the thread slept in the call, as its voluntary context switches measured
it; a grey line where packets crossed while the call ran straight through. Each TCP
socket's state is shown where it changed: under each exchange's heading, which
measurement it comes from. Every packet that crossed is an arrow from the lane of
the socket whose addresses it carries to the lane of the socket that it reached, with its
TCP flags, its bytes counted from each side's first sequence number, dashed where it is
the same bytes sent again (with the time since the time before), red for a reset, purple
for an ICMP error, with the ports it goes from and to; its tooltip says what it carried and which call sent it, or that the system
sent it on its own. At the right, the line of code behind each call. A return marked ≈ may
have come before the other program's rows just above it, back to the last packet that the
call sent or waited for: its clock is read only after it returns.</p>
<svg width="0" height="0"><defs><marker id="arrow" markerWidth="10" markerHeight="8"
 refX="10" refY="4" orient="auto"><path d="M0,0 L10,4 L0,8 z" fill="#b23c17"/></marker>
</defs></svg>
{sections}
</body></html>
"""
