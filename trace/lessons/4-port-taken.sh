# The lesson port-taken: how it is played, and what each step of its run teaches (the format:
# trace/lessons/README.md).

summary='a second server on a port in use: bind fails with 10048; a server started again over TIME_WAIT binds'

# Before the play, outside its network: the chat server as plain POSIX code would have it,
# without the layer's SO_REUSEADDR in bind.
prepare() { # WORK
    scratch_build "$1" plain platform/winsock.hpp \
        's/if (socket_type(s) == SOCK_STREAM) {/if (false) { \/\/ plain POSIX: no SO_REUSEADDR/' chatserver
    export PLAIN_BUILD=$1/plain/build
}

play() { # WORK
    local work=$1
    start_server "$work" chatserver
    # A second server while the first listens.
    start_server "$work" chatserver-2 "Fermeture du serveur" 5
    printf '\n' >&5
    wait_programs chatserver-2
    # A chat that the server ends first (its console closed, as Ctrl-D does): its side of
    # the connection then waits in TIME_WAIT.
    start_client "$work" chatclient
    exec 3>&-
    wait_for "$work/chatclient.out" "Fin de la discussion"
    printf '\n' >&4
    wait_programs chatserver chatclient
    note "$work" chatserver "ss -tan: $(ss -Htan state time-wait | awk '{print $3, "↔", $4}' | head -1) in TIME-WAIT"
    # A server started again at once binds, as on Windows.
    start_server "$work" chatserver-3 "Attente d'un client" 5
    note "$work" chatserver-3 "chatserver-3 is stopped (Ctrl-C)"
    kill -INT "${pids[chatserver-3]}"
    wait_programs chatserver-3
    # The same restart in plain POSIX code, while the old connection is still in TIME_WAIT.
    start_server "$work" chatserver-plain "Fermeture du serveur" 5
    printf '\n' >&5
    wait_programs
    exchanges "$work" '{"name": "port-taken", "title": "A second server on a port in use, and a server started again over TIME_WAIT",
  "left": ["chatserver", "chatserver-2", "chatserver-3", "chatserver-plain"], "right": ["chatclient"], "ports": [1609]}'
}

: << 'STEPS'
left	^chatserver: listen\(\d+, 5\) = 0$	The first server listens on port 1609.
left	^chatserver-2: bind\(\d+, 0\.0\.0\.0:1609\) = -1 WSAEADDRINUSE \(10048\)$	A
    second server's bind fails: WSAEADDRINUSE (10048), the address is in use.
left	^chatserver: « \(end of input\)$	The first server's console is closed, as
    Ctrl-D does: the chat ends from its side.
wire	^FIN ACK$	The server's FIN goes first; the side that closes first keeps the
    connection a while in TIME_WAIT.
left	^chatserver: ▸ ss -tan: 127\.0\.0\.1:1609 ↔ 127\.0\.0\.1:\d+ in TIME-WAIT$	ss
    shows the old connection on port 1609 in TIME-WAIT.
left	^chatserver-3: bind\(\d+, 0\.0\.0\.0:1609\) = 0$	A server started again binds
    port 1609 all the same, as on Windows: its layer sets SO_REUSEADDR, which allows a port
    whose old connections are in TIME_WAIT (and still refuses one that a socket listens on).
left	^chatserver-plain: bind\(\d+, 0\.0\.0\.0:1609\) = -1 WSAEADDRINUSE \(10048\)$	The same restart in
    plain POSIX code, without the layer's SO_REUSEADDR (its bind makes no setsockopt): bind
    fails with EADDRINUSE (WSAEADDRINUSE, 10048) for as long as the old connection stays in
    TIME_WAIT, a minute on Linux. Restarting a server at once and finding its port taken is a
    beginner's classic; SO_REUSEADDR before bind is what mends it.
STEPS
