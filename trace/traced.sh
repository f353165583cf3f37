# Sourced by scripts/demo and scripts/trace: runs the programs traced on a private network,
# and shows what they left. A program's label is its name, with -2, -3 for a second and third run.

declare -A pids

# Runs the program of LABEL with ARGS, its socket and console calls recorded into
# WORK/LABEL.calls, each with the clock's readings before and after it and the line of
# main that made it (libcalls.so, preloaded). Run in the background: it becomes the
# program. CLIENT_NET, where set, is the network namespace it runs in; SERVER_BUILD, where
# set, the build of its chatserver; a label that ends in -plain runs the build of code
# without the layer's help (PLAIN_BUILD).
traced() { # WORK LABEL ARGS...
    local work=$1 label=$2 dir=$PWD/build-demo program=${2%-*}
    shift 2
    [ "$program" != chatserver ] || dir=${SERVER_BUILD:-$dir}
    [ "${label%-plain}" = "$label" ] || dir=$PLAIN_BUILD
    exec 3>&- 4>&- 5>&- # the consoles of the others
    # A script run in the background of another ignores Ctrl-C, and so would its programs;
    # a shell cannot undo that, env can: the lessons' Ctrl-C must reach the program.
    exec env --default-signal=INT SOCKETS_TP_CALLS="$work/$label.calls" \
        LD_PRELOAD="$PWD/build-demo/libcalls.so" \
        ${CLIENT_NET:+nsenter --net="$CLIENT_NET"} "$dir/$program" "$@"
}

# Waits until FILE holds TEXT (COUNT times, or once), at most 20 seconds.
wait_for() { # FILE TEXT [COUNT]
    for _ in $(seq 400); do
        [ "$(grep -ao -- "$2" "$1" 2> /dev/null | wc -l)" -ge "${3:-1}" ] && return 0
        sleep 0.05
    done
    echo "$(basename "$0"): no \"$2\" from $1 in time" >&2
    exit 1
}

# Starts a program whose console is written to through descriptor FD, and waits for TEXT
# (- for none).
start() { # WORK LABEL TEXT FD ARGS...
    local work=$1 label=$2 text=$3 fd=$4
    shift 4
    mkfifo "$work/$label.in"
    traced "$work" "$label" "$@" < "$work/$label.in" > "$work/$label.out" &
    pids[$label]=$!
    eval "exec $fd> \"\$work/\$label.in\""
    [ "$text" = - ] || wait_for "$work/$label.out" "$text"
}

start_server() { # WORK LABEL [TEXT [FD]]
    local waiting="Attente d'un client"
    start "$1" "$2" "${3:-$waiting}" "${4:-3}"
}

start_client() { # WORK LABEL [TEXT [FD [ARGS...]]]
    start "$1" "$2" "${3:-Attendez que le serveur}" "${4:-4}" "${@:5}"
}

# The chat ends on both sides, and each program reads its final character.
finish_chat() { # WORK
    wait_for "$1/chatclient.out" "Fin de la discussion"
    wait_for "$1/chatserver.out" "Fermeture du serveur"
    printf '\n' >&3
    printf '\n' >&4
    wait_programs
    exec 3>&- 4>&-
}

# Whether process PID still runs: neither gone nor a zombie waiting to be reaped. Read from
# /proc, which every Linux has, rather than with ps, which a minimal system lacks.
running() { # PID
    local stat
    stat=$(cat "/proc/$1/stat" 2> /dev/null) || return 1
    stat=${stat##*) }
    [ "${stat:0:1}" != Z ]
}

# Waits for the programs of LABELS (or all), at most 20 seconds each; one that has not
# ended by then is killed, and the play fails.
wait_programs() { # [LABELS...]
    local label pid
    [ $# -gt 0 ] || set -- "${!pids[@]}"
    for label in "$@"; do
        pid=${pids[$label]}
        unset "pids[$label]"
        for _ in $(seq 400); do
            if ! running "$pid"; then
                wait "$pid" 2> /dev/null || true
                continue 2
            fi
            sleep 0.05
        done
        kill -KILL "$pid" 2> /dev/null || true
        echo "$(basename "$0"): $label did not end in time" >&2
        exit 1
    done
}

# Types LINE at the chat server's console (descriptor 3), then waits until the server has
# said that it was sent, or not: COUNT answers in all so far.
say() { # WORK LINE COUNT
    printf '%s\n' "$2" >&3
    wait_for "$1/chatserver.out" "Msg \(non \)\?envoy" "$3"
}

# A program as a learner might write it, built in a scratch copy of the sources (WORK/NAME)
# where SED changes FILE: the lessons' faulty chat servers (SERVER_BUILD), and the programs
# without the layer's help (PLAIN_BUILD).
scratch_build() { # WORK NAME FILE SED TARGET
    mkdir "$1/$2"
    cp -r CMakeLists.txt cmake platform chat time_service trace packaging "$1/$2"
    sed -i "$4" "$1/$2/$3"
    echo "demo: what differs from $3:"
    diff "$3" "$1/$2/$3" | sed -n 's/^[<>] */  &/p' || true
    step "building that $5 in a scratch copy" \
        cmake -S "$1/$2" -B "$1/$2/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSOCKETS_TP_TESTS=OFF
    step "" cmake --build "$1/$2/build" -j"$(nproc)" --target "$5"
}

scratch_server() { # WORK SED
    scratch_build "$1" copy chat/server/main.cpp "$2" chatserver
    export SERVER_BUILD=$1/copy/build
}

# What the play did to a program, on its side of the timeline.
note() { # WORK LABEL TEXT
    echo "$(date +%s%N) $2 $3" >> "$1/notes"
}

# The packets that cross INTERFACE, into WORK/wire.pcap.
capture() { # WORK INTERFACE
    trace/capture.py capture "$1/wire.pcap" "$2" > "$1/capture.out" &
    capture_pid=$!
    wait_for "$1/capture.out" capturing
}

stop_capture() {
    kill -TERM "$capture_pid"
    wait "$capture_pid" || true
}

# The timelines of what a play left in WORK (trace/timeline), with a lesson's story told
# from them. Debian's scapy reads the captures: the system's own python3 runs them.
timeline() { # WORK [LESSON.sh]
    PYTHONPATH=$PWD/trace /usr/bin/python3 -m timeline "$@"
}

# The exchanges that the timeline shows: JSON objects, as trace/timeline reads them.
exchanges() { # WORK OBJECTS
    printf '[%s]\n' "$2" > "$1/exchanges.json"
}

# Runs COMMAND in a network namespace of its own, with only a loopback: ports 37 and 1609
# are free there, and nothing needs privileges (as root, the network namespace alone).
in_private_network() { # COMMAND...
    if unshare --user --map-root-user --net true 2> /dev/null; then
        unshare --user --map-root-user --net "$@"
    elif [ "$(id -u)" -eq 0 ]; then
        unshare --net "$@"
    else
        echo "$(basename "$0"): this machine refuses user namespaces; run it as root" >&2
        exit 1
    fi
}

# A console as UTF-8: the chat programs' é is code page 850's, the time programs' ISO-8859-1.
show() { # TITLE FILE
    local charset=ISO-8859-1
    case $(basename "$2") in chat*) charset=CP850 ;; esac
    printf '\n======== %s ========\n' "$1"
    iconv -f "$charset" -t UTF-8 "$2"
    printf '\n======== end of %s ========\n' "$1"
}

# The capture, printed outside the namespace, where tcpdump may read it.
wire() { # TITLE FILTER
    printf '\n======== %s ========\n' "$1"
    tcpdump -nn -r "$work/wire.pcap" "$2" 2> /dev/null
}
