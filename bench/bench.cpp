// Measures the programs against the least that could do their work, on one machine in
// one run: the time server's reply latency against a minimal RFC 868 responder, the chat
// pair's typed-to-shown latency against a netcat pair, and every program's peak resident
// memory against netcat's.
#include "tests/harness.hpp"

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <exception>
#include <fstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

using namespace harness;
using namespace std::chrono_literals;

namespace {

constexpr int kTimeRuns = 61;
constexpr int kChatLines = 24;
constexpr int kChatSessions = 4;
constexpr auto kQuietGap = 100ms;
// The chat server pauses one second after each line; the lines come slower than that.
constexpr auto kLineGap = 1100ms;

struct Figures {
    double median_us = 0;
    long peak_kib = 0;        // the server's, or the only program's
    long second_peak_kib = 0; // the client's, where there is one
};

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

double micros(Clock::duration d)
{
    return std::chrono::duration<double, std::micro>(d).count();
}

// A fresh responder per request: start it, wait until its port is bound and then for the
// quiet gap, and time one request to its answer. Returns the latency in microseconds.
double time_reply(const std::vector<std::string>& command, long& peak_kib)
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
    peak_kib = std::max(peak_kib, responder.peak_kib());
    return latency;
}

// The responders take turns, so that all meet the same state of the machine.
std::vector<Figures> time_replies(const std::vector<std::vector<std::string>>& commands)
{
    std::vector<std::vector<double>> latencies(commands.size());
    std::vector<Figures> figures(commands.size());
    for (int run = 0; run < kTimeRuns; ++run)
        for (size_t i = 0; i < commands.size(); ++i)
            latencies[i].push_back(time_reply(commands[i], figures[i].peak_kib));
    for (size_t i = 0; i < commands.size(); ++i)
        figures[i].median_us = median(latencies[i]);
    return figures;
}

// Types numbered lines at the server and times each until the client shows it; adds the
// latencies to `latencies` and the peak memories to `figures`.
void chat_lines(const std::vector<std::string>& server_command,
                const std::vector<std::string>& client_command, const std::string& ready,
                std::vector<double>& latencies, Figures& figures)
{
    Program server(server_command);
    if (!wait_bound(Transport::Tcp, 1609, 5s))
        throw std::runtime_error("no chat server on port 1609");
    Program client(client_command);
    if (!server.wait_for(ready, 5s))
        throw std::runtime_error("the chat server saw no client");
    std::this_thread::sleep_for(200ms);
    for (int i = 0; i < kChatLines / kChatSessions; ++i) {
        const std::string line = "ligne " + std::to_string(1000 + i);
        const auto typed = Clock::now();
        server.type(line + "\n");
        if (!client.wait_for(line, 5s))
            throw std::runtime_error("the line never showed");
        latencies.push_back(micros(Clock::now() - typed));
        std::this_thread::sleep_for(kLineGap);
    }
    server.type("bye\n");
    client.wait_for("Bye!", 5s);
    server.type("\n");
    server.end_input();
    client.type("\n");
    client.end_input();
    server.wait_exit(5s);
    client.wait_exit(5s);
    figures.peak_kib = std::max(figures.peak_kib, server.peak_kib());
    figures.second_peak_kib = std::max(figures.second_peak_kib, client.peak_kib());
}

// The two pairs take turns, a few lines each.
std::pair<Figures, Figures> chats()
{
    std::vector<double> ours_us;
    std::vector<double> netcat_us;
    Figures ours;
    Figures netcat;
    for (int session = 0; session < kChatSessions; ++session) {
        chat_lines(program_command("chatserver"), program_command("chatclient"), "\n> ", ours_us,
                   ours);
        chat_lines({"nc", "-N", "-l", "1609"}, {"nc", "127.0.0.1", "1609"}, "", netcat_us, netcat);
    }
    ours.median_us = median(ours_us);
    netcat.median_us = median(netcat_us);
    return {ours, netcat};
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

void row(const char* what, double ours, const char* other, double theirs, const char* unit,
         double target, const char* relation)
{
    const double ratio = ours / theirs;
    std::printf("  %-12s %9.0f %-4s  %-16s %9.0f %-4s  ratio %.2f  (target %s %.2f) %s\n", what,
                ours, unit, other, theirs, unit, ratio, relation, target,
                (relation[0] == '<' ? ratio <= target : ratio >= target) ? "met" : "MISSED");
}

void memory_row(const char* what, long ours, const char* other, long theirs)
{
    row(what, static_cast<double>(ours), other, static_cast<double>(theirs), "KiB", 1.0, "<=");
}

int run()
{
    enter_private_network();
    std::signal(SIGPIPE, SIG_IGN);
    std::printf("Machine: %s\n\n", machine().c_str());

    const auto replies =
        time_replies({program_command("timeserver"), {RESPONDER}, {RESPONDER, "--say"}});
    const Figures& ours_time = replies[0];
    std::printf("Time reply, request sent to answer received (median of %d fresh processes, "
                "%d ms quiet gap):\n",
                kTimeRuns, static_cast<int>(kQuietGap.count()));
    row("timeserver", ours_time.median_us, "least responder", replies[1].median_us, "us", 1.1,
        "<=");
    // Where the difference goes: the console line that the time server must write before
    // it answers, and the least responder need not.
    std::printf("  %-12s %9s %-4s  %-16s %9.0f us\n", "", "", "", "least + line",
                replies[2].median_us);

    const auto [ours_chat, netcat] = chats();
    std::printf("\nChat line, typed at the server to shown by the client (median of %d):\n",
                kChatLines);
    row("chat pair", ours_chat.median_us, "nc -l / nc", netcat.median_us, "us", 1.0, "<=");

    // The time client, asking the least responder once.
    Program responder(std::vector<std::string>{RESPONDER});
    wait_bound(Transport::Udp, 37, 5s);
    Program client("timeclient");
    client.wait_for("\n", 5s);
    client.type("\n");
    client.end_input();
    client.wait_exit(5s);
    responder.wait_exit(5s);

    std::printf("\nPeak resident memory:\n");
    memory_row("chatserver", ours_chat.peak_kib, "nc -l", netcat.peak_kib);
    memory_row("chatclient", ours_chat.second_peak_kib, "nc", netcat.second_peak_kib);
    memory_row("timeserver", ours_time.peak_kib, "nc -l", netcat.peak_kib);
    memory_row("timeclient", client.peak_kib(), "nc", netcat.second_peak_kib);
    return 0;
}

} // namespace

int main()
{
    try {
        return run();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench: %s\n", e.what());
        return 1;
    }
}
