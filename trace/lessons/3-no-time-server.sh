# The lesson no-time-server: how it is played, and what each step of its run teaches (the format:
# trace/lessons/README.md).

summary='a time request where nothing listens: ICMP port unreachable; the next recvfrom fails with 10054'

play() { # WORK
    local work=$1
    start_client "$work" timeclient "10054"
    printf '\n' >&4
    wait_programs
    exchanges "$work" '{"name": "no-time-server", "title": "A time request where nothing listens",
  "left": [], "right": ["timeclient"], "ports": [37], "left_title": "port 37: nothing listens"}'
}

: << 'STEPS'
right	^sendto\(\d+, 0 bytes, 127\.0\.0\.1:37\)	The client sends its empty request
    to port 37.
wire	^UDP 0$	The datagram crosses, and nothing listens on port 37.
wire	^ICMP port unreachable$	The system answers with an ICMP error, port unreachable.
right	^sendto\(.*\) = 0$	sendto has already succeeded: a datagram sent is all that it
    reports.
right	^recvfrom\(.*\) = -1 WSAECONNRESET \(10054\)$	The refusal shows on the next call,
    the receive: WSAECONNRESET (10054).
right	^» La r.ception a .chou.: num.ro d'erreur 10054	The client prints it.
STEPS
