// The mapping between HTTP requests and answers and plugin meta data.
#include <gtest/gtest.h>

#include "platform/webserver/extended_header.h"
#include "platform/webserver/frame.h"
#include "platform/webserver/plugin_protocol.h"
#include "platform/webserver/request_header.h"
#include "platform/webserver/response_meta.h"

using namespace wsp;

namespace {

std::string Bytes(std::initializer_list<int> b)
{
    std::string s;
    for (int c : b) s.push_back(char(c));
    return s;
}

std::string Field(const ResponsePlan& plan, const std::string& name)
{
    for (auto& f : plan.fields)
        if (f.first == name) return f.second;
    return "(none)";
}

ResponsePlan Plan(const ExtendedHeaderWriter& w, uint32_t general = 0, bool options = false)
{
    std::string body;
    EXPECT_TRUE(w.Encode(body));
    ExtendedHeader h;
    EXPECT_EQ(h.Decode(body), "");
    ResponsePlan plan;
    EXPECT_EQ(PlanResponse(h, general, options, plan), "");
    return plan;
}

std::string Info(uint16_t type, uint16_t flags)
{
    std::string s;
    PutU16(s, type);
    PutU16(s, flags);
    return s;
}

}  // namespace

// Longest prefixes, segment boundaries and owners leaving are checked on the
// real server (forwarding.cpp); here the paths it never sees and the root.
TEST(webserver_codec, request_header_carries_etag_ranges_and_body_size)
{
    // Tags in every form and single ranges are checked end to end (tests/e2e/static_files.cpp).
    EXPECT_EQ(EtagFromIfNoneMatch(" W/\"abc\", \"def\""), "abc");
    EXPECT_EQ(EtagFromIfNoneMatch("*"), "*");
    std::vector<HttpRange> ranges;
    ASSERT_TRUE(ParseRangeField("bytes=0-99, 200-,-5", ranges));
    ASSERT_EQ(ranges.size(), 3u);
    EXPECT_EQ(ranges[0].kind, RANGE_FROM_TO);
    EXPECT_EQ(ranges[0].end, 99u);
    EXPECT_EQ(ranges[1].kind, RANGE_FROM);
    EXPECT_EQ(ranges[1].start, 200u);
    EXPECT_EQ(ranges[2].kind, RANGE_LAST);
    EXPECT_EQ(ranges[2].start, 5u);
    // Reversed and unreadable ranges still reach the plugin, which refuses them; other units do not.
    ASSERT_TRUE(ParseRangeField("bytes=9-2", ranges));
    for (const char* bad : {"bytes=a-1", "bytes=1", "bytes=99999999999999999999-"}) {
        ASSERT_TRUE(ParseRangeField(bad, ranges)) << bad;
        EXPECT_EQ(ranges[0].kind, RANGE_INVALID) << bad;
    }
    for (const char* ignored : {"items=0-1", "bytes="}) EXPECT_FALSE(ParseRangeField(ignored, ranges)) << ignored;

    RequestInfo info;
    info.resource = "/f?x=1";
    info.registered = "/app";
    info.fields = {{"Host", "h"}, {"Range", "bytes=3-"}, {"If-None-Match", "\"t\""}};
    info.host = "h";
    info.connectionFlags = CONNECTION_ENCRYPTED;
    info.hasSize = true;
    info.size = uint64_t(5) << 32;
    std::string body;
    ASSERT_TRUE(EncodeRequestHeader(info, body));
    ExtendedHeader h;
    ASSERT_EQ(h.Decode(body), "");
    EXPECT_EQ(h.String(DDT_ETAG), "t");
    uint64_t size;
    ASSERT_TRUE(h.U64(DDT_DATA_SIZE, size));
    EXPECT_EQ(size, uint64_t(5) << 32);
    ASSERT_TRUE(h.Ranges(ranges, true));
    ASSERT_EQ(ranges.size(), 1u);
    EXPECT_EQ(h.Raw(DDT_REQUEST_RANGES)->size(), 4u + 17u);
    EXPECT_FALSE(h.Has(DDT_TRANSFER_INFO));

    info.chunked = true;
    info.fields.assign(1, {"X-Big", std::string(70000, 'x')});
    EXPECT_FALSE(EncodeRequestHeader(info, body));  // never more than one frame
    info.fields.clear();
    ASSERT_TRUE(EncodeRequestHeader(info, body));
    ASSERT_EQ(h.Decode(body), "");
    EXPECT_TRUE(h.Has(DDT_CHUNK_ENCODED_TRANSFER));
    EXPECT_FALSE(h.Has(DDT_DATA_SIZE));
    EXPECT_FALSE(h.Has(DDT_HEADER_FIELDS));  // an empty list would be an empty string item
}

TEST(webserver_codec, meta_data_maps_to_status_and_fields)
{
    // A plain answer's status, type, encoding and tag, cancels and broken
    // transfer info are checked through the real server (forwarding.cpp,
    // tests/e2e/static_files.cpp).
    auto range = [](RangeKind kind, uint64_t start, uint64_t end) {
        std::string r;
        PutU32(r, 1);
        r.push_back(char(kind));
        PutU64(r, start);
        PutU64(r, end);
        return r;
    };
    ExtendedHeaderWriter w;
    w.U64(DDT_DATA_SIZE, 1000);
    w.Raw(DDT_REQUEST_RANGES, range(RANGE_LAST, 100, 0));
    ResponsePlan p = Plan(w);
    EXPECT_EQ(p.status, 206u);
    EXPECT_EQ(Field(p, "Content-Range"), "bytes 900-999/1000");
    EXPECT_EQ(p.length, 100u);
    w = ExtendedHeaderWriter();
    w.U64(DDT_DATA_SIZE, 10);
    w.Raw(DDT_REQUEST_RANGES, range(RANGE_FROM, 10, 0));
    EXPECT_EQ(Plan(w).status, 416u);

    w = ExtendedHeaderWriter();
    w.Raw(DDT_TRANSFER_INFO, Info(WSP_INT_UNCHANGED, 0));
    EXPECT_FALSE(Plan(w).bodyAllowed);

    w = ExtendedHeaderWriter();
    w.HeaderFields({{"Content-Disposition", "attachment"}, {"Content-Length", "1"}, {"X-Evil", "a\r\nSet-Cookie: x"}});
    w.String(DDT_REDIRECT_PATH, "/there");
    p = Plan(w, 1);
    EXPECT_EQ(p.status, 302u);
    EXPECT_EQ(Field(p, "Location"), "/there");
    EXPECT_EQ(Field(p, "Content-Disposition"), "attachment");
    EXPECT_EQ(Field(p, "Content-Length"), "(none)");  // framing stays ours
    EXPECT_EQ(Field(p, "X-Evil"), "(none)");

    // A page of the plugin's own names its status in a field that goes no further; it takes no range.
    w = ExtendedHeaderWriter();
    w.U64(DDT_DATA_SIZE, 10);
    w.HeaderFields({{"status", "404 Not Found"}, {"Cache-Control", "no-store"}});
    w.Raw(DDT_REQUEST_RANGES, range(RANGE_FROM, 10, 0));
    p = Plan(w);
    EXPECT_EQ(p.status, 404u);
    EXPECT_EQ(p.length, 10u);
    EXPECT_EQ(Field(p, "Status"), "(none)");
    EXPECT_EQ(Field(p, "Content-Range"), "(none)");
    w = ExtendedHeaderWriter();
    w.HeaderFields({{"Status", "304"}});
    p = Plan(w);
    EXPECT_EQ(p.status, 200u);
    EXPECT_EQ(Field(p, "Status"), "(none)");

    // Narrow transfer info: the size rides along, all ones meaning chunked.
    w = ExtendedHeaderWriter();
    w.Raw(DDT_TRANSFER_INFO, Info(WSP_RESPONSE_NO_TYPE + 1, 0) + Bytes({0xFF, 0xFF, 0xFF, 0xFF}));
    EXPECT_TRUE(Plan(w).chunked);
    w = ExtendedHeaderWriter();
    w.Raw(DDT_TRANSFER_INFO, Info(WSP_RESPONSE_NO_TYPE + 1, 0) + Bytes({0, 0, 1, 0}));
    EXPECT_EQ(Plan(w).length, 256u);

    w = ExtendedHeaderWriter();
    EXPECT_EQ(Field(Plan(w, 0x1FF7, true), "Allow"),
              "GET, POST, PUT, PROPFIND, MOVE, COPY, MKCOL, DELETE, OPTIONS, LOCK, UNLOCK, PROPPATCH, HEAD");
    EXPECT_EQ(CancelStatus(WSP_CANCEL_STREAM), 0u);
    EXPECT_EQ(CancelStatus(77), 500u);
    EXPECT_EQ(ContentTypeOf(WSP_RESPONSE_NO_TYPE), nullptr);
}
