#include <gtest/gtest.h>

#include "routing/form.h"

using sealdesk::c_atoi;
using sealdesk::FormMap;

namespace {

struct FormCase {
    const char* body;
    std::map<std::string, std::string> fields;
};

TEST(FormParse, FieldsAsReceived) {
    const FormCase cases[] = {
        {"", {}},
        {"value=abc", {{"value", "abc"}}},
        {"value=a+b%41", {{"value", "a+b%41"}}},        // no decoding
        {"a=1&a=2", {{"a", "2"}}},                       // last one wins
        {"a", {{"a", ""}}},                              // a name alone
        {"a=b=c", {{"a", "b=c"}}},                       // later "=" belongs to the value
        {"a=&b=2", {{"a", ""}, {"b", "2"}}},
        {"&&a=1", {{"", ""}, {"a", "1"}}},               // empty tokens set the empty name
        {"a=1&", {{"a", "1"}, {"", ""}}},
        {"=v", {{"", "v"}}},
        {"value=abc\n", {}},                             // a control byte voids the form
        {"x=1&value=\tabc", {}},
        {"v=\xc3\xa9\xff", {{"v", "\xc3\xa9\xff"}}},     // high bytes are ordinary
    };
    for (const auto& c : cases) {
        FormMap map = FormMap::parse(c.body);
        EXPECT_EQ(map.fields(), c.fields) << "body: " << c.body;
    }
}

TEST(FormParse, NulEndsTheBody) {
    const std::string body("a=1\0&b=2", 8);
    FormMap map = FormMap::parse(body);
    EXPECT_EQ(map.fields(), (std::map<std::string, std::string>{{"a", "1"}}));
}

TEST(FormParse, AbsentNameReadsEmpty) {
    FormMap map = FormMap::parse("a=1");
    EXPECT_EQ(map.text("missing"), "");
    EXPECT_EQ(map.integer("missing"), 0);
}

TEST(FormParse, PercentDecodingWhenAsked) {
    FormMap map = FormMap::parse("na%6De=a+b%41%zz%4");
    map.percent_decode();
    EXPECT_EQ(map.fields(), (std::map<std::string, std::string>{{"name", "a bA%zz%4"}}));
}

TEST(FormInteger, CRuntimeConversion) {
    const std::pair<const char*, int> cases[] = {
        {"2x", 2},        {"", 0},          {"abc", 0},          {"  42", 42},   {"\t-7", -7},
        {"+5", 5},        {"--5", 0},       {"12 3", 12},        {"007", 7},
        {"2147483647", 2147483647},         {"99999999999999", 2147483647},
        {"-99999999999999", -2147483647 - 1},
    };
    for (const auto& [text, expected] : cases) EXPECT_EQ(c_atoi(text), expected) << text;
}

}  // namespace
