# Sourced by the scripts: each says what it needs, then install_missing brings what this
# machine lacks, with apt-get on Debian and Ubuntu.

missing=()

# need PACKAGE PATH: PACKAGE (Debian's name) brings PATH.
need() {
    [ -e "$2" ] || missing+=("$1")
}

install_missing() {
    [ ${#missing[@]} -gt 0 ] || return 0
    if ! command -v apt-get > /dev/null; then
        echo "$(basename "$0"): missing here, and no apt-get to install them (Debian's names):" >&2
        printf '  %s\n' "${missing[@]}" >&2
        exit 1
    fi
    local sudo=()
    [ "$(id -u)" -eq 0 ] || sudo=(sudo)
    step "installing with apt-get: ${missing[*]}" "${sudo[@]}" apt-get update -q
    step "" "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive \
        apt-get install -y -q --no-install-recommends "${missing[@]}"
    missing=()
}

# step WHAT COMMAND...: says WHAT on one line (unless empty) and runs COMMAND with its
# output kept in a log, which is shown only if it fails.
step() {
    local what=$1 log
    shift
    [ -z "$what" ] || echo "$(basename "$0"): $what"
    log=$(mktemp)
    if ! "$@" > "$log" 2>&1; then
        cat "$log" >&2
        rm -f "$log"
        echo "$(basename "$0"): failed: $*" >&2
        exit 1
    fi
    rm -f "$log"
}

# What building the programs takes.
need_build() {
    need cmake /usr/bin/cmake
    need make /usr/bin/make
    need g++ /usr/bin/g++
}

# What the demo takes besides: a namespace of its own (and ss, to show a socket's state),
# the consoles in UTF-8, the packets decoded and printed, and each call's line of code.
need_demo() {
    need util-linux /usr/bin/unshare
    need iproute2 /bin/ip
    need libc-bin /usr/bin/iconv
    need python3-scapy /usr/lib/python3/dist-packages/scapy
    need tcpdump /usr/bin/tcpdump
    need binutils /usr/bin/addr2line
}

# What making the packages takes besides: the Windows build, and dpkg's tools.
need_packaging() {
    need g++-mingw-w64-x86-64 /usr/bin/x86_64-w64-mingw32-g++
    need dpkg-dev /usr/bin/dpkg-shlibdeps
    need file /usr/bin/file
}

# What the tests take besides: GoogleTest, a real RFC 868 peer, Wine, a second compiler,
# the static analysers (which read git's list of files), what checks the packages, a far
# time zone, python3 for the planted faults, a browser for the demo's page, Wireshark's
# tshark for its captures, and tmux for two consoles of a learner's.
need_tests() {
    need libgtest-dev /usr/include/gtest/gtest.h
    need rdate /usr/sbin/rdate
    need wine64 /usr/lib/wine/wine64
    need clang /usr/bin/clang++
    need clang-tidy /usr/bin/clang-tidy
    need cppcheck /usr/bin/cppcheck
    need clang-format /usr/bin/clang-format
    need lintian /usr/bin/lintian
    need libcap2-bin /usr/sbin/setcap
    need util-linux /usr/bin/setpriv
    need git /usr/bin/git
    need tzdata /usr/share/zoneinfo/Pacific/Chatham
    need python3 /usr/bin/python3
    need chromium /usr/bin/chromium
    need tshark /usr/bin/tshark
    need tmux /usr/bin/tmux
}
