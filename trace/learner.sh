# shellcheck shell=bash
# A learner's own source, built for scripts/trace --build and scripts/check --build: with
# debug information, so that each call names its line. A Winsock source (one that includes
# winsock2.h, winsock.h, windows.h or ws2tcpip.h) is built as C++ against trace/winsock/,
# which gives it the platform layer under Winsock's names; any other source as what it is.

# learner_build FILE: builds FILE into build-trace/yours/, its name less its suffix; sets
# $built to the program.
learner_build() {
    local file=$1 name
    name=$(basename "${file%.*}")
    if ! [ -f "$file" ]; then
        echo "build: no such file: $file" >&2
        exit 2
    fi
    mkdir -p build-trace/yours
    built=build-trace/yours/$name
    local compiler=(gcc -std=gnu11)
    case $file in *.cpp | *.cc | *.cxx | *.C) compiler=(g++ -std=c++17) ;; esac
    if grep -Eq '^[[:space:]]*#[[:space:]]*include[[:space:]]*[<"](winsock2?|windows|ws2tcpip)\.h[>"]' "$file"; then
        # C compiled as C++: Winsock's names come from the layer's C++ header.
        compiler=(g++ -std=c++17 -x c++ -fpermissive -Wno-unknown-pragmas -I "$PWD/trace/winsock" -I "$PWD")
    fi
    # DWARF 4: in DWARF 5, this addr2line names the source for a function that a header
    # defines (the layer's, called out of line at -O0), where its line is the header's.
    compiler+=(-gdwarf-4)
    echo "build: ${compiler[*]} -O0 -o $built $file"
    if ! "${compiler[@]}" -O0 -o "$built" "$file" -x none; then
        echo "build: $file did not build: the compiler's reasons are above" >&2
        exit 1
    fi
}
