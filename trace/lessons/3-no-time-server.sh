# The lesson no-time-server: how it is played, and what each step of its run teaches (the format:
# trace/lessons/README.md).

summary='a time request where nothing listens: ICMP port unreachable; the next recvfrom fails with 10054, where plain POSIX code waits on'

# Before the play, outside its network: the time client as plain POSIX code would have it,
# without the layer's IP_RECVERR on its socket.
prepare() { # WORK
    scratch_build "$1" plain platform/winsock.hpp \
        's/if (type == SOCK_DGRAM \&\& REPORT_REFUSED != 0) {/if (false) { \/\/ plain POSIX: no IP_RECVERR/' \
        timeclient
    export PLAIN_BUILD=$1/plain/build
}

play() { # WORK
    local work=$1
    start_client "$work" timeclient "10054"
    printf '\n' >&4
    wait_programs
    # The same request in plain POSIX code: nothing to wait for in its console.
    start_client "$work" timeclient-plain - 5
    sleep 1
    note "$work" timeclient-plain "timeclient-plain still waits after a second; it is stopped (Ctrl-C)"
    kill -INT "${pids[timeclient-plain]}"
    wait_programs
    exchanges "$work" '{"name": "no-time-server", "title": "A time request where nothing listens",
  "left": [], "right": ["timeclient", "timeclient-plain"], "ports": [37], "left_title": "port 37: nothing listens"}'
}

: << 'STEPS'
right	^timeclient: sendto\(\d+, 0 bytes, 127\.0\.0\.1:37\)	The client sends its empty
    request to port 37.
wire	^UDP 0$	The datagram crosses, and nothing listens on port 37.
wire	^ICMP port unreachable$	The system answers with an ICMP error, port unreachable.
right	^timeclient: sendto\(.*\) = 0$	sendto has already succeeded: a datagram sent is all
    that it reports.
right	^timeclient: recvfrom\(.*\) = -1 WSAECONNRESET \(10054\)$	The refusal shows on the next
    call, the receive: WSAECONNRESET (10054), because the layer asked for such errors with
    IP_RECVERR when it made the socket.
right	^timeclient: » La r.ception a .chou.: num.ro d'erreur 10054	The client prints it.
wire	^UDP 0$	The same request from plain POSIX code, whose socket was made without IP_RECVERR...
wire	^ICMP port unreachable$	... meets the same ICMP error...
right	^timeclient-plain: recvfrom\(.*never returned	... but nothing reports it to an
    unconnected UDP socket: its recvfrom waits on, until the program is stopped. Stevens
    calls this an asynchronous error: only a connected socket (or IP_RECVERR) hears of it.
STEPS
