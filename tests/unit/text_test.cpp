// Unit tests of the text and encoding helpers.
#include "text/text.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <optional>
#include <random>
#include <string>
#include <vector>

namespace sealdesk {
namespace {

std::string bytes_of(std::initializer_list<int> list) {
    std::string s;
    for (int b : list) s.push_back(static_cast<char>(b));
    return s;
}

Bytes vec(std::initializer_list<int> list) {
    Bytes v;
    for (int b : list) v.push_back(static_cast<std::uint8_t>(b));
    return v;
}

std::string printable(const std::string& s) {
    static const char* d = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : s) {
        if (!out.empty()) out.push_back(' ');
        out.push_back(d[c >> 4]);
        out.push_back(d[c & 15]);
    }
    return out;
}

std::size_t count_lines(const std::string& s, const std::string& line) {
    std::size_t n = 0;
    for (std::size_t pos = s.find(line); pos != std::string::npos; pos = s.find(line, pos + 1)) ++n;
    return n;
}

// ---------------------------------------------------------------- to_utf8

TEST(TextUtf8, ToUtf8Table) {
    struct Case { std::u16string in; std::string out; };
    const Case cases[] = {
        {u"", ""},
        {u"A", "A"},
        {std::u16string(1, u'\0'), std::string(1, '\0')},
        {u"\u007F", bytes_of({0x7F})},
        {u"\u0080", bytes_of({0xC2, 0x80})},
        {u"\u00E9", bytes_of({0xC3, 0xA9})},
        {u"\u07FF", bytes_of({0xDF, 0xBF})},
        {u"\u0800", bytes_of({0xE0, 0xA0, 0x80})},
        {u"\u20AC", bytes_of({0xE2, 0x82, 0xAC})},
        {std::u16string(1, char16_t(0xD83D)), bytes_of({0xED, 0xA0, 0xBD})},
        {std::u16string(1, char16_t(0xDC00)), bytes_of({0xED, 0xB0, 0x80})},
        {u"\uFFFF", bytes_of({0xEF, 0xBF, 0xBF})},
        // A surrogate pair is never joined: each unit gives three bytes.
        {u"\U0001F600", bytes_of({0xED, 0xA0, 0xBD, 0xED, 0xB8, 0x80})},
        {u"a\u00E9\u20AC", bytes_of({0x61, 0xC3, 0xA9, 0xE2, 0x82, 0xAC})},
    };
    for (const Case& c : cases)
        EXPECT_EQ(printable(to_utf8(c.in)), printable(c.out)) << printable(c.out);
}

// -------------------------------------------------------------- from_utf8

TEST(TextUtf8, FromUtf8Valid) {
    struct Case { std::string in; std::u16string out; };
    const Case cases[] = {
        {"", u""},
        {bytes_of({0x41}), u"A"},
        {std::string(1, '\0'), std::u16string(1, u'\0')},
        {bytes_of({0x7F}), u"\u007F"},
        {bytes_of({0xC3, 0xA9}), u"\u00E9"},
        {bytes_of({0xE2, 0x82, 0xAC}), u"\u20AC"},
        {bytes_of({0xEF, 0xBF, 0xBF}), u"\uFFFF"},
        {"\xC4\x90\xE1\xBA\xB7ng", u"\u0110\u1EB7ng"},
        // Surrogate values are taken as the one unit (CESU-style round trip).
        {bytes_of({0xED, 0xA0, 0xBD}), std::u16string(1, char16_t(0xD83D))},
        {bytes_of({0xED, 0xA0, 0xBD, 0xED, 0xB8, 0x80}), u"\U0001F600"},
        // Above U+FFFF: a surrogate pair.
        {bytes_of({0xF0, 0x9F, 0x98, 0x80}), u"\U0001F600"},
        {bytes_of({0xF0, 0x90, 0x80, 0x80}), u"\U00010000"},
        {bytes_of({0xF4, 0x8F, 0xBF, 0xBF}), u"\U0010FFFF"},
        // Overlong forms are not rejected.
        {bytes_of({0xC0, 0x80}), std::u16string(1, u'\0')},
        {bytes_of({0xC1, 0x81}), u"A"},
        {bytes_of({0xE0, 0x80, 0xAF}), u"/"},
        {bytes_of({0xF0, 0x80, 0x81, 0x81}), u"A"},
        {bytes_of({0xF8, 0x80, 0x80, 0x81, 0x81}), u"A"},
        {bytes_of({0xFC, 0x80, 0x80, 0x80, 0x81, 0x81}), u"A"},
        {bytes_of({0xF8, 0x84, 0x8F, 0xBF, 0xBF}), u"\U0010FFFF"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(printable(c.in));
        std::u16string got;
        ASSERT_NO_THROW(got = from_utf8(c.in));
        EXPECT_EQ(got, c.out);
    }
}

TEST(TextUtf8, FromUtf8Invalid) {
    const std::string cases[] = {
        bytes_of({0xC3, 0x28}),                    // continuation not 80..BF
        bytes_of({0xE2, 0x82}),                    // cut off
        bytes_of({0xE2}),                          // cut off after the lead
        bytes_of({0xC3}),
        bytes_of({0xF0, 0x9F, 0x98}),
        bytes_of({0xF8, 0x80, 0x80, 0x80}),
        bytes_of({0xFC, 0x80, 0x80, 0x80, 0x80}),
        bytes_of({0x80}),                          // continuation as lead
        bytes_of({0xBF}),
        bytes_of({0x41, 0xA9}),
        bytes_of({0xC3, 0xA9, 0xA9}),
        bytes_of({0xE2, 0x28, 0xA1}),
        bytes_of({0xE2, 0x82, 0xC0}),              // continuation above BF
        bytes_of({0xC3, 0x00}),
        bytes_of({0xF4, 0x90, 0x80, 0x80}),        // 0x110000
        bytes_of({0xF7, 0xBF, 0xBF, 0xBF}),        // 0x1FFFFF
        bytes_of({0xF8, 0x88, 0x80, 0x80, 0x80}),  // 0x200000
        bytes_of({0xFC, 0x84, 0x80, 0x80, 0x80, 0x80}),
        bytes_of({0xFD, 0xBF, 0xBF, 0xBF, 0xBF, 0xBF}),
        bytes_of({0xFE, 0x80, 0x80, 0x80, 0x80, 0x80}),
        bytes_of({0xFF, 0x80, 0x80, 0x80, 0x80, 0x80}),
        "valid prefix then \xC3",
    };
    for (const std::string& c : cases) {
        SCOPED_TRACE(printable(c));
        try {
            (void)from_utf8(c);
            ADD_FAILURE() << "no exception";
        } catch (const bad_conversion& e) {
            EXPECT_STREQ(e.what(), "bad conversion");
        }
        // Also catchable as the standard family the header promises.
        EXPECT_THROW((void)from_utf8(c), std::range_error);
    }
}

TEST(TextUtf8, FromUtf8DoesNotReadPastView) {
    // A lead byte at the end of a view whose storage continues must fail.
    const std::vector<char> storage = {'a', static_cast<char>(0xC3), static_cast<char>(0xA9)};
    EXPECT_THROW((void)from_utf8(std::string_view(storage.data(), 2)), bad_conversion);
    EXPECT_EQ(from_utf8(std::string_view(storage.data(), 3)), u"a\u00E9");
}

TEST(TextUtf8, RoundTripEveryUnit) {
    std::u16string all;
    for (std::uint32_t u = 0; u <= 0xFFFF; ++u) all.push_back(static_cast<char16_t>(u));
    EXPECT_EQ(from_utf8(to_utf8(all)), all);
}

// ---------------------------------------------------------- utf8_response

TEST(TextUtf8, Utf8Response) {
    struct Case { std::u16string in; std::string out; };
    const Case cases[] = {
        {u"", bytes_of({0xEF, 0xBB, 0xBF})},
        {u"0", bytes_of({0xEF, 0xBB, 0xBF, 0x30})},
        {u"\u00E9", bytes_of({0xEF, 0xBB, 0xBF, 0xC3, 0xA9})},
        // A mark inside the text is just a character; the prefix stays once.
        {u"\uFEFFx", bytes_of({0xEF, 0xBB, 0xBF, 0xEF, 0xBB, 0xBF, 0x78})},
    };
    for (const Case& c : cases) EXPECT_EQ(printable(utf8_response(c.in)), printable(c.out));
    EXPECT_EQ(utf8_response(u"").size(), 3u);
}

// ----------------------------------------------------------- fold_accents

TEST(TextAccent, FoldTable) {
    struct Case { std::u16string in; std::u16string out; };
    const Case cases[] = {
        {u"\u0110\u1EB7ng Th\u1ECB \u00C1nh", u"Dang Thi Anh"},  // Đặng Thị Ánh
        {u"M\u00FCller", u"M\u00FCller"},                          // ü not in the table
        {u"", u""},
        {u"plain ASCII 123", u"plain ASCII 123"},
        {u"Nguy\u1EC5n V\u0103n \u0110\u1EE9c", u"Nguyen Van Duc"},
        {u"TR\u01AF\u1EDCNG \u0110\u1EA0I H\u1ECCC", u"TRUONG DAI HOC"},
        {u"\u1EF3\u1EF7\u1EF9\u1EF5\u00FD", u"yyyyy"},
        // Decomposed: base letter plus combining acute keeps the mark.
        {u"a\u0301", u"a\u0301"},
        // Letters of other languages that look alike are left alone.
        {u"\u00C5\u00D8\u00E7\u00F1\u0100\u01CD", u"\u00C5\u00D8\u00E7\u00F1\u0100\u01CD"},
    };
    for (const Case& c : cases) {
        std::u16string text = c.in;
        fold_accents(text);
        EXPECT_EQ(text, c.out);
        EXPECT_EQ(text.size(), c.in.size());
    }
}

// All 134 pairs of the accent table, typed independently of the
// implementation's table (as UTF-8 source characters).
TEST(TextAccent, AllTablePairs) {
    struct Group { char16_t target; const char* sources; std::size_t count; };
    const Group groups[] = {
        {u'A', "ÁÀẢÃẠĂẮẰẲẴẶÂẤẦẨẪẬ", 17},
        {u'a', "áàảãạăắằẳẵặâấầẩẫậ", 17},
        {u'E', "ÉÈẺẼẸÊẾỀỂỄỆ", 11},
        {u'e', "éèẻẽẹêếềểễệ", 11},
        {u'I', "ÍÌỈĨỊ", 5},
        {u'i', "íìỉĩị", 5},
        {u'O', "ÓÒỎÕỌÔỐỒỔỖỘƠỚỜỞỠỢ", 17},
        {u'o', "óòỏõọôốồổỗộơớờởỡợ", 17},
        {u'U', "ÚÙỦŨỤƯỨỪỬỮỰ", 11},
        {u'u', "úùủũụưứừửữự", 11},
        {u'Y', "ÝỲỶỸỴ", 5},
        {u'y', "ýỳỷỹỵ", 5},
        {u'D', "Đ", 1},
        {u'd', "đ", 1},
    };
    std::u16string all_sources, all_targets;
    for (const Group& g : groups) {
        const std::u16string src = from_utf8(g.sources);
        ASSERT_EQ(src.size(), g.count) << static_cast<char>(g.target);
        all_sources += src;
        all_targets += std::u16string(src.size(), g.target);
    }
    ASSERT_EQ(all_sources.size(), 134u);
    std::u16string text = all_sources;
    fold_accents(text);
    EXPECT_EQ(text, all_targets);

    // Every other unit of the 16-bit range stays as it is.
    std::u16string every;
    for (std::uint32_t u = 0; u <= 0xFFFF; ++u) every.push_back(static_cast<char16_t>(u));
    std::u16string folded = every;
    fold_accents(folded);
    ASSERT_EQ(folded.size(), every.size());
    std::size_t changed = 0;
    for (std::size_t i = 0; i < every.size(); ++i) {
        if (folded[i] == every[i]) {
            EXPECT_EQ(all_sources.find(every[i]), std::u16string::npos) << std::hex << i;
        } else {
            ++changed;
            const std::size_t pos = all_sources.find(every[i]);
            ASSERT_NE(pos, std::u16string::npos) << std::hex << i;
            EXPECT_EQ(folded[i], all_targets[pos]);
        }
    }
    EXPECT_EQ(changed, 134u);
}

// ----------------------------------------------------------- uint_to_utf8

TEST(TextUtf8, UintToUtf8Table) {
    struct Case { std::uint32_t in; std::string out; };
    const Case cases[] = {
        {0x00, std::string(1, '\0')},
        {0x41, bytes_of({0x41})},
        {0x7F, bytes_of({0x7F})},
        {0x80, bytes_of({0xC2, 0x80})},
        {0xE9, bytes_of({0xC3, 0xA9})},
        {0x7FF, bytes_of({0xDF, 0xBF})},
        {0x800, bytes_of({0xE0, 0xA0, 0x80})},
        {0x20AC, bytes_of({0xE2, 0x82, 0xAC})},
        {0xD800, bytes_of({0xED, 0xA0, 0x80})},
        {0xDFFF, bytes_of({0xED, 0xBF, 0xBF})},
        {0xFFFF, bytes_of({0xEF, 0xBF, 0xBF})},
        {0x10000, bytes_of({0xF0, 0x90, 0x80, 0x80})},
        {0x1F600, bytes_of({0xF0, 0x9F, 0x98, 0x80})},
        {0x10FFFF, bytes_of({0xF4, 0x8F, 0xBF, 0xBF})},
        {0x1FFFFF, bytes_of({0xF7, 0xBF, 0xBF, 0xBF})},
        {0x200000, bytes_of({0xF8, 0x88, 0x80, 0x80, 0x80})},
        {0x3FFFFFF, bytes_of({0xFB, 0xBF, 0xBF, 0xBF, 0xBF})},
        {0x4000000, bytes_of({0xFC, 0x84, 0x80, 0x80, 0x80, 0x80})},
        {0x7FFFFFFF, bytes_of({0xFD, 0xBF, 0xBF, 0xBF, 0xBF, 0xBF})},
    };
    for (const Case& c : cases) {
        testing::internal::CaptureStderr();
        const std::string got = uint_to_utf8(c.in);
        const std::string err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(printable(got), printable(c.out)) << std::hex << c.in;
        EXPECT_EQ(err, "") << std::hex << c.in;
    }
}

TEST(TextUtf8, UintToUtf8NotRepresentable) {
    for (std::uint32_t c : {0x80000000u, 0x80000001u, 0xFFFFFFFFu}) {
        testing::internal::CaptureStderr();
        const std::string got = uint_to_utf8(c);
        const std::string err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(got, "");
        EXPECT_EQ(err, "[uint_to_utf8] WARNING: Character not representable by UTF-8.\n");
    }
}

TEST(TextUtf8, CodePointsToUtf8) {
    struct Case { std::vector<std::uint32_t> in; std::string out; std::size_t warnings; };
    const Case cases[] = {
        {{}, "", 0},
        {{0x44, 0x1EB7, 0x6E, 0x67}, "D\xE1\xBA\xB7ng", 0},
        {{0x41, 0x80000000u, 0x42, 0xFFFFFFFFu, 0x1F600},
         bytes_of({0x41, 0x42, 0xF0, 0x9F, 0x98, 0x80}), 2},
        {{0x80000000u}, "", 1},
    };
    const std::string line = "[uint_to_utf8] WARNING: Character not representable by UTF-8.\n";
    for (const Case& c : cases) {
        testing::internal::CaptureStderr();
        const std::string got = code_points_to_utf8(c.in);
        const std::string err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(printable(got), printable(c.out));
        EXPECT_EQ(count_lines(err, line), c.warnings);
        EXPECT_EQ(err.size(), c.warnings * line.size());
    }
}

// ---------------------------------------------------------------- base64

struct Base64Vector { std::string raw; std::string encoded; };
const Base64Vector kBase64Vectors[] = {
    {"", ""},
    {"f", "Zg=="},
    {"fo", "Zm8="},
    {"foo", "Zm9v"},
    {"foob", "Zm9vYg=="},
    {"fooba", "Zm9vYmE="},
    {"foobar", "Zm9vYmFy"},
    {bytes_of({0x00}), "AA=="},
    {bytes_of({0xFF}), "/w=="},
    {bytes_of({0xFB, 0xFF}), "+/8="},
    {bytes_of({0x00, 0x00, 0x00}), "AAAA"},
    {bytes_of({0xFF, 0xFF, 0xFF}), "////"},
    {bytes_of({0x61, 0x62, 0x63}), "YWJj"},
};

TEST(TextBase64, EncodeVectors) {
    for (const Base64Vector& v : kBase64Vectors) {
        EXPECT_EQ(base64_encode(v.raw), v.encoded);
        EXPECT_EQ(base64_encode(v.raw.data(), v.raw.size()), v.encoded);
        EXPECT_EQ(base64_encode(Bytes(v.raw.begin(), v.raw.end())), v.encoded);
    }
    EXPECT_EQ(base64_encode(nullptr, 0), "");
}

TEST(TextBase64, EncodePadding) {
    // One byte ends in "==", two in "=", three has none; never a line break.
    for (std::size_t n = 0; n <= 300; ++n) {
        const std::string raw(n, '\x5A');
        const std::string enc = base64_encode(raw);
        EXPECT_EQ(enc.size(), (n + 2) / 3 * 4);
        EXPECT_EQ(enc.find('\n'), std::string::npos);
        const std::size_t pad = n % 3 == 1 ? 2 : n % 3 == 2 ? 1 : 0;
        EXPECT_EQ(enc.size() - enc.find_last_not_of('=') - 1, pad) << n;
    }
}

TEST(TextBase64, EncodeWrapped) {
    struct Case { std::size_t bytes; std::vector<std::size_t> lines; };
    const Case cases[] = {
        {0, {0}},
        {1, {4}},
        {47, {64}},
        {48, {64}},          // exactly one full line: no break
        {49, {64, 4}},
        {96, {64, 64}},      // no trailing line break
        {97, {64, 64, 4}},
        {128, {64, 64, 44}},
    };
    for (const Case& c : cases) {
        Bytes raw(c.bytes);
        for (std::size_t i = 0; i < raw.size(); ++i) raw[i] = static_cast<std::uint8_t>(i * 7 + 3);
        const std::string wrapped = base64_encode_wrapped(raw);
        EXPECT_EQ(wrapped, base64_encode_wrapped(raw.data(), raw.size()));
        std::vector<std::size_t> lines;
        std::string flat;
        std::size_t start = 0;
        for (;;) {
            const std::size_t nl = wrapped.find('\n', start);
            const std::string line = wrapped.substr(start, nl == std::string::npos ? nl : nl - start);
            lines.push_back(line.size());
            flat += line;
            if (nl == std::string::npos) break;
            start = nl + 1;
        }
        EXPECT_EQ(lines, c.lines) << c.bytes;
        EXPECT_EQ(flat, base64_encode(raw));
        EXPECT_EQ(wrapped.find('\r'), std::string::npos);
        EXPECT_EQ(base64_decode(wrapped), raw);
    }
}

TEST(TextBase64, DecodeVectors) {
    for (const Base64Vector& v : kBase64Vectors)
        EXPECT_EQ(base64_decode(v.encoded), Bytes(v.raw.begin(), v.raw.end())) << v.encoded;
}

TEST(TextBase64, DecodeSkipsWhiteSpace) {
    struct Case { std::string in; std::string raw; };
    const Case cases[] = {
        {"Zm9v\r\nYmFy", "foobar"},
        {"Zm9v\nYmFy\n", "foobar"},
        {" Zm 9v\tYm\vFy\f ", "foobar"},
        {"\r\n", ""},
        {"   ", ""},
        {"Zg==\r\n", "f"},
        {"Zg=\n=", "f"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(base64_decode(c.in), Bytes(c.raw.begin(), c.raw.end())) << printable(c.in);
}

TEST(TextBase64, DecodeRejectsMalformed) {
    const std::string cases[] = {
        "Z",          // incomplete groups
        "Zm",
        "Zm9",
        "Zm9vY",
        "Zm9vYmE",
        "Zg",         // padding is required
        "Zg=",
        "=",
        "==",
        "====",
        "Z===",
        "=Zg=",
        "Zm=v",       // "=" inside a group
        "Z=g=",
        "Zg==Zg==",   // data after padding
        "Zg==A",
        "Zm8=Zm8=",
        "Zm9v!",      // outside the alphabet
        "Zm9v-_8=",   // URL-safe alphabet is not accepted
        "Zm9v.",
        std::string("Zm9v\0YmFy", 9),
        "Zm9v\xC3\xA9",
        "%5A%6D",
    };
    for (const std::string& c : cases) {
        SCOPED_TRACE(printable(c));
        EXPECT_THROW((void)base64_decode(c), bad_base64);
        EXPECT_THROW((void)base64_decode(c), std::invalid_argument);
    }
}

TEST(TextBase64, DecodeDoesNotReadPastView) {
    const std::string text = "Zm9vYmFy";
    const std::vector<char> storage(text.begin(), text.end());  // no terminator
    EXPECT_THROW((void)base64_decode(std::string_view(storage.data(), 6)), bad_base64);
    EXPECT_EQ(base64_decode(std::string_view(storage.data(), 4)), vec({'f', 'o', 'o'}));
    EXPECT_EQ(base64_decode(std::string_view(storage.data(), 8)),
              vec({'f', 'o', 'o', 'b', 'a', 'r'}));
}

TEST(TextBase64, RoundTripRandom) {
    std::mt19937 rng(12345);
    for (std::size_t n = 0; n < 300; ++n) {
        Bytes raw(n);
        for (auto& b : raw) b = static_cast<std::uint8_t>(rng());
        EXPECT_EQ(base64_decode(base64_encode(raw)), raw) << n;
        EXPECT_EQ(base64_decode(base64_encode_wrapped(raw)), raw) << n;
    }
}

// ------------------------------------------------------------------- hex

TEST(TextHex, HexUpper) {
    struct Case { Bytes in; std::string out; };
    const Case cases[] = {
        {{}, ""},
        {vec({0x00, 0xAB}), "00AB"},
        {vec({0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF}), "0123456789ABCDEF"},
        {vec({0xFF}), "FF"},
        {vec({0x0F, 0xF0}), "0FF0"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(hex_upper(c.in), c.out);
        EXPECT_EQ(hex_upper(c.in.data(), c.in.size()), c.out);
    }
}

TEST(TextHex, HexDecode) {
    struct Case { std::string in; Bytes out; };
    const Case cases[] = {
        {"0aFF1", vec({0x0A, 0xFF})},   // odd last character ignored
        {"", {}},
        {"1", {}},
        {"00AB", vec({0x00, 0xAB})},
        {"00ab", vec({0x00, 0xAB})},
        {"aBcDeF", vec({0xAB, 0xCD, 0xEF})},
        {"0123456789abcdefABCDEF", vec({0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF,
                                        0xAB, 0xCD, 0xEF})},
        // Pairs that are not two hex digits: the leading digits that parse.
        {"1G", vec({0x01})},
        {"G1", vec({0x00})},
        {"GG", vec({0x00})},
        {"zz12", vec({0x00, 0x12})},
        {"0x12", vec({0x00, 0x12})},
        {"F 12", vec({0x0F, 0x12})},
        {" F12", vec({0x00, 0x12})},
    };
    for (const Case& c : cases) EXPECT_EQ(hex_decode(c.in), c.out) << c.in;
}

TEST(TextHex, HexDecodeDoesNotReadPastView) {
    const std::vector<char> storage = {'a', 'b', 'c'};  // no terminator
    EXPECT_EQ(hex_decode(std::string_view(storage.data(), 3)), vec({0xAB}));
    EXPECT_EQ(hex_decode(std::string_view(storage.data(), 1)), Bytes{});
}

TEST(TextHex, HexRoundTripAllBytes) {
    Bytes all(256);
    for (int i = 0; i < 256; ++i) all[i] = static_cast<std::uint8_t>(i);
    const std::string text = hex_upper(all);
    EXPECT_EQ(text.size(), 512u);
    EXPECT_EQ(hex_decode(text), all);
}

TEST(TextHex, SerialHex) {
    struct Case { Bytes blob; std::string out; };
    const Case cases[] = {
        {vec({0x01, 0x02, 0xA0}), "a00201"},
        {vec({0x00, 0x10}), "1000"},
        {{}, ""},
        {vec({0x00}), "00"},
        {vec({0xFF, 0x00, 0x00}), "0000ff"},  // leading zero bytes kept
        {vec({0xEF, 0xCD, 0xAB, 0x89, 0x67, 0x45, 0x23, 0x01}), "0123456789abcdef"},
    };
    for (const Case& c : cases) EXPECT_EQ(serial_hex(c.blob), c.out);
}

// ------------------------------------------------------------------ dates

class TextDate : public testing::Test {
protected:
    void SetUp() override {
        if (const char* tz = std::getenv("TZ")) saved_ = tz;
    }
    void TearDown() override {
        if (saved_) setenv("TZ", saved_->c_str(), 1);
        else unsetenv("TZ");
        tzset();
    }
    static void use_tz(const char* tz) {
        setenv("TZ", tz, 1);
        tzset();
    }
    std::optional<std::string> saved_;
};

TEST_F(TextDate, CertDateText) {
    struct Case { const char* tz; std::int64_t seconds; DateForm form; std::u16string out; };
    const Case cases[] = {
        // 2024-03-07 02:05:59 UTC on a system set to UTC+7.
        {"Asia/Ho_Chi_Minh", 1709777159, DateForm::TwoSpaces, u"03/07/2024  09:05"},
        {"Asia/Ho_Chi_Minh", 1709777159, DateForm::OneSpace, u"03/07/2024 09:05"},
        {"<+07>-7", 1709777159, DateForm::TwoSpaces, u"03/07/2024  09:05"},
        {"UTC", 1709777159, DateForm::TwoSpaces, u"03/07/2024  02:05"},
        {"UTC", 1709777159, DateForm::OneSpace, u"03/07/2024 02:05"},
        // The day, month and year roll over with the zone.
        {"Asia/Ho_Chi_Minh", 1735675200, DateForm::TwoSpaces, u"01/01/2025  03:00"},
        {"UTC", 1735675200, DateForm::OneSpace, u"12/31/2024 20:00"},
        // Daylight saving as the zone applies it to that date.
        {"America/New_York", 1719835200, DateForm::OneSpace, u"07/01/2024 08:00"},
        {"America/New_York", 1704110400, DateForm::OneSpace, u"01/01/2024 07:00"},
        {"EST5EDT,M3.2.0,M11.1.0", 1719835200, DateForm::OneSpace, u"07/01/2024 08:00"},
        // Edges: the epoch, before it, hour 23, a five-digit year.
        {"UTC", 0, DateForm::TwoSpaces, u"01/01/1970  00:00"},
        {"UTC", -1, DateForm::TwoSpaces, u"12/31/1969  23:59"},
        {"UTC", 1709855999, DateForm::OneSpace, u"03/07/2024 23:59"},
        {"UTC", 253402300800, DateForm::OneSpace, u"01/01/10000 00:00"},
    };
    for (const Case& c : cases) {
        use_tz(c.tz);
        EXPECT_EQ(to_utf8(cert_date_text(c.seconds, c.form)), to_utf8(c.out))
            << c.tz << " " << c.seconds;
    }
}

TEST_F(TextDate, CertDateTextLengths) {
    use_tz("Asia/Ho_Chi_Minh");
    EXPECT_EQ(cert_date_text(1709777159, DateForm::TwoSpaces).size(), 17u);
    EXPECT_EQ(cert_date_text(1709777159, DateForm::OneSpace).size(), 16u);
}

TEST_F(TextDate, CertDateTextOutOfRangeIsEmpty) {
    use_tz("UTC");
    EXPECT_EQ(cert_date_text(INT64_MAX, DateForm::TwoSpaces), u"");
    EXPECT_EQ(cert_date_text(INT64_MIN, DateForm::OneSpace), u"");
}

// ---------------------------------------------------------------- misc

TEST(TextAscii, AsciiToWide) {
    EXPECT_EQ(ascii_to_wide(""), u"");
    EXPECT_EQ(ascii_to_wide("100103"), u"100103");
}

}  // namespace
}  // namespace sealdesk
