// The four programs' command lines: help, and wrong use refused before anything else is
// done, with nothing left to press (no final read: the tests type nothing).
#include "harness.hpp"

#include <gtest/gtest.h>

using namespace harness;
using namespace std::chrono_literals;

namespace {

const std::string kChatServerUsage = "Utilisation : chatserver\n";
const std::string kChatClientUsage = "Utilisation : chatclient [serveur]\n";
const std::string kTimeServerUsage = "Utilisation : timeserver\n";
const std::string kTimeClientUsage = "Utilisation : timeclient [serveur]\n";

// The line of help that follows the usage; the chat programs' é is 0x82, the time
// programs' 0xE9, as in the rest of their texts.
const std::string kChatServerAbout =
    "Attend un client sur le port TCP 1609 et lui envoie chaque ligne tap\x82"
    "e, jusqu'au \"bye\".\n";
const std::string kChatClientAbout = "Se connecte au serveur de chat (nom ou adresse IPv4, "
                                     "127.0.0.1 par d\x82"
                                     "faut), port TCP 1609, et affiche ses messages.\n";
const std::string kTimeServerAbout =
    "R\xE9pond \xE0 une demande de temps (RFC 868) sur le port UDP 37, puis attend Entr\xE9"
    "e.\n";
const std::string kTimeClientAbout = "Demande l'heure au serveur de temps (nom ou adresse IPv4, "
                                     "127.0.0.1 par d\xE9"
                                     "faut), port UDP 37 (RFC 868), et l'affiche.\n";

struct UseCase {
    const char* name;
    const char* program;
    std::vector<std::string> args;
    int status;
    std::string out; // standard output
    std::string err; // standard error
};

class CommandLine : public testing::TestWithParam<UseCase> {};

TEST_P(CommandLine, HelpOrWrongUseEndsAtOnce)
{
    const UseCase& c = GetParam();
    Options options;
    options.args = c.args;
    options.own_errors = true;
    Program program(c.program, options);
    EXPECT_EQ(program.wait_exit(5s), c.status) << "it must not wait for a final character";
    EXPECT_EQ(folded(program.console()), c.out);
    EXPECT_EQ(folded(program.errors()), c.err);
}

UseCase help(const char* name, const char* program, const char* option, const std::string& usage,
             const std::string& about)
{
    return {name, program, {option}, 0, usage + about, ""};
}

UseCase wrong(const char* name, const char* program, std::vector<std::string> args,
              const std::string& usage)
{
    return {name, program, std::move(args), 2, "", usage};
}

INSTANTIATE_TEST_SUITE_P(
    Programs, CommandLine,
    testing::Values(
        help("ChatServerHelp", "chatserver", "-h", kChatServerUsage, kChatServerAbout),
        help("ChatClientHelp", "chatclient", "--help", kChatClientUsage, kChatClientAbout),
        help("TimeServerHelp", "timeserver", "--help", kTimeServerUsage, kTimeServerAbout),
        help("TimeClientHelp", "timeclient", "-h", kTimeClientUsage, kTimeClientAbout),
        // The servers take no argument: a port, say, is not passed over.
        wrong("ChatServerPort", "chatserver", {"1610"}, kChatServerUsage),
        wrong("TimeServerPort", "timeserver", {"37"}, kTimeServerUsage),
        wrong("ChatClientTwoServers", "chatclient", {"a", "b"}, kChatClientUsage),
        wrong("ChatClientEmptyServer", "chatclient", {""}, kChatClientUsage),
        wrong("ChatClientUnknownOption", "chatclient", {"-p"}, kChatClientUsage),
        wrong("TimeClientHelpAndMore", "timeclient", {"-h", "x"}, kTimeClientUsage),
        wrong("TimeClientEmptyServer", "timeclient", {""}, kTimeClientUsage),
        wrong("TimeClientServerAndPort", "timeclient", {"127.0.0.1", "37"}, kTimeClientUsage)),
    by_name<UseCase>);

} // namespace
