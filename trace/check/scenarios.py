"""The exchanges that a check plays against a program in the place of one of ours: for each
role, what the checker's own end does (the peer) and what is typed at the program's console.

A scenario is a list of steps, played in order:
    ("listen",)          the peer listens on TCP port 1609 (a chat server of its own, or a
                         port already taken)
    ("bind",)            the peer holds UDP port 37
    ("start",)           the program starts
    ("connect",)         the peer connects to 127.0.0.1:1609 from port 40001, as soon as
                         something listens there
    ("accept",)          the peer accepts the program's connection
    ("send", BYTES)      the peer sends BYTES on its connection
    ("close",)           the peer closes its connection
    ("request", BYTES)   the peer sends BYTES to 127.0.0.1:37 once the program has bound a
                         UDP port, and waits for the answer
    ("answer", BYTES)    the peer waits for the program's request on port 37, answers BYTES
    ("type", BYTES)      BYTES typed at the program's console
    ("eof",)             the console's input ends
    ("pause", MS)
Each wait has its deadline (WAIT_S); the program must end within END_S of its last input."""

CHAT_PORT = 1609
TIME_PORT = 37
PEER_PORT = 40001
RECORD = 140
WAIT_S = 5
END_S = 6

# The answer the checker's time server gives: 2026-12-10 12:00:00 UTC, since 1900.
ANSWER = (1796904000 + 2208988800).to_bytes(4, "big")


def record(text):
    """A chat record as our server sends it: the line as typed, then zeros up to 140."""
    return text.ljust(RECORD, b"\0")


LONG_LINE = b"Un message plus long qu'un enregistrement: " + b"0123456789" * 18 + b"\n"

SCENARIOS = {
    "chatserver": [
        ("chat", "a chat of three lines, the second longer than a record, then \"bye\"",
         [("start",), ("connect",), ("type", b"Bonjour\n"), ("type", LONG_LINE),
          ("type", b"bye\n"), ("type", b"\n")]),
        ("end-of-input", "the console's input ends after one line, without \"bye\"",
         [("start",), ("connect",), ("type", b"Salut\n"), ("eof",)]),
        ("port-taken", "port 1609 is already taken when the server starts",
         [("listen",), ("start",), ("type", b"\n")]),
    ],
    "chatclient": [
        ("chat", "three records, the second with accented letters, then \"bye\"",
         [("listen",), ("start",), ("accept",), ("send", record(b"Bonjour\n")),
          ("pause", 100), ("send", record(b"Caf\x82, cr\x8ame, d\x82j\x85\n")), ("pause", 100),
          ("send", record(b"bye\n")), ("pause", 300), ("type", b"\n")]),
        ("server-leaves", "the server closes the connection after one record",
         [("listen",), ("start",), ("accept",), ("send", record(b"Salut\n")), ("pause", 100),
          ("close",), ("pause", 300), ("type", b"\n")]),
        ("no-server", "nothing listens on port 1609",
         [("start",), ("pause", 300), ("type", b"\n")]),
    ],
    "timeserver": [
        ("request", "one empty request, answered with the time",
         [("start",), ("request", b""), ("type", b"\n")]),
        ("port-taken", "port 37 is already taken when the server starts",
         [("bind",), ("start",), ("pause", 300), ("type", b"\n")]),
    ],
    "timeclient": [
        ("answer", "the server answers 2026-12-10 12:00:00 UTC",
         [("bind",), ("start",), ("answer", ANSWER), ("pause", 300), ("type", b"\n")]),
        ("refused", "nothing listens on port 37: the request is refused",
         [("start",), ("pause", 300), ("type", b"\n")]),
        ("short-answer", "the server answers 2 bytes",
         [("bind",), ("start",), ("answer", b"\x00\x01"), ("pause", 300), ("type", b"\n")]),
    ],
}

SERVICE = {"chatserver": "chat", "chatclient": "chat", "timeserver": "time",
           "timeclient": "time"}
CHARSET = {"chat": "cp850", "time": "latin-1"}
PORT = {"chat": CHAT_PORT, "time": TIME_PORT}
