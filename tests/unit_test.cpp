#include "chat/common.hpp"

#include <gtest/gtest.h>

#include <string>

TEST(FarewellRule, OnlyTheFirstThreeBytesInLowerCase)
{
    const struct {
        std::string record;
        bool farewell;
    } cases[] = {
        {"bye\n", true}, {"byebye\n", true}, {"bye now\n", true},    {"bye!", true},
        {"bye", true},   {"Bye\n", false},   {"BYE\n", false},       {" bye\n", false},
        {"by\n", false}, {"", false},        {"hello bye\n", false},
    };
    for (const auto& c : cases) {
        std::string buffer = c.record;
        buffer.resize(chat::MSG_SIZE, '\0');
        EXPECT_EQ(chat::is_farewell(buffer.data(), chat::MSG_SIZE), c.farewell) << c.record;
        // Only the bytes that a receive delivered count.
        EXPECT_EQ(chat::is_farewell(buffer.data(), static_cast<int>(c.record.size())), c.farewell)
            << c.record;
    }
    EXPECT_FALSE(chat::is_farewell("bye", 2));
}
