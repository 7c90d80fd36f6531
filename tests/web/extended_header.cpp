#include <gtest/gtest.h>

#include "tests/web/fake_webserver.h"
#include "web/extended_header.h"

using namespace web_test;

namespace {
// The item types of an encoded header, in wire order.
std::vector<int> Order(const std::string& body)
{
    std::vector<int> types;
    for (size_t at = 4; at + 3 <= body.size(); at += 3 + Get16(body, at + 1)) types.push_back((unsigned char)body[at]);
    return types;
}
}  // namespace

TEST(extended_header, items_go_out_in_the_fixed_order_whatever_order_they_were_set_in)
{
    ExtendedHeader eh(true);
    eh.SetTransferInfo(WSP_RESPONSE_CSS, WSR_FLAG_GZIP, WS_SIZE_CHUNKED);
    eh.SetString(DDT_HOST, "h");
    eh.SetString(DDT_AUTH_PASSWORD, "");
    eh.SetU32(DDT_CONNECTION_FLAGS, 9);
    eh.SetFlag(DDT_DYNAMIC_AUTHENTICATION);
    eh.SetString(DDT_REQUEST_PATH, "/p");
    std::string body = eh.Encode();
    EXPECT_EQ(Order(body), (std::vector<int>{0, 9, 6, 4, 16, 18, 11}));
    auto items = ParseEh(body);
    EXPECT_EQ(items[9], std::string(1, '\0')) << "an empty string still carries its NUL";
    EXPECT_EQ(items[11], Be16(WSP_RESPONSE_CSS) + Be16(1));

    eh.Clear();
    EXPECT_TRUE(eh.Empty());
    EXPECT_EQ(eh.Encode(), "");
}

TEST(extended_header, narrow_mode_carries_sizes_in_32_bits_and_wide_mode_in_items_of_their_own)
{
    struct Case {
        bool wide;
        unsigned long long size;
        std::string info, dataSize;
        bool chunked;
    } cases[] = {
        {false, 5, Be16(257) + Be16(0) + Be32(5), "", false},
        {false, WS_SIZE_CHUNKED, Be16(257) + Be16(0) + Be32(0xFFFFFFFF), "", false},
        {false, 5000000000ULL, Be16(257) + Be16(0) + Be32(0xFFFFFFFF), "", false},
        {true, 5000000000ULL, Be16(257) + Be16(0), Be64(5000000000ULL), false},
        {true, WS_SIZE_CHUNKED, Be16(257) + Be16(0), "", true},
        {true, 0, Be16(257) + Be16(0), "", false},
    };
    for (const Case& c : cases) {
        ExtendedHeader eh(c.wide);
        eh.SetTransferInfo(WSP_RESPONSE_BINARY, 0, c.size);
        auto items = ParseEh(eh.Encode());
        EXPECT_EQ(items[11], c.info) << c.wide << " " << c.size;
        EXPECT_EQ(items.count(17) ? items[17] : "", c.dataSize) << c.wide << " " << c.size;
        EXPECT_EQ(items.count(18) == 1, c.chunked) << c.wide << " " << c.size;
    }

    // Decoding: ranges take 9 bytes each in narrow mode, 17 in wide mode.
    std::string narrowRange = Eh().Raw(3, Be32(1) + '\1' + Be32(3) + Be32(7)).Body();
    ExtendedHeaderDecoder d;
    ASSERT_TRUE(d.Decode(narrowRange.data(), narrowRange.size(), false));
    ASSERT_EQ(d.RangeCount(), 1u);
    EXPECT_EQ(d.Range(0).start, 3u);
    EXPECT_EQ(d.Range(0).end, 7u);
    EXPECT_FALSE(d.Decode(narrowRange.data(), narrowRange.size(), true));

    struct SizeCase {
        std::string items;
        unsigned long long size;
    } sizes[] = {
        {Eh().Raw(11, Be16(0) + Be16(0) + Be32(0xFFFFFFFF)).items, WS_SIZE_CHUNKED},
        {Eh().Raw(11, Be16(0) + Be16(0) + Be32(12)).items, 12},
        {Eh().U64(17, 1ULL << 40).items, 1ULL << 40},
        {Eh().Raw(18, "").U64(17, 5).items, WS_SIZE_CHUNKED},
        {Eh().Str(0, "/").items, 0},
    };
    for (const SizeCase& s : sizes) {
        std::string body = Be32((unsigned)s.items.size()) + s.items;
        ASSERT_TRUE(d.Decode(body.data(), body.size(), true));
        EXPECT_EQ(d.DataSize(), s.size);
    }
}
