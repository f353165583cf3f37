// A small harness for end-to-end tests: a private loopback for each test process, the
// programs run as child processes with piped consoles, and plain sockets to play peers.
#pragma once

#include <chrono>
#include <ctime>
#include <gtest/gtest.h>
#include <map>
#include <string>
#include <sys/types.h>
#include <vector>

namespace harness {

using Clock = std::chrono::steady_clock;
using Seconds = std::chrono::duration<double>;

// How long since `then`, in seconds, as a test states its upper bounds.
inline double seconds_since(Clock::time_point then)
{
    return Seconds(Clock::now() - then).count();
}

// Moves this process (and so every program it starts) into a new network namespace whose
// only interface is an up loopback, inside a new user namespace. Ports 37 and 1609 there
// are this test's own. Fails the run with a clear message when the machine refuses.
void enter_private_network();

struct Options {
    std::vector<std::string> args;          // the program's arguments
    std::map<std::string, std::string> env; // added to the environment
    bool unprivileged = false;              // no right to bind ports below 1024
    std::vector<long> refused_calls;        // system calls that fail with EMFILE
    pid_t host = 0;                         // runs on that second host (its network namespace)
    bool own_errors = false; // standard error apart, in errors(), rather than the test's
};

// Exit status of a program as one number: the exit code, or 1000 + signal if it was
// killed, or -1 if it did not end before the deadline (it is then killed).
constexpr int kTimedOut = -1;

class Program {
  public:
    // One of the programs under test, by name.
    explicit Program(const std::string& name, const Options& options = {});
    // Any other command, such as a standard peer.
    explicit Program(std::vector<std::string> command, const Options& options = {});
    ~Program();
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    void type(const std::string& text) const; // to standard input
    void end_input();                         // closes standard input
    // Waits until the folded console holds `text` at least `count` times; false at the
    // deadline.
    bool wait_for(const std::string& text, Seconds timeout, size_t count = 1);
    int wait_exit(Seconds timeout);
    const std::string& console() const { return out_; }
    const std::string& errors() const { return err_; } // once ended, with own_errors
    pid_t pid() const { return pid_; }
    long peak_kib() const { return peak_kib_; } // peak resident memory, once ended

  private:
    bool read_some(Clock::time_point deadline);
    void start(std::vector<std::string> command, const Options& options);
    pid_t pid_ = -1;
    int in_ = -1;
    int out_fd_ = -1;
    int err_fd_ = -1;
    std::string out_;
    std::string err_;
    int status_ = kTimedOut;
    long peak_kib_ = 0;
};

// A second machine for this test: a network namespace of its own, joined to the test's
// by a veth pair, 192.0.2.2/24 there and 192.0.2.1/24 here (a documentation range that
// is routed nowhere). Programs run there with Options::host = pid(); under Wine, with a
// wineserver of that machine's own. It ends with the object.
class SecondHost {
  public:
    SecondHost();
    ~SecondHost();
    SecondHost(const SecondHost&) = delete;
    SecondHost& operator=(const SecondHost&) = delete;
    pid_t pid() const { return pid_; }
    // A client there, in the time zone UTC, that names `server`.
    Options client_of(const std::string& server) const;

  private:
    pid_t pid_ = -1;
};

// From now on the machine `host` (0: this test's own) sends nothing more to `address`: a
// blackhole route drops its packets, acknowledgements and ICMP included, as a firewall
// that drops them or a cable pulled would.
void fall_silent(const char* address, pid_t host = 0);
constexpr const char* kThisHost = "192.0.2.1";
constexpr const char* kSecondHost = "192.0.2.2";

// Where a pair runs: on one machine (server nullptr), or with the client on the second
// host naming this one by address, or by a name that only the test's own hosts file knows
// (see know_this_host).
struct RemoteCase {
    const char* name;
    const char* server;
};
constexpr const char* kThisHostName = "tp-serveur.test";
const auto kPairCases =
    testing::Values(RemoteCase{"OneMachine", nullptr}, RemoteCase{"ByAddress", kThisHost},
                    RemoteCase{"ByName", kThisHostName});

// Lays `content` over the file at `path` for this test process and every program that it
// starts afterwards (a private mount namespace), as /etc/hosts or /etc/nsswitch.conf.
void lay_over(const std::string& path, const std::string& content);

// A name that has an IPv6 address alone: for programs that speak IPv4, no server.
constexpr const char* kIpv6OnlyName = "ipv6-seulement.test";
constexpr const char* kIpv6OnlyHost = "2001:db8::1 ipv6-seulement.test";

// Names are looked up in the test's own hosts file alone, which knows this host by
// kThisHostName, kIpv6OnlyName, and localhost.
void know_this_host();

// True when the programs under test are the Windows build, run by Wine: when CTest gives
// the test PROGRAMS=windows.
bool on_wine();

// Where Wine cannot show what Windows does, a case says why; under Wine it is then
// reported as skipped with that reason, never passed over in silence.
#define SKIP_UNDER_WINE(why)                                                                       \
    do {                                                                                           \
        if (harness::on_wine() && (why) != nullptr)                                                \
            GTEST_SKIP() << "Wine differs from Windows here: " << (why);                           \
    } while (false)

// Under Wine a connection is accepted by wineserver, not by the program's process; and
// wineserver accepts its own clients with the same call, which a test cannot then refuse.
constexpr const char* kWineAccepts =
    "wineserver accepts for the program, and its own clients with the same call";

// Under Wine every socket lives in the test's own wineserver, in the test's own network
// namespace, wherever the program runs.
// Wine refuses some of Winsock's options (10042), which Windows has.
constexpr const char* kWineNoMaxrt = "Wine refuses TCP_MAXRT (10042), which sets the time-out";

// Names a data-driven case after its `name` field.
template <typename Case>
std::string by_name(const testing::TestParamInfo<Case>& p)
{
    return p.param.name;
}

// The command that runs one of the programs under test on the platform under test.
std::vector<std::string> program_command(const std::string& name);

// A console with the platform's own forms folded to Linux's: under Wine, CR LF to LF
// (Windows' consoles are in text mode), and msvcrt's "Jan 01" in calendar texts to
// "Jan  1". A Linux console is left as it is.
std::string folded(const std::string& console);

size_t count_of(const std::string& text, const std::string& part);

// Matches a folded console against a template in which {N} stands for a decimal integer
// and {T} for a calendar line (24 characters and a line feed). The texts that the
// placeholders matched are appended to `captured`.
bool matches(const std::string& pattern, const std::string& raw_console,
             std::vector<std::string>* captured = nullptr);

// The programs run in the given time zone (TZ), whatever the test machine's own.
Options in_zone(const char* zone);

// The current second from the precise clock: no program can have read a later one.
// std::time reads the clock of the last tick, a few milliseconds behind, as the Linux
// build does; the Windows build under Wine reads the precise clock. So a program's
// reading lies between std::time before it and seconds_now() after it.
std::time_t seconds_now();

// The calendar text (ctime) of each second from `first` to `last` in the time zone `zone`,
// as a program run in_zone(zone) writes it.
std::vector<std::string> calendar_lines(long first, long last, const char* zone);

// Plain sockets for playing a peer; every call has a deadline.
class Socket {
  public:
    explicit Socket(int fd = -1) : fd_(fd) {}
    Socket(Socket&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
    ~Socket();
    Socket& operator=(Socket&& other) noexcept;
    int fd() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }
    void reset(bool abortive = false); // closes; abortive sends a reset

  private:
    int fd_;
};

Socket tcp_listen(unsigned short port);
Socket tcp_accept(const Socket& listener, Seconds timeout);
Socket tcp_connect(unsigned short port, Seconds timeout); // retries until the deadline
// Reads exactly `size` bytes; returns fewer only when the peer closed or at the deadline.
std::string read_exactly(const Socket& s, size_t size, Seconds timeout);
// True when the peer closes (or resets) the connection before the deadline.
bool wait_closed(const Socket& s, Seconds timeout);
void send_all(const Socket& s, const std::string& bytes);

// Bound to 127.0.0.1:port when port is set, or to every interface's address.
Socket udp_socket(unsigned short port = 0, bool all_interfaces = false);
void send_datagram(const Socket& s, unsigned short port, const std::string& bytes);
// One datagram, or nothing at the deadline; `from_port` receives the sender's port.
bool receive_datagram(const Socket& s, std::string& bytes, Seconds timeout,
                      unsigned short* from_port = nullptr);
unsigned short local_port(const Socket& s);
// True once a socket of this network namespace is bound to `port` (UDP) or listens on
// it (TCP).
enum class Transport { Udp, Tcp };
bool wait_bound(Transport transport, unsigned short port, Seconds timeout);

} // namespace harness
