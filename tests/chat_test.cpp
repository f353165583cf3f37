// The chat programs end to end: the real binaries, their exact consoles, and the exact
// records on the wire, with the test playing the other side where it needs to.
#include "harness.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>
#include <optional>
#include <random>
#include <sys/syscall.h>
#include <thread>

using namespace harness;
using namespace std::chrono_literals;

namespace {

constexpr unsigned short kPort = 1609;
constexpr size_t kRecord = 140;

// The consoles, written out byte for byte. {N} is a number, {T} the client's time stamp.
const std::string kBanner = " \n\n ------------Tp N 1 : Application de chat en r\x82seau.------\n"
                            "-Claire Dubois\n-Marc Lambert\n";
const std::string kServerHeading = kBanner + "\n\n=====CREATION DU SERVEUR=========\n\n\n\n\n";
const std::string kServerSocket = "Socket num\x82ro: {N} cr\x82"
                                  "e en mode TCP/IP\n";
const std::string kServerWaiting = "\nEcoute sur le port 1609...\n"
                                   "\nAttente d'un client sur le port 1609...\n";
std::string new_client(const std::string& address)
{
    return "\n\nUn nouveau client vient de se connecter avec le socket {N} de " + address +
           ":{N}\n Entrez un message pour discuter avec lui \n\nPour quitter la conversation "
           "tapez \"bye\" \n";
}
const std::string kSent = "\n> (Msg envoy\x82)\n";
const std::string kNotSent = "\n> /! Msg non envoy\x82. V\x82rifer si le client est connect\x82 \n";
const std::string kPrompt = "\n> ";
const std::string kServerClosing = "\nVous avez arret\x82 la discussion\nFermeture du socket...\n"
                                   "Fermeture du serveur termin\x82"
                                   "e\n";

const std::string kClientHeading = kBanner + "\n\n=====CREATION DU CLIENT=========\n{T}\n\n\n\n";
const std::string kClientSocket = "Socket cr\x82"
                                  "e,Mode TCP/IP. \n";
const std::string kClientNoSocket =
    "Socket n'a pas pu etre cre\x82. Erreur r\x82seau ou bien v\x82rifier le num\x82ro de port";
std::string connected(const std::string& address)
{
    return "Connect\x82 au serveur!\nIp:" + address +
           "  \nPort:1609 \n Attendez que le serveur puisse vous \x82"
           "crire....\n\n\n";
}
const std::string kConnected = connected("127.0.0.1");
const std::string kNoServer =
    "Impossible de se connecter.\n V\x82rifier si le serveur est en ligne\n";
std::string unknown_server(const std::string& name)
{
    return "Impossible de trouver le serveur " + name + ". V\x82rifier son nom ou son adresse\n";
}
const std::string kClientEnd = "Fin de la discussion. \nBye!";
const std::string kClientReady = "vous \x82"
                                 "crire....\n\n\n";

// The client is connected and waits for records.
void expect_ready(Program& client)
{
    ASSERT_TRUE(client.wait_for(kClientReady, 5s)) << client.console();
}

std::string record(const std::string& text)
{
    return text + std::string(kRecord - text.size(), '\0');
}

std::string repeat(const std::string& text, size_t times)
{
    std::string all;
    while (times-- > 0)
        all += text;
    return all;
}

std::string shown(const std::vector<std::string>& texts)
{
    std::string console;
    for (const auto& text : texts)
        console += "{T}:> " + text + "\n";
    return console;
}

// Every time stamp is the client's start-up time: one value, read while the test ran.
void expect_one_start_time(const std::vector<std::string>& captured, std::time_t started)
{
    ASSERT_FALSE(captured.empty());
    const auto plausible = calendar_lines(started - 1, std::time(nullptr) + 1, "UTC");
    EXPECT_NE(std::find(plausible.begin(), plausible.end(), captured[0]), plausible.end())
        << "time stamp " << captured[0];
    for (const auto& stamp : captured)
        EXPECT_EQ(stamp, captured[0]);
}

const Options kUtc = in_zone("UTC");

// A deadline for waits that span `turns` of the server's one-second pause.
Seconds turns(size_t n)
{
    return Seconds(5.0 + 1.5 * static_cast<double>(n));
}
// The least time between two records, or between the last and the hang-up: the server's
// pause, less what reading late may take off.
constexpr double kPause = 0.8; // seconds

// The server's console up to its closing texts: `sent` lines called sent, then `not_sent`
// called not sent, then `tail`.
std::string server_console(size_t sent, size_t not_sent = 0, const std::string& tail = "",
                           const std::string& client = "127.0.0.1")
{
    return kServerHeading + kServerSocket + kServerWaiting + new_client(client) +
           repeat(kSent, sent) + repeat(kNotSent, not_sent) + tail + kServerClosing;
}

// Starts the chat server, and connects to it as its client.
void connect_to(Program& server, Socket& peer)
{
    ASSERT_TRUE(server.wait_for("Attente d'un client", 5s)) << server.console();
    peer = tcp_connect(kPort, 5s);
    ASSERT_TRUE(peer);
}

// Reads the records in order, each at least the server's pause after the one before;
// with `hang_up`, the server then hangs up, after the pause that follows the last.
void expect_records(const Socket& peer, const std::vector<std::string>& texts, bool hang_up)
{
    auto last = Clock::now() - 1s;
    for (size_t i = 0; i < texts.size(); ++i) {
        ASSERT_EQ(read_exactly(peer, kRecord, turns(1)), record(texts[i])) << "record " << i;
        EXPECT_GE(seconds_since(last), kPause) << "record " << i << " came before the pause";
        last = Clock::now();
    }
    if (hang_up) {
        EXPECT_TRUE(wait_closed(peer, turns(1))) << "the server must hang up after the last";
        EXPECT_GE(seconds_since(last), kPause) << "the server hung up before its pause";
    }
}

// The server has printed its closing texts: its port is free again (the listening socket
// is closed) while it waits for the final character, and that ends it with status 0.
void expect_server_ends(Program& server)
{
    ASSERT_TRUE(server.wait_for("Fermeture du serveur", turns(1))) << server.console();
    EXPECT_FALSE(wait_bound(Transport::Tcp, kPort, 0s)) << "the server still listens";
    server.type("q\n"); // the final character, if nothing typed is left for it
    EXPECT_EQ(server.wait_exit(5s), 0);
}

// The server's side: what is typed, and what must cross the wire.
struct TypedCase {
    const char* name;
    std::string typed;
    bool input_ends; // standard input closes after the typed text
    bool farewell;   // the last record ends the conversation, not the end of input
    std::vector<std::string> records;
    int extra_clients = 0; // connect after the first, wait in the backlog, are never served
};

class ServerRecords : public testing::TestWithParam<TypedCase> {};

TEST_P(ServerRecords, SendsEachReadAsOneZeroPaddedRecord)
{
    const TypedCase& c = GetParam();
    Program server("chatserver");
    Socket peer;
    ASSERT_NO_FATAL_FAILURE(connect_to(server, peer));
    ASSERT_TRUE(server.wait_for(kPrompt, 5s));
    std::vector<Socket> extra;
    extra.reserve(static_cast<std::size_t>(c.extra_clients));
    for (int i = 0; i < c.extra_clients; ++i)
        extra.push_back(tcp_connect(kPort, 5s));
    server.type(c.typed);
    if (c.input_ends)
        server.end_input();
    ASSERT_NO_FATAL_FAILURE(expect_records(peer, c.records, true));
    for (const auto& s : extra)
        EXPECT_EQ(read_exactly(s, 1, 100ms), "") << "an extra client got bytes";
    expect_server_ends(server);

    std::vector<std::string> numbers;
    EXPECT_TRUE(matches(server_console(c.records.size(), 0, c.farewell ? "" : kPrompt),
                        server.console(), &numbers))
        << server.console();
    ASSERT_EQ(numbers.size(), 3U) << server.console();
    EXPECT_EQ(numbers[2], std::to_string(local_port(peer))) << "the client's port";
}

const std::string x139(139, 'x');

// Every byte but the line feed, and a line of a kilobyte: each record reaches the client
// in order, byte for byte. (A Windows console reads in text mode, where Ctrl-Z ends the
// input and CR LF becomes LF: those two bytes are left out there.)
TypedCase every_byte()
{
    std::string all;
    for (int byte = 1; byte < 256; ++byte)
        if (byte != '\n' && !(on_wine() && (byte == 0x1A || byte == '\r')))
            all += static_cast<char>(byte);
    const std::string kilobyte = repeat("0123456789abcdef", 64);
    TypedCase c{
        "EveryByteButTheLineFeedInOrder", all + "\n" + kilobyte + "\nbye\n", false, true, {}};
    for (const std::string& line : {all + "\n", kilobyte + "\n", std::string("bye\n")})
        for (size_t at = 0; at < line.size(); at += kRecord - 1)
            c.records.push_back(line.substr(at, kRecord - 1));
    return c;
}

INSTANTIATE_TEST_SUITE_P(
    Chat, ServerRecords,
    testing::Values(
        TypedCase{
            "GreetingEmptyLineBye", "salut\n\nbye\n", false, true, {"salut\n", "\n", "bye\n"}},
        TypedCase{"LongLinesInPieces",
                  x139 + "\n" + std::string(140, 'y') + "\n" + std::string(300, 'z') + "\nbye\n",
                  false,
                  true,
                  {x139, "\n", std::string(139, 'y'), "y\n", std::string(139, 'z'),
                   std::string(139, 'z'), std::string(22, 'z') + "\n", "bye\n"}},
        TypedCase{"FarewellIsLowerCaseAtTheStart",
                  "Bye\nBYE\n bye\nbyebye\nnever sent\n",
                  false,
                  true,
                  {"Bye\n", "BYE\n", " bye\n", "byebye\n"}},
        TypedCase{"FarewellWithMoreBehind", "bye now\nnever sent\n", false, true, {"bye now\n"}},
        TypedCase{"SecondPieceBeginningWithBye",
                  x139 + "bye, and the rest\nnever sent\n",
                  false,
                  true,
                  {x139, "bye, and the rest\n"}},
        TypedCase{"ShorterLineAfterLongerOne",
                  "a rather long first line\nb\nbye\n",
                  false,
                  true,
                  {"a rather long first line\n", "b\n", "bye\n"}},
        TypedCase{"EndOfInputEndsLikeBye", "salut\n", true, false, {"salut\n"}},
        TypedCase{"LastLineWithoutLineFeed", "salut\nbye", true, true, {"salut\n", "bye"}},
        TypedCase{"ExtraClientsInTheBacklogChangeNothing",
                  "salut\nbye\n",
                  false,
                  true,
                  {"salut\n", "bye\n"},
                  3},
        every_byte()),
    by_name<TypedCase>);

// Types `typed` at the server and plays the conversation out, `records` of them: both
// consoles reach their closing texts, and each program ends with status 0 on its final
// character.
void play_out(Program& server, Program& client, const std::string& typed, size_t records)
{
    server.type(typed);
    ASSERT_TRUE(client.wait_for(kClientEnd, turns(records))) << client.console();
    expect_server_ends(server);
    client.type("q\n");
    EXPECT_EQ(client.wait_exit(5s), 0);
}

// The pair, on one machine or across two: the client names the server by address, or by
// a name that only this test's hosts file knows; the server names the client by its own
// address. Both consoles, byte for byte.
class ChatPair : public testing::TestWithParam<RemoteCase> {};

TEST_P(ChatPair, ConversationAsSeenOnBothConsoles)
{
    const RemoteCase& c = GetParam();
    std::optional<SecondHost> second;
    Options options = kUtc;
    if (c.server != nullptr) {
        second.emplace();
        know_this_host();
        options = second->client_of(c.server);
    }
    const std::string server_address = c.server != nullptr ? kThisHost : "127.0.0.1";
    const std::string client_address = c.server != nullptr ? kSecondHost : "127.0.0.1";
    const std::time_t started = std::time(nullptr);
    Program server("chatserver", kUtc);
    ASSERT_TRUE(server.wait_for("Attente d'un client", 5s)) << server.console();
    Program client("chatclient", options);
    ASSERT_NO_FATAL_FAILURE(expect_ready(client));
    ASSERT_TRUE(server.wait_for(kPrompt, 5s));

    const std::string long_line(300, 'z');
    play_out(server, client, "salut\n\n" + long_line + "\nbye\n", 6);

    EXPECT_TRUE(matches(server_console(6, 0, "", client_address), server.console()))
        << server.console();
    std::vector<std::string> stamps;
    EXPECT_TRUE(
        matches(kClientHeading + kClientSocket + connected(server_address) +
                    shown({"salut\n", "\n", long_line.substr(0, 139), long_line.substr(139, 139),
                           long_line.substr(278) + "\n", "bye\n"}) +
                    kClientEnd,
                client.console(), &stamps))
        << client.console();
    expect_one_start_time(stamps, started);
    // Windows' consoles are in text mode: every line feed reaches the pipe as CR LF.
    if (on_wine())
        EXPECT_NE(client.console().find("\r\n"), std::string::npos);
    else
        EXPECT_EQ(client.console().find('\r'), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Chat, ChatPair, kPairCases, by_name<RemoteCase>);

// The client's side: what a server sends, one piece per receive, and how it ends.
enum class Ending { HangUp, Reset, StaysOpen };

struct PeerCase {
    const char* name;
    std::vector<std::string> sent;
    Ending ending;
    std::vector<std::string> shown;
};

class ClientShows : public testing::TestWithParam<PeerCase> {};

TEST_P(ClientShows, ExactlyTheBytesOfEachReceive)
{
    const PeerCase& c = GetParam();
    Socket listener = tcp_listen(kPort);
    Program client("chatclient", kUtc);
    Socket server = tcp_accept(listener, 5s);
    ASSERT_TRUE(server);
    ASSERT_NO_FATAL_FAILURE(expect_ready(client));
    const std::string heading = folded(client.console());
    const std::string stamp = heading.substr(heading.find("CLIENT=========\n") + 16, 24);
    size_t receives = 0;
    for (const auto& piece : c.sent) {
        send_all(server, piece);
        // Every receive of a piece shown before the next is sent (the client takes at most
        // a record at a time), so that each piece is received apart.
        receives = std::min(receives + (piece.size() + kRecord - 1) / kRecord, c.shown.size());
        ASSERT_TRUE(client.wait_for(stamp, 5s, receives + 1)) << client.console();
    }
    if (c.ending != Ending::StaysOpen)
        server.reset(c.ending == Ending::Reset);

    ASSERT_TRUE(client.wait_for(kClientEnd, 5s)) << client.console();
    if (c.ending == Ending::StaysOpen) {
        EXPECT_TRUE(wait_closed(server, 2s)) << "the client must close its socket when it ends";
    }
    client.type("q\n");
    EXPECT_EQ(client.wait_exit(5s), 0);
    EXPECT_TRUE(matches(kClientHeading + kClientSocket + kConnected + shown(c.shown) + kClientEnd,
                        client.console()))
        << client.console();
}

std::string with_nul(const char* text, size_t size)
{
    return std::string(text, size);
}

// A hostile server: noise in chunks of 1 to 400 bytes. The client shows, for each receive
// of at most 140 bytes, exactly its bytes up to the first zero byte.
enum class Noise { Zeros, AllOnes, AnyByte };

PeerCase noise(const char* name, Noise kind, unsigned seed, Ending ending)
{
    std::mt19937 random(seed);
    PeerCase c{name, {}, ending, {}};
    for (int i = 0; i < 8; ++i) {
        std::string chunk(std::uniform_int_distribution<size_t>(1, 400)(random), '\0');
        for (auto& byte : chunk)
            byte = static_cast<char>(kind == Noise::Zeros     ? 0x00
                                     : kind == Noise::AllOnes ? 0xFF
                                                              : random() & 0xFF);
        for (size_t at = 0; at < chunk.size(); at += kRecord) {
            // No piece may begin with the farewell: it would end the run before the noise.
            if (chunk.compare(at, 3, "bye") == 0)
                chunk[at] = 'B';
            const std::string piece = chunk.substr(at, kRecord);
            c.shown.push_back(piece.substr(0, piece.find('\0')));
        }
        c.sent.push_back(chunk);
    }
    return c;
}

INSTANTIATE_TEST_SUITE_P(
    Chat, ClientShows,
    testing::Values(PeerCase{"ServerHangsUp", {record("salut\n")}, Ending::HangUp, {"salut\n"}},
                    PeerCase{"ServerResets", {record("salut\n")}, Ending::Reset, {"salut\n"}},
                    PeerCase{"ShortAfterLongShowsNoLeftovers",
                             {"a much longer first line\n", "hi\n"},
                             Ending::HangUp,
                             {"a much longer first line\n", "hi\n"}},
                    // Only the bytes of this receive make a farewell, not those that an
                    // earlier, longer one left in the buffer.
                    PeerCase{"ShortPieceOverAnOldOneIsNoFarewell",
                             {"aye\n", "b", "hi\n"},
                             Ending::HangUp,
                             {"aye\n", "b", "hi\n"}},
                    PeerCase{"NothingAfterTheZeroByte",
                             {with_nul("abc\n\0garbage", 12)},
                             Ending::HangUp,
                             {"abc\n"}},
                    PeerCase{"FullRecordWithoutZeroByte",
                             {std::string(140, 'w'), record("bye\n")},
                             Ending::StaysOpen,
                             {std::string(140, 'w'), "bye\n"}},
                    PeerCase{"FarewellEndsWhileConnectionStaysOpen",
                             {record("bye\n"), record("after\n")},
                             Ending::StaysOpen,
                             {"bye\n"}},
                    PeerCase{"NoRecordAtAll", {}, Ending::HangUp, {}},
                    noise("NoiseOfZerosThenHangUp", Noise::Zeros, 1, Ending::HangUp),
                    noise("NoiseOfAllOnesThenReset", Noise::AllOnes, 2, Ending::Reset),
                    noise("NoiseOfAnyByteThenHangUp", Noise::AnyByte, 3, Ending::HangUp),
                    noise("NoiseOfAnyByteThenReset", Noise::AnyByte, 4, Ending::Reset)),
    by_name<PeerCase>);

// Failures of set-up: each program prints its texts, then waits for its final character.
enum class Setup { NoServer, PortTaken, NoSocket, NoAccept, UnknownServer, Ipv6Only };

struct FailureCase {
    const char* name;
    const char* program;
    Setup setup;
    std::string console;
    const char* wine = nullptr; // why Wine cannot show it, if it cannot
};

class SetUpFailure : public testing::TestWithParam<FailureCase> {};

TEST_P(SetUpFailure, PrintsItsTextsAndWaitsForTheFinalCharacter)
{
    const FailureCase& c = GetParam();
    SKIP_UNDER_WINE(c.wine);
    Socket holder;
    Options options = kUtc;
    if (c.setup == Setup::PortTaken)
        holder = tcp_listen(kPort);
    if (c.setup == Setup::NoSocket)
        options.refused_calls = {SYS_socket};
    if (c.setup == Setup::NoAccept)
        options.refused_calls = {SYS_accept, SYS_accept4};
    const bool named = c.setup == Setup::UnknownServer || c.setup == Setup::Ipv6Only;
    if (named) {
        know_this_host();
        options.args = {c.setup == Setup::Ipv6Only ? kIpv6OnlyName : "nowhere.invalid"};
        holder = tcp_listen(kPort);
    }
    Program program(c.program, options);
    ASSERT_TRUE(program.wait_for(c.console.substr(c.console.size() - 20), 5s)) << program.console();
    EXPECT_EQ(program.wait_exit(300ms), kTimedOut) << "must wait for the final character";
    EXPECT_TRUE(matches(c.console, program.console())) << program.console();
    if (named) {
        EXPECT_FALSE(tcp_accept(holder, 10ms)) << "a server that was not found was connected to";
    }
}

TEST(SetUpFailure, EndsWithStatusZeroOnTheFinalCharacter)
{
    Program client("chatclient", kUtc);
    ASSERT_TRUE(client.wait_for("en ligne\n", 5s));
    client.end_input();
    EXPECT_EQ(client.wait_exit(5s), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Chat, SetUpFailure,
    testing::Values(FailureCase{"ClientWithoutServer", "chatclient", Setup::NoServer,
                                kClientHeading + kClientSocket + kNoServer},
                    FailureCase{"ClientUnknownServer", "chatclient", Setup::UnknownServer,
                                kClientHeading + kClientSocket + unknown_server("nowhere.invalid")},
                    FailureCase{"ClientServerWithoutIPv4", "chatclient", Setup::Ipv6Only,
                                kClientHeading + kClientSocket + unknown_server(kIpv6OnlyName)},
                    FailureCase{"ClientWithoutSocket", "chatclient", Setup::NoSocket,
                                kClientHeading + kClientNoSocket + kNoServer},
                    FailureCase{"ServerPortTaken", "chatserver", Setup::PortTaken,
                                kServerHeading + kServerSocket + kServerClosing},
                    FailureCase{"ServerWithoutSocket", "chatserver", Setup::NoSocket,
                                kServerHeading},
                    FailureCase{"ServerAcceptFails", "chatserver", Setup::NoAccept,
                                kServerHeading + kServerSocket + kServerWaiting + kServerClosing,
                                kWineAccepts}),
    by_name<FailureCase>);

TEST(ChatServer, WarnsWhenTheClientHasGoneAndGoesOn)
{
    Program server("chatserver");
    Socket peer;
    ASSERT_NO_FATAL_FAILURE(connect_to(server, peer));
    server.type("one\n");
    ASSERT_NO_FATAL_FAILURE(expect_records(peer, {"one\n"}, false));
    peer.reset(true);
    server.type("two\nthree\nbye\n");
    ASSERT_TRUE(server.wait_for("Fermeture du serveur", turns(4))) << server.console();
    expect_server_ends(server);
    EXPECT_TRUE(matches(server_console(1, 3), server.console())) << server.console();
}

TEST(ChatServer, StartsAgainRightAfterAConversation)
{
    for (int run = 1; run <= 2; ++run) {
        Program server("chatserver");
        Socket peer;
        ASSERT_NO_FATAL_FAILURE(connect_to(server, peer)) << "run " << run;
        server.type("bye\n");
        ASSERT_NO_FATAL_FAILURE(expect_records(peer, {"bye\n"}, true));
        peer.reset(); // the server's side of the connection now lingers in TIME_WAIT
        expect_server_ends(server);
    }
}

// A network that falls silent under a chat across two machines (see fall_silent): no
// line is called sent that cannot have arrived, and nothing waits for ever.
class SilentNetwork : public testing::Test {
  protected:
    // The server here, the client on the second machine naming it, and one line through.
    void SetUp() override
    {
        server.emplace("chatserver");
        ASSERT_TRUE(server->wait_for("Attente d'un client", 5s)) << server->console();
        client.emplace("chatclient", second.client_of(kThisHost));
        ASSERT_TRUE(server->wait_for(kPrompt, 5s)) << server->console();
        server->type("salut\n");
        ASSERT_TRUE(client->wait_for("salut", turns(1))) << client->console();
        ASSERT_TRUE(server->wait_for(kPrompt, turns(1), 2)) << server->console();
    }

    SecondHost second;
    std::optional<Program> server;
    std::optional<Program> client;
};

TEST_F(SilentNetwork, LinesTheClientCannotAcknowledgeAreNotCalledSent)
{
    SKIP_UNDER_WINE(kWineNoMaxrt);
    fall_silent(kThisHost, second.pid());
    // This line is still called sent: nothing can be known yet.
    server->type("un\n");
    ASSERT_TRUE(server->wait_for(kPrompt, turns(1), 3)) << server->console();
    // Within ten seconds unacknowledged, the connection ends: later lines are not sent.
    std::this_thread::sleep_for(10s);
    server->type("deux\nbye\n");
    expect_server_ends(*server);
    EXPECT_TRUE(matches(server_console(2, 2, "", kSecondHost), server->console()))
        << server->console();
}

TEST_F(SilentNetwork, BothSidesNoticeTheCablePulledWithNothingToSend)
{
    fall_silent(kThisHost, second.pid());
    fall_silent(kSecondHost);
    const auto cut = Clock::now();
    // The client ends as after a farewell, within 45 seconds.
    ASSERT_TRUE(client->wait_for(kClientEnd, 50s)) << client->console();
    EXPECT_LE(seconds_since(cut), 45.0);
    EXPECT_EQ(client->wait_exit(300ms), kTimedOut) << "must wait for the final character";
    EXPECT_TRUE(matches(kClientHeading + kClientSocket + connected(kThisHost) + shown({"salut\n"}) +
                            kClientEnd,
                        client->console()))
        << client->console();
    // By then the server knows too: the next line is not sent, and bye still ends it.
    std::this_thread::sleep_until(cut + 45s);
    server->type("bye\n");
    expect_server_ends(*server);
    EXPECT_TRUE(matches(server_console(1, 1, "", kSecondHost), server->console()))
        << server->console();
}

TEST(SilentServer, ChatClientGivesUpConnectingWithinTenSeconds)
{
    SKIP_UNDER_WINE(kWineNoMaxrt);
    SecondHost second;
    fall_silent(kSecondHost);
    Program client("chatclient", second.client_of(kThisHost));
    ASSERT_TRUE(client.wait_for(kClientSocket, 5s)) << client.console();
    const auto asked = Clock::now();
    ASSERT_TRUE(client.wait_for(kNoServer, 15s)) << client.console();
    EXPECT_LE(seconds_since(asked), 10.0);
    EXPECT_EQ(client.wait_exit(300ms), kTimedOut) << "must wait for the final character";
    EXPECT_TRUE(matches(kClientHeading + kClientSocket + kNoServer, client.console()))
        << client.console();
}

} // namespace
