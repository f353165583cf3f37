# The lesson silent-network: how it is played, and what each step of its run teaches (the format:
# trace/lessons/README.md).

summary="the client's machine falls silent mid-chat: the record sent again and again, until the 8 s limit; then 10060"

# The capture watches the link between the two machines, not the loopback: the play starts
# it once that link is up.
own_capture=yes

play() { # WORK
    local work=$1 client_net
    # The client's machine: a network namespace of its own, joined to this one by a veth
    # pair; the capture watches this end of it.
    unshare --net sleep 120 &
    holder=$!
    client_net=/proc/$holder/ns/net
    for _ in $(seq 100); do
        [ "$(readlink "$client_net")" != "$(readlink /proc/self/ns/net)" ] && break
        sleep 0.05
    done
    ip link add eth0 type veth peer name eth0 netns "$holder"
    ip addr add 192.0.2.1/24 dev eth0
    ip link set eth0 up
    nsenter --net="$client_net" ip addr add 192.0.2.2/24 dev eth0
    nsenter --net="$client_net" ip link set eth0 up
    nsenter --net="$client_net" ip link set lo up
    capture "$work" eth0
    start_server "$work" chatserver
    CLIENT_NET=$client_net start_client "$work" chatclient "Attendez que le serveur" 4 192.0.2.1
    say "$work" "Bonjour, tu me lis ?" 1
    note "$work" chatclient "the client's machine falls silent: ip route add blackhole 192.0.2.1/32"
    nsenter --net="$client_net" ip route add blackhole 192.0.2.1/32
    say "$work" "Tu me lis toujours ?" 2
    sleep 9 # past the 8 s that a record may go unacknowledged
    say "$work" "Et maintenant ?" 3
    say "$work" "bye" 4
    wait_for "$work/chatserver.out" "Fermeture du serveur"
    printf '\n' >&3
    note "$work" chatclient "chatclient is stopped (Ctrl-C)"
    kill -INT "${pids[chatclient]}" 2> /dev/null || true
    wait_programs
    kill "$holder"
    exchanges "$work" '{"name": "silent-network", "title": "The client'"'"'s machine falls silent in the middle of the chat",
  "left": ["chatserver"], "right": ["chatclient"], "ports": [1609]}'
}

: << 'STEPS'
left	^send\(\d+, 140 bytes\) = 140$	The first line is sent.
right	^▸ the client's machine falls silent	The client's machine falls silent: nothing
    it sends gets out.
left	^send\(\d+, 140 bytes\) = 140$	The next send still succeeds: the system took the
    bytes and sent them; nothing says yet that no one acknowledges them.
left	^» \(Msg envoy	The server calls the line sent.
right	^recv\(\d+, 140\) …$	The client did receive that record: its console shows the line,
    and its next receive waits. Only its acknowledgement was lost on the way back, so the
    sender cannot know that the record arrived.
wire	^PSH ACK 140 \(again\)$	No acknowledgement comes: the system sends the same record
    again, a retransmission (the word Wireshark uses)...
wire	^PSH ACK 140 \(again\)$	... and again: after the first two, each retransmission waits
    about twice as long as the one before (the page gives each wait), until the limit.
left	^send\(.*\) = -1 WSAETIMEDOUT \(10060\)$	The record went unacknowledged for
    longer than the 8 s limit (TCP_MAXRT): the system gave the connection up, and the next
    send fails with WSAETIMEDOUT (10060).
left	^» /! Msg non envoy	The server says that the line was not sent.
STEPS
