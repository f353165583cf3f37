#include "chat/common.hpp"
#include "time_service/common.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
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

TEST(EpochConversion, BothWaysInThirtyTwoBitArithmetic)
{
    const struct {
        time32 unix_time;
        unsigned char wire[4]; // seconds since 1900, most significant byte first
    } cases[] = {
        {0, {0x83, 0xAA, 0x7E, 0x80}},          // 1970-01-01 00:00:00
        {946684800, {0xBC, 0x17, 0xC2, 0x00}},  // 2000-01-01 00:00:00
        {2085978495, {0xFF, 0xFF, 0xFF, 0xFF}}, // 2036-02-07 06:28:15
        {2085978496, {0x00, 0x00, 0x00, 0x00}}, // the count wraps
        {2085978497, {0x00, 0x00, 0x00, 0x01}}, // 2036-02-07 06:28:17
        {2147483647, {0x03, 0xAA, 0x7E, 0x7F}}, // 2038-01-19 03:14:07
        {-61505152, {0x80, 0x00, 0x00, 0x00}},  // 1968-01-20 03:14:08
    };
    for (const auto& c : cases) {
        std::uint32_t wire = 0;
        std::memcpy(&wire, c.wire, sizeof wire);
        const std::uint32_t sent = time_service::to_wire(c.unix_time);
        EXPECT_EQ(std::memcmp(&sent, c.wire, sizeof sent), 0) << c.unix_time;
        EXPECT_EQ(time_service::from_wire(wire), c.unix_time) << c.unix_time;
    }
}
