#include <gtest/gtest.h>

#include "routing/dispatcher.h"

using namespace SignCore;

namespace {

struct Answer {
    int status;
    std::string body;
    bool cors;
};

Answer dispatch(const std::string& method, const std::string& url, const std::string& body,
                const std::string& content_type = "") {
    TElHTTPServerRequest request;
    request.MethodText = method;
    request.Method = method == "GET" ? kMethodGet : method == "POST" ? kMethodPost : kMethodOther;
    request.URL = url;
    if (!content_type.empty()) request.Headers.emplace_back("Content-Type", content_type);
    TElHTTPServerRequestParams params;
    params.Assign(&request);
    TElHTTPServerResponseParams response;
    TMemoryStream stream;
    stream.WriteText(body);
    std::string result;
    sealdesk::Dispatch(params, response, stream, true, nullptr, result);
    bool cors = false;
    for (const auto& [name, value] : response.OtherHeaders) cors |= name == "Access-Control-Allow-Origin";
    EXPECT_EQ(response.ContentLength, static_cast<std::int64_t>(result.size()));
    return {response.StatusCode, result, cors};
}

TEST(Dispatcher, FormDecodingSwitch) {
    // Off: fields arrive as sent.
    EXPECT_EQ(dispatch("POST", "/echo", "value=a+b%41", "text/plain").body, "a+b%41");
    sealdesk::SetFormDecoding(true);
    EXPECT_EQ(dispatch("POST", "/echo", "value=a+b%41", "text/plain").body, "a bA");
    EXPECT_EQ(dispatch("POST", "/echo", "value=a+b%41").body, "a bA");
    // Exactly the form type, without parameters, is never decoded.
    EXPECT_EQ(dispatch("POST", "/echo", "value=a+b%41", "application/x-www-form-urlencoded").body, "a+b%41");
    EXPECT_EQ(dispatch("POST", "/echo", "value=a+b%41", "application/x-www-form-urlencoded; charset=UTF-8").body,
              "a bA");
    sealdesk::SetFormDecoding(false);
    EXPECT_EQ(dispatch("POST", "/echo", "value=a+b%41", "text/plain").body, "a+b%41");
}

TEST(Dispatcher, MethodsAndCrossOriginHeader) {
    const Answer post = dispatch("POST", "/echo", "value=abc");
    EXPECT_EQ(post.status, 200);
    EXPECT_EQ(post.body, "abc");
    EXPECT_TRUE(post.cors);
    const Answer get = dispatch("GET", "/echo", "value=abc");
    EXPECT_EQ(get.status, 200);
    EXPECT_FALSE(get.cors);
    const Answer patch = dispatch("PATCH", "/echo", "value=abc");
    EXPECT_EQ(patch.status, 400);
    EXPECT_EQ(patch.body, "");
    EXPECT_FALSE(patch.cors);
}

}  // namespace
