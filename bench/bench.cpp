// Measures the programs against the least that could do their work, on one machine in
// one run: the time server's reply latency against a minimal RFC 868 responder, the chat
// pair's typed-to-shown latency against a netcat pair (and traced against untraced), and
// every program's peak resident memory against netcat's.
//
// Ours and the yardstick are measured in turns, request by request and line by line, so
// both meet the same moments of the machine; each row gives the median of the paired
// ratios and their interquartile range. A verdict is given only where that whole range
// clears the target: a shared machine's noise then cannot turn it from one run to the next.
#include "tests/harness.hpp"

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <exception>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace harness;
using namespace std::chrono_literals;

namespace {

struct Sizes {
    int time_runs;   // fresh time servers, each paired with fresh responders
    int chat_rounds; // fresh chat pairs, each paired with a netcat pair and a traced pair
    int chat_lines;  // lines typed in each round
    int memory_runs; // fresh runs of every program, each paired with fresh netcats
};
// A process's peak memory moves by a tenth or more from one run to the next (where its
// libraries and stack land), so memory is judged on many fresh runs, not on a few.
constexpr Sizes kFull{61, 3, 8, 25};
constexpr Sizes kShort{5, 2, 2, 3};
constexpr auto kQuietGap = 100ms;
// The chat server pauses one second after each line; the lines come slower than that.
constexpr auto kLineGap = 1100ms;
// netcat's port, beside the chat's own 1609 on the same loopback.
constexpr unsigned short kNetcatPort = 1610;

double quantile(std::vector<double> values, double q)
{
    std::sort(values.begin(), values.end());
    const double at = q * static_cast<double>(values.size() - 1);
    const auto below = static_cast<size_t>(std::floor(at));
    const size_t above = std::min(below + 1, values.size() - 1);
    return values[below] + (at - static_cast<double>(below)) * (values[above] - values[below]);
}

double median(const std::vector<double>& values)
{
    return quantile(values, 0.5);
}

double micros(Clock::duration d)
{
    return std::chrono::duration<double, std::micro>(d).count();
}

// One row: ours beside the yardstick, pair by pair, and the verdict against `target` (at
// most; none where it is 0) where the quartiles of the paired ratios both lie on one side
// of it.
bool judged = true; // false for a short run, whose few pairs say nothing of a target

void row(const char* what, const std::vector<double>& ours, const char* other,
         const std::vector<double>& theirs, const char* unit, double target = 0)
{
    std::vector<double> ratios;
    for (size_t i = 0; i < ours.size() && i < theirs.size(); ++i)
        ratios.push_back(ours[i] / theirs[i]);
    const double low = quantile(ratios, 0.25);
    const double high = quantile(ratios, 0.75);
    std::printf("  %-14s %7.0f %-3s  %-16s %7.0f %-3s  ratio %.2f [%.2f-%.2f]", what, median(ours),
                unit, other, median(theirs), unit, median(ratios), low, high);
    if (target > 0)
        std::printf("  (target <= %.2f) %s", target,
                    !judged          ? "not judged (short run)"
                    : high <= target ? "met"
                    : low > target   ? "MISSED"
                                     : "within noise");
    std::printf("\n");
}

// A fresh responder per request: start it, wait until its port is bound and then for the
// quiet gap, and time one request to its answer, in microseconds.
double time_reply(const std::vector<std::string>& command)
{
    Program responder(command);
    if (!wait_bound(Transport::Udp, 37, 5s))
        throw std::runtime_error(command.back() + " did not bind port 37");
    std::this_thread::sleep_for(kQuietGap);
    Socket asker = udp_socket();
    std::string reply;
    const auto sent = Clock::now();
    send_datagram(asker, 37, "");
    if (!receive_datagram(asker, reply, 5s) || reply.size() != 4)
        throw std::runtime_error(command.back() + " did not answer");
    const double latency = micros(Clock::now() - sent);
    responder.type("\n");
    responder.end_input();
    responder.wait_exit(5s);
    return latency;
}

// One chat pair, talking: its server's console to type at, its client's to watch.
struct ChatPair {
    std::unique_ptr<Program> server;
    std::unique_ptr<Program> client;
    std::vector<double> latencies_us;
    bool ours = true;

    void start(const std::vector<std::string>& server_command,
               const std::vector<std::string>& client_command, const Options& options)
    {
        server = std::make_unique<Program>(server_command, options);
        if (!server->wait_for(ours ? "Attente d'un client" : "", 5s))
            throw std::runtime_error("no chat server");
        if (!ours && !wait_bound(Transport::Tcp, kNetcatPort, 5s))
            throw std::runtime_error("no nc -l");
        client = std::make_unique<Program>(client_command, options);
        if (ours && !server->wait_for("\n> ", 5s))
            throw std::runtime_error("the chat server saw no client");
    }

    void line(const std::string& text)
    {
        const auto typed = Clock::now();
        server->type(text + "\n");
        if (!client->wait_for(text, 5s))
            throw std::runtime_error("the line never showed");
        latencies_us.push_back(micros(Clock::now() - typed));
    }

    // Ends the chat; returns the peak memories of the server and the client.
    std::pair<double, double> finish() const
    {
        server->type("bye\n");
        if (ours)
            client->wait_for("Bye!", 5s);
        server->type("\n");
        server->end_input();
        client->type("\n");
        client->end_input();
        server->wait_exit(5s);
        client->wait_exit(5s);
        return {static_cast<double>(server->peak_kib()), static_cast<double>(client->peak_kib())};
    }
};

// Each program's peak memory, run after run, beside netcat's in the same run.
struct Memory {
    std::vector<double> chatserver;
    std::vector<double> chatclient;
    std::vector<double> timeserver;
    std::vector<double> timeclient;
    std::vector<double> nc_listener;
    std::vector<double> nc;
};

Memory peak_memories(int runs)
{
    Memory memory;
    const std::string port = std::to_string(kNetcatPort);
    for (int i = 0; i < runs; ++i) {
        ChatPair ours;
        ChatPair netcat;
        netcat.ours = false;
        ours.start(program_command("chatserver"), program_command("chatclient"), {});
        netcat.start({"nc", "-N", "-l", port}, {"nc", "127.0.0.1", port}, {});
        const auto [server, client] = ours.finish();
        const auto [listener, nc] = netcat.finish();
        memory.chatserver.push_back(server);
        memory.chatclient.push_back(client);
        memory.nc_listener.push_back(listener);
        memory.nc.push_back(nc);

        Program timeserver("timeserver");
        if (!wait_bound(Transport::Udp, 37, 5s))
            throw std::runtime_error("timeserver did not bind port 37");
        Program timeclient("timeclient");
        timeclient.wait_for("\n", 5s);
        for (Program* program : {&timeclient, &timeserver}) {
            program->type("\n");
            program->end_input();
            program->wait_exit(5s);
        }
        memory.timeserver.push_back(static_cast<double>(timeserver.peak_kib()));
        memory.timeclient.push_back(static_cast<double>(timeclient.peak_kib()));
    }
    return memory;
}

std::string machine()
{
    std::ifstream cpuinfo("/proc/cpuinfo");
    std::string model = "unknown processor";
    for (std::string line; std::getline(cpuinfo, line);)
        if (line.rfind("model name", 0) == 0) {
            model = line.substr(line.find(':') + 2);
            break;
        }
    return model + ", " + std::to_string(std::thread::hardware_concurrency()) + " cores";
}

int run(const Sizes& sizes)
{
    enter_private_network();
    std::signal(SIGPIPE, SIG_IGN);
    std::printf("Machine: %s\n", machine().c_str());
    std::printf(
        "Each row: medians, then the median of the paired ratios [its quartiles]; met or\n"
        "MISSED where both quartiles lie on one side of the target, else within noise.\n\n");

    // The three responders take turns, request by request.
    std::vector<double> ours_us;
    std::vector<double> least_us;
    std::vector<double> said_us;
    for (int i = 0; i < sizes.time_runs; ++i) {
        ours_us.push_back(time_reply(program_command("timeserver")));
        least_us.push_back(time_reply({RESPONDER}));
        said_us.push_back(time_reply({RESPONDER, "--say"}));
    }
    std::printf("Time reply, request sent to answer received (%d fresh processes each, in turns,\n"
                "%d ms quiet gap):\n",
                sizes.time_runs, static_cast<int>(kQuietGap.count()));
    row("timeserver", ours_us, "least responder", least_us, "us", 1.10);
    // Where the difference goes: the console line that the time server must write before it
    // answers, and the least responder need not.
    row("least + line", said_us, "least responder", least_us, "us");

    // Three chats at once, a line to each in turn: ours and netcat on this loopback, ours
    // traced (libcalls.so, as the demo and scripts/trace run it) on a second host's.
    SecondHost traced_host;
    Options traced;
    traced.host = traced_host.pid();
    traced.env["LD_PRELOAD"] = CALLS_LIBRARY;
    const std::string calls = "/tmp/sockets-tp-bench-" + std::to_string(getpid()) + ".calls";
    traced.env["SOCKETS_TP_CALLS"] = calls;
    const std::string port = std::to_string(kNetcatPort);
    std::vector<double> chat_us;
    std::vector<double> netcat_us;
    std::vector<double> traced_us;
    for (int round = 0; round < sizes.chat_rounds; ++round) {
        ChatPair ours;
        ChatPair netcat;
        ChatPair ours_traced;
        netcat.ours = false;
        ours.start(program_command("chatserver"), program_command("chatclient"), {});
        netcat.start({"nc", "-N", "-l", port}, {"nc", "127.0.0.1", port}, {});
        ours_traced.start(program_command("chatserver"), program_command("chatclient"), traced);
        std::this_thread::sleep_for(200ms);
        ChatPair* pairs[] = {&ours, &netcat, &ours_traced};
        for (int i = 0; i < sizes.chat_lines; ++i) {
            const auto began = Clock::now();
            // Each goes first in its turn, so that none is always the one the others follow.
            for (int k = 0; k < 3; ++k)
                pairs[(i + k) % 3]->line("ligne " + std::to_string(1000 + round * 100 + i));
            std::this_thread::sleep_until(began + kLineGap);
        }
        ours.finish();
        netcat.finish();
        ours_traced.finish();
        chat_us.insert(chat_us.end(), ours.latencies_us.begin(), ours.latencies_us.end());
        netcat_us.insert(netcat_us.end(), netcat.latencies_us.begin(), netcat.latencies_us.end());
        traced_us.insert(traced_us.end(), ours_traced.latencies_us.begin(),
                         ours_traced.latencies_us.end());
    }
    std::remove(calls.c_str());
    std::printf(
        "\nChat line, typed at the server to shown by the client (%d lines each, in turns):\n",
        sizes.chat_rounds * sizes.chat_lines);
    row("chat pair", chat_us, "nc -l / nc", netcat_us, "us", 1.00);
    // What the learner's timelines cost: the same pair with every call recorded.
    row("chat traced", traced_us, "chat untraced", chat_us, "us");

    std::printf("\nPeak resident memory (%d fresh runs each, in turns):\n", sizes.memory_runs);
    const Memory memory = peak_memories(sizes.memory_runs);
    row("chatserver", memory.chatserver, "nc -l", memory.nc_listener, "KiB", 1.00);
    row("chatclient", memory.chatclient, "nc", memory.nc, "KiB", 1.00);
    row("timeserver", memory.timeserver, "nc -l", memory.nc_listener, "KiB", 1.00);
    row("timeclient", memory.timeclient, "nc", memory.nc, "KiB", 1.00);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    const bool brief = argc > 1 && std::strcmp(argv[1], "--short") == 0;
    judged = !brief;
    try {
        return run(brief ? kShort : kFull);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench: %s\n", e.what());
        return 1;
    }
}
