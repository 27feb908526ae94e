#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "toolkit/http_server.h"
#include "toolkit/sb_exception.h"
#include "toolkit/streams.h"
#include "toolkit/websocket.h"

using namespace SignCore;

namespace {

TEST(ToolkitExceptions, StatusToExceptionAndTexts) {
    struct Case {
        int status;
        std::string what;
    };
    const Case cases[] = {
        {1, "SignCore runtime exception: EType(Message: 'boom', ErrorCode: 0x0000abcd)"},
        {2, "SignCore library exception: EType(Message: 'boom', ErrorCode: 0x0000abcd)"},
        {3, "Insufficient Buffer Size"},
        {4, "Invalid Buffer Size"},
        {5, "Insufficient Parameter"},
        {6, "Internal error"},
        {-1, "Internal error"},
    };
    for (const auto& c : cases) {
        try {
            check_status(c.status, "EType", "boom", 0xabcd);
            ADD_FAILURE() << "status " << c.status << " raised nothing";
        } catch (const std::exception& e) {
            EXPECT_EQ(e.what(), c.what);
            EXPECT_TRUE(is_toolkit_exception(e));
        }
    }
    EXPECT_NO_THROW(check_status(0));
    EXPECT_FALSE(is_toolkit_exception(std::runtime_error("x")));
}

TEST(ToolkitExceptions, SupplementaryCodeOnlyWhenSet) {
    SBException e(1, "E", "m", 0x10, 0xFF);
    EXPECT_EQ(e.detail(), "E(Message: 'm', ErrorCode: 0x00000010, SupplErrorCode: 0x000000ff)");
    EXPECT_EQ(e.code(), 0x10u);
    EXPECT_EQ(e.suppl_code(), 0xFFu);
}

TEST(ToolkitFetch, GrowsUntilTheTextFits) {
    const std::string value(1000, 'q');
    int calls = 0;
    auto text = fetch_grow<std::string>([&](char* buffer, std::size_t& size) {
        ++calls;
        if (size < value.size()) {
            size = value.size();
            return static_cast<int>(kInsufficientBuffer);
        }
        std::memcpy(buffer, value.data(), value.size());
        size = value.size();
        return static_cast<int>(kOk);
    });
    EXPECT_EQ(text, value);
    EXPECT_EQ(calls, 2);
    EXPECT_THROW(fetch_grow<std::string>([](char*, std::size_t&) { return 2; }), SBException);
}

TEST(ToolkitURL, AbsoluteFormsToPaths) {
    const std::pair<const char*, const char*> cases[] = {
        {"https://127.0.0.1:14407/echo", "/echo"},
        {"http://host/getLastErr?x=1", "/getLastErr?x=1"},
        {"http://host", "/"},
        {"http://user:pw@host:1/a#frag", "/a"},
        {"http://[::1]:80/x", "/x"},
    };
    for (const auto& [url, path] : cases) EXPECT_EQ(TElURL::Parse(url).Path, path) << url;
    EXPECT_EQ(TElURL::Parse("https://h/x").Port, 443);
    EXPECT_EQ(TElURL::Parse("ftp://h:2121/x").Port, 2121);
    EXPECT_EQ(TElURL::Parse("ftp://h/x").Host, "h");
}

TEST(ToolkitStreams, MemoryStreamReadsBackWhatWasWritten) {
    TMemoryStream stream;
    stream.WriteText("hello");
    stream.Seek(1, SeekOrigin::Begin);
    stream.WriteText("EL");
    EXPECT_EQ(stream.Size(), 5);
    stream.Seek(0, SeekOrigin::Begin);
    char buffer[16] = {};
    EXPECT_EQ(stream.Read(buffer, sizeof buffer), 5u);
    EXPECT_STREQ(buffer, "hELlo");
    EXPECT_EQ(stream.Read(buffer, sizeof buffer), 0u);
}

// A WebSocket session fed byte by byte still finds its frames.
TEST(ToolkitWebSocket, FramesSplitAnywhere) {
    std::string sent;
    bool closed = false;
    TElWebSocketServer ws([&](const void* d, std::size_t n) { sent.append(static_cast<const char*>(d), n); },
                          [&] { closed = true; });
    std::vector<std::string> texts;
    ws.OnTextMessage = [&](const std::string& t) { texts.push_back(t); };
    const unsigned char mask[4] = {1, 2, 3, 4};
    auto frame = [&](unsigned char first, const std::string& payload) {
        std::string f;
        f += static_cast<char>(first);
        f += static_cast<char>(0x80 | payload.size());
        f.append(reinterpret_cast<const char*>(mask), 4);
        for (std::size_t i = 0; i < payload.size(); ++i) f += static_cast<char>(payload[i] ^ mask[i % 4]);
        return f;
    };
    const std::string input = frame(0x01, "ab") + frame(0x89, "p") + frame(0x80, "cd") + frame(0x88, "");
    for (char c : input) ws.Feed(reinterpret_cast<const std::uint8_t*>(&c), 1);
    EXPECT_EQ(texts, std::vector<std::string>{"abcd"});
    EXPECT_EQ(sent, std::string("\x8a\x01p\x88\x02\x03\xe8", 7));  // pong, then close 1000
    EXPECT_TRUE(closed);
}

}  // namespace
