# The lesson client-gone: how it is played, and what each step of its run teaches (the format:
# trace/lessons/README.md).

summary='the client ends mid-chat: its FIN; the next line still "sent", answered by RST; the one after fails with 10054'

play() { # WORK
    local work=$1
    start_server "$work" chatserver
    start_client "$work" chatclient
    say "$work" "Bonjour, tu me lis ?" 1
    note "$work" chatclient "chatclient ends (Ctrl-C): the system closes its socket"
    kill -INT "${pids[chatclient]}"
    wait_programs chatclient
    say "$work" "Tu me lis encore ?" 2
    say "$work" "Et maintenant ?" 3
    say "$work" "bye" 4
    wait_for "$work/chatserver.out" "Fermeture du serveur"
    printf '\n' >&3
    wait_programs
    exchanges "$work" '{"name": "client-gone", "title": "The client ends in the middle of the chat",
  "left": ["chatserver"], "right": ["chatclient"], "ports": [1609]}'
}

: << 'STEPS'
right	^▸ chatclient ends	The client's program ends in the middle of the chat; the
    system closes its socket for it.
wire	^FIN ACK$	Its FIN says that the client will send no more; it does not say that
    it will read no more.
wire	^PSH ACK 140$	So the server's next record goes out as any other.
wire	^RST$	The client's side has no socket left to take it: it answers with a reset
    (RST).
left	^send\(\d+, 140 bytes\) = 140$	The send returns 140 all the same: it says that the
    system took the bytes, not that anyone read them.
left	^» \(Msg envoy	The server calls the line sent.
left	^send\(.*\) = -1 WSAECONNRESET \(10054\)$	The send after the reset fails:
    WSAECONNRESET (10054), the connection was reset.
left	^» /! Msg non envoy	Only now does the server say that a line was not sent.
STEPS
