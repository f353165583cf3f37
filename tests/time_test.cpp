// The time programs end to end: RFC 868 over UDP port 37, with the test or a standard
// peer on the other side, and the exact consoles and exit statuses.
#include "harness.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <arpa/inet.h>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <optional>
#include <sys/syscall.h>
#include <thread>

using namespace harness;
using namespace std::chrono_literals;

namespace {

constexpr unsigned short kPort = 37;
constexpr std::uint32_t kOffset = 2208988800U; // 1900 to 1970, in seconds

// The consoles, byte for byte; {N} is a number. The accents are ISO-8859-1 bytes.
const std::string kSocketOpen = "Le socket {N} est maintenant ouvert en mode udpsur le prt 37 /n";
std::string request_from(const std::string& address)
{
    return "le serveur \xE0 recu une demande de temps du client " + address + " ";
}

// A failure text: what failed, then Winsock's error number.
std::string failed(const std::string& what, int e)
{
    return what + ": num\xE9ro d'erreur " + std::to_string(e) + "\n";
}
const std::string kSocketFailed = "Ne peut pas cr\xE9"
                                  "er le socket";
const std::string kBindFailed = "Ne peut pas param\xE9trer le socket avec le num. de port 37";
const std::string kReceiveFailed = "Probl\xE8me de r\xE9"
                                   "ception de message";
const std::string kClientSocketFailed = "Probl\xE8me de cr\xE9"
                                        "ation du socket";
const std::string kClientReceiveFailed = "La r\xE9"
                                         "ception a \xE9"
                                         "chou\xE9";
std::string lookup_failed(const std::string& name)
{
    return "La recherche du serveur " + name +
           " a \xE9"
           "chou\xE9";
}

// Winsock's error numbers.
constexpr int kAccess = 10013, kNoDescriptor = 10024, kInvalid = 10022, kNotSocket = 10038,
              kInUse = 10048, kReset = 10054, kNoAnswer = 10060, kHostNotFound = 11001,
              kTryAgain = 11002;

std::string big_endian(std::uint32_t value)
{
    const std::uint32_t wire = htonl(value);
    return std::string(reinterpret_cast<const char*>(&wire), 4);
}

// The count that a 4-byte answer carries, most significant byte first.
std::uint32_t count_of_answer(const std::string& reply)
{
    std::uint32_t wire = 0;
    std::memcpy(&wire, reply.data(), sizeof wire);
    return ntohl(wire);
}

// Starts the server and waits until its port is bound, so that no request is lost.
void await_bound(Program& server)
{
    ASSERT_TRUE(server.wait_for(" /n", 5s)) << server.console();
    ASSERT_TRUE(wait_bound(Transport::Udp, kPort, 5s)) << server.console();
}

// The server named the one client it served, and nothing else; it ends on its final
// character (`typed`, or the end of its input when empty), whose code is its exit status,
// or 255 at the end of input.
void expect_served(Program& server, const std::string& client = "127.0.0.1",
                   const std::string& typed = "\n", int status = '\n')
{
    EXPECT_TRUE(server.wait_for(request_from(client), 5s)) << server.console();
    EXPECT_TRUE(matches(kSocketOpen + request_from(client), server.console())) << server.console();
    if (typed.empty())
        server.end_input();
    else
        server.type(typed);
    EXPECT_EQ(server.wait_exit(5s), status);
}

// The server: any datagram is a request; exactly one is answered, with the time.
struct RequestCase {
    const char* name;
    size_t size;
    std::string typed = "\n"; // the final character; empty: the input ends
    int status = '\n';
};

class TimeServerAnswers : public testing::TestWithParam<RequestCase> {};

TEST_P(TimeServerAnswers, OneRequestOfAnySizeWithTheTimeOfAnswering)
{
    const RequestCase& c = GetParam();
    Program server("timeserver");
    await_bound(server);
    // The request comes more than a second after the start: an answer read from the clock
    // before the request had come would be seen early.
    std::this_thread::sleep_for(1200ms);
    Socket asker = udp_socket();
    const std::uint32_t before = static_cast<std::uint32_t>(std::time(nullptr));
    send_datagram(asker, kPort, std::string(c.size, 'r'));
    std::string reply;
    unsigned short from = 0;
    ASSERT_TRUE(receive_datagram(asker, reply, 5s, &from)) << server.console();
    const std::uint32_t after = static_cast<std::uint32_t>(seconds_now());
    EXPECT_EQ(from, kPort);
    ASSERT_EQ(reply.size(), 4U);
    const std::uint32_t seconds = count_of_answer(reply);
    EXPECT_LE(before + kOffset, seconds);
    EXPECT_LE(seconds, after + kOffset);

    // Served once: a second request, from anyone, finds nobody.
    Socket other = udp_socket();
    send_datagram(other, kPort, "");
    send_datagram(asker, kPort, "");
    EXPECT_FALSE(receive_datagram(other, reply, 500ms));
    EXPECT_FALSE(receive_datagram(asker, reply, 10ms));
    expect_served(server, "127.0.0.1", c.typed, c.status);
}

INSTANTIATE_TEST_SUITE_P(
    Time, TimeServerAnswers,
    testing::Values(RequestCase{"Bytes0", 0}, RequestCase{"Bytes1ThenALetter", 1, "A\n", 'A'},
                    RequestCase{"Bytes4ThenEndOfInput", 4, "", 255}, RequestCase{"Bytes4096", 4096},
                    RequestCase{"Bytes4097", 4097}, RequestCase{"Bytes65507", 65507}),
    by_name<RequestCase>);

// The client: what the answer holds, and what the console shows of it.
struct ReplyCase {
    const char* name;
    std::string reply;
    const char* zone;
    std::string console;
    std::optional<std::string> on_windows = {}; // where msvcrt prints otherwise
    std::string stray = {};                     // sent first, from another port, when not empty
    std::string typed = "t\n";                  // the final character; empty: the input ends
    int status = 't'; // its code, the exit status; 255 at the end of input
};

class TimeClientShows : public testing::TestWithParam<ReplyCase> {};

TEST_P(TimeClientShows, TheAnswerAsLocalCalendarTime)
{
    const ReplyCase& c = GetParam();
    Socket server = udp_socket(kPort);
    Program client("timeclient", in_zone(c.zone));
    std::string request = "not yet";
    unsigned short from = 0;
    ASSERT_TRUE(receive_datagram(server, request, 5s, &from));
    EXPECT_EQ(request, "") << "the request is an empty datagram";
    if (!c.stray.empty()) {
        Socket stranger = udp_socket();
        send_datagram(stranger, from, c.stray);
    }
    send_datagram(server, from, c.reply);
    // Read only once the answer is printed.
    if (c.typed.empty())
        client.end_input();
    else
        client.type(c.typed);
    EXPECT_EQ(client.wait_exit(10s), c.status);
    const std::string& expected = on_wine() && c.on_windows ? *c.on_windows : c.console;
    EXPECT_TRUE(matches(expected, client.console())) << client.console();
}

INSTANTIATE_TEST_SUITE_P(
    Time, TimeClientShows,
    testing::Values(
        ReplyCase{"Epoch1970ThenAHighByte",
                  big_endian(0x83AA7E80),
                  "UTC",
                  "Thu Jan  1 00:00:00 1970\n",
                  {},
                  {},
                  "\xE9\n",
                  0xE9},
        ReplyCase{"Epoch1970InTokyo", big_endian(0x83AA7E80), "JST-9",
                  "Thu Jan  1 09:00:00 1970\n"},
        ReplyCase{"Year2000ThenEndOfInput",
                  big_endian(0xBC17C200),
                  "UTC",
                  "Sat Jan  1 00:00:00 2000\n",
                  {},
                  {},
                  "",
                  255},
        ReplyCase{"Year2000InNewYork", big_endian(0xBC17C200), "EST5EDT",
                  "Fri Dec 31 19:00:00 1999\n"},
        ReplyCase{"CountWrappedIn2036", big_endian(0x00000001), "UTC",
                  "Thu Feb  7 06:28:17 2036\n"},
        // msvcrt's ctime cannot format a time before 1970: nothing is printed for it.
        ReplyCase{"Before1970", big_endian(0x80000000), "UTC", "Sat Jan 20 03:14:08 1968\n", ""},
        ReplyCase{"LongerAnswerIsCut", big_endian(0xBC17C200) + "more", "UTC",
                  "Sat Jan  1 00:00:00 2000\n"},
        ReplyCase{"OversizedAnswerIsCut", big_endian(0xBC17C200) + std::string(65503, 'x'), "UTC",
                  "Sat Jan  1 00:00:00 2000\n"},
        // The first datagram from anyone is taken, cut to 4 bytes; the server's comes second.
        ReplyCase{"StrayDatagramFirst",
                  big_endian(0x83AA7E80),
                  "UTC",
                  "Sat Jan  1 00:00:00 2000\n",
                  {},
                  big_endian(0xBC17C200) + "stray"},
        ReplyCase{"ShortAnswerIsAFailure", "\xBC\x17\xC2", "UTC", failed(kClientReceiveFailed, 0)},
        ReplyCase{"EmptyAnswerIsAFailure", "", "UTC", failed(kClientReceiveFailed, 0)}),
    by_name<ReplyCase>);

// Failures: each is reported with Winsock's number, and the run goes on to its final read.
enum class Setup {
    NoServer,
    PortTaken,
    Unprivileged,
    NoSocket,
    UnknownName,
    Ipv6Only,
    NameServerDown
};

struct FailureCase {
    const char* name;
    const char* program;
    Setup setup;
    std::string console;
    const char* wine = nullptr; // why Wine cannot show it, if it cannot
    // Under Wine, the console up to a receive on an unbound socket, which waits there
    // where Windows fails at once.
    std::optional<std::string> waits_on_windows = {};
};

class TimeFailure : public testing::TestWithParam<FailureCase> {};

// The failure's set-up: the options of the program that meets it. A server named by the
// client is looked up in a hosts file that does not know it, or from a name server that
// is not there; the port it would ask is `holder`'s.
Options meet(Setup setup, Socket& holder)
{
    Options options;
    options.unprivileged = setup == Setup::Unprivileged;
    if (setup == Setup::NoSocket)
        options.refused_calls = {SYS_socket};
    if (setup == Setup::UnknownName || setup == Setup::Ipv6Only || setup == Setup::NameServerDown) {
        lay_over("/etc/nsswitch.conf",
                 setup == Setup::NameServerDown ? "hosts: dns\n" : "hosts: files\n");
        lay_over("/etc/hosts", std::string("127.0.0.1 localhost\n") + kIpv6OnlyHost + "\n");
        lay_over("/etc/resolv.conf", "nameserver 127.0.0.1\noptions attempts:1 timeout:1\n");
        options.args = {setup == Setup::Ipv6Only ? kIpv6OnlyName : "nowhere.invalid"};
        holder = udp_socket(kPort);
    }
    return options;
}

TEST_P(TimeFailure, IsReportedWithItsNumberAndNothingHangs)
{
    const FailureCase& c = GetParam();
    SKIP_UNDER_WINE(c.wine);
    // The port is another time server's: two may never share it.
    std::optional<Program> other;
    if (c.setup == Setup::PortTaken) {
        other.emplace("timeserver");
        ASSERT_NO_FATAL_FAILURE(await_bound(*other));
    }
    Socket holder;
    Program program(c.program, meet(c.setup, holder));
    ASSERT_TRUE(program.wait_for("erreur", 5s)) << program.console();
    const bool waits = on_wine() && c.waits_on_windows;
    if (!waits)
        program.type("x\n");
    EXPECT_EQ(program.wait_exit(Seconds(waits ? 1 : 5)), waits ? kTimedOut : 'x')
        << program.console();
    EXPECT_TRUE(matches(waits ? *c.waits_on_windows : c.console, program.console()))
        << program.console();
    std::string request;
    if (holder) {
        EXPECT_FALSE(receive_datagram(holder, request, 10ms)) << "a request went out all the same";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Time, TimeFailure,
    testing::Values(
        FailureCase{"ClientWithoutServer", "timeclient", Setup::NoServer,
                    failed(kClientReceiveFailed, kReset),
                    "the refused datagram is not reported to the receive, which waits"},
        FailureCase{"ClientUnknownServer", "timeclient", Setup::UnknownName,
                    failed(lookup_failed("nowhere.invalid"), kHostNotFound)},
        FailureCase{"ClientServerWithoutIPv4", "timeclient", Setup::Ipv6Only,
                    failed(lookup_failed(kIpv6OnlyName), kHostNotFound)},
        FailureCase{"ClientNameServerDown", "timeclient", Setup::NameServerDown,
                    failed(lookup_failed("nowhere.invalid"), kTryAgain)},
        FailureCase{"ClientWithoutSocket", "timeclient", Setup::NoSocket,
                    failed(kClientSocketFailed, kNoDescriptor) +
                        failed(kClientReceiveFailed, kNotSocket)},
        FailureCase{"ServerPortTaken", "timeserver", Setup::PortTaken,
                    kSocketOpen + failed(kBindFailed, kInUse) + failed(kReceiveFailed, kInvalid),
                    nullptr, kSocketOpen + failed(kBindFailed, kInUse)},
        FailureCase{"ServerUnprivileged", "timeserver", Setup::Unprivileged,
                    kSocketOpen + failed(kBindFailed, kAccess) + failed(kReceiveFailed, kInvalid),
                    "wineserver, which binds the port, keeps its right to port 37"},
        FailureCase{"ServerWithoutSocket", "timeserver", Setup::NoSocket,
                    "Le socket -1 est maintenant ouvert en mode udpsur le prt 37 /n" +
                        failed(kSocketFailed, kNoDescriptor) + failed(kBindFailed, kNotSocket) +
                        failed(kReceiveFailed, kNotSocket)}),
    by_name<FailureCase>);

// Where the system has no IP_RECVERR (the BSDs, macOS), nothing reports the refused
// request: with no server, the client waits for an answer that does not come.
TEST(TimeClient, WithoutLinuxOptionsWaitsWhenNoServerAnswers)
{
    if (on_wine())
        GTEST_SKIP() << "a build of the POSIX layer alone";
    Program client("timeclient-without-linux-options");
    client.end_input(); // so that only the receive can keep it waiting
    EXPECT_EQ(client.wait_exit(1s), kTimedOut);
    EXPECT_EQ(client.console(), "");
}

// A flood of requests of every size from several senders: exactly one answer, to the
// first, and the server reports that one alone.
TEST(HostilePeers, FloodGetsOneAnswerToTheFirstSender)
{
    Program server("timeserver");
    await_bound(server);
    Socket first = udp_socket();
    send_datagram(first, kPort, "");
    std::vector<Socket> flooders;
    for (int i = 0; i < 4; ++i) {
        flooders.push_back(udp_socket());
        for (size_t size = 0; size <= 65507; size += 1 + size * 3)
            send_datagram(flooders.back(), kPort, std::string(size, 'f'));
    }
    std::string reply;
    unsigned short from = 0;
    ASSERT_TRUE(receive_datagram(first, reply, 5s, &from));
    EXPECT_EQ(reply.size(), 4U);
    EXPECT_EQ(from, kPort);
    EXPECT_FALSE(receive_datagram(first, reply, 500ms)) << "a second answer";
    for (const auto& flooder : flooders)
        EXPECT_FALSE(receive_datagram(flooder, reply, 10ms)) << "an answer to the flood";
    expect_served(server);
}

// The pair, on one machine or across two: the client names the server by address, or by
// a name that only this test's hosts file knows; it shows the server's time of answering
// (in UTC), and the server names the client by its own address.
class TimePair : public testing::TestWithParam<RemoteCase> {};

TEST_P(TimePair, ClientShowsTheServersTime)
{
    const RemoteCase& c = GetParam();
    std::optional<SecondHost> second;
    Options options = in_zone("UTC");
    if (c.server != nullptr) {
        second.emplace();
        know_this_host();
        options = second->client_of(c.server);
    }
    Program server("timeserver");
    ASSERT_NO_FATAL_FAILURE(await_bound(server));
    const std::time_t before = std::time(nullptr);
    Program client("timeclient", options);
    ASSERT_TRUE(client.wait_for("\n", 5s)) << client.console();
    const auto plausible = calendar_lines(before, seconds_now(), "UTC");
    EXPECT_NE(std::find(plausible.begin(), plausible.end(), folded(client.console())),
              plausible.end())
        << client.console();
    expect_served(server, c.server != nullptr ? kSecondHost : "127.0.0.1");
    client.type("\n");
    EXPECT_EQ(client.wait_exit(5s), '\n');
}

INSTANTIATE_TEST_SUITE_P(Time, TimePair, kPairCases, by_name<RemoteCase>);

TEST(TimePeers, RdateReadsTheServersTime)
{
    if (access("/usr/sbin/rdate", X_OK) != 0)
        GTEST_SKIP() << "rdate is not installed (apt-get install rdate)";
    Program server("timeserver");
    await_bound(server);
    Program rdate({"/usr/sbin/rdate", "-p", "-u", "127.0.0.1"}, in_zone("UTC"));
    EXPECT_EQ(rdate.wait_exit(5s), 0) << rdate.console();
    const std::string year = std::to_string(1900 + [] {
        const std::time_t now = std::time(nullptr);
        return std::gmtime(&now)->tm_year;
    }());
    EXPECT_NE(rdate.console().find(year), std::string::npos) << rdate.console();
    expect_served(server);
}

// A server's machine that answers nothing (see fall_silent): the client asks again
// meanwhile, once a second, and within ten seconds its receive fails with Winsock's
// time-out; then it waits for its final character.
TEST(SilentServer, TimeClientAsksAgainThenGivesUp)
{
    SecondHost second;
    fall_silent(kSecondHost);
    Socket server = udp_socket(kPort, true);
    Program client("timeclient", second.client_of(kThisHost));
    std::string request;
    ASSERT_TRUE(receive_datagram(server, request, 10s)) << client.console();
    const auto asked = Clock::now();
    ASSERT_TRUE(client.wait_for("erreur", 12s)) << client.console();
    EXPECT_LE(seconds_since(asked), 10.0);
    size_t requests = 1;
    while (receive_datagram(server, request, 10ms))
        ++requests;
    EXPECT_EQ(requests, 5U);
    client.type("x\n");
    EXPECT_EQ(client.wait_exit(5s), 'x');
    EXPECT_TRUE(matches(failed(kClientReceiveFailed, kNoAnswer), client.console()))
        << client.console();
}

// With no server named, the client asks its own machine as it always did: once, and it
// waits for the answer without end, however long it takes.
TEST(TimeClient, AtTheLoopbackAsksOnceAndWaits)
{
    Socket server = udp_socket(kPort);
    Program client("timeclient");
    client.end_input(); // so that only the receive can keep it waiting
    std::string request;
    ASSERT_TRUE(receive_datagram(server, request, 5s));
    EXPECT_EQ(client.wait_exit(6s), kTimedOut) << client.console();
    EXPECT_FALSE(receive_datagram(server, request, 10ms)) << "asked again";
    EXPECT_EQ(client.console(), "");
}

} // namespace
