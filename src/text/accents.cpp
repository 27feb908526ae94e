// Folding of precomposed Vietnamese letters to plain Latin ones.
#include "text/text.h"

#include <array>

namespace sealdesk {
namespace {

constexpr std::size_t kAccentPairs = 134;

// Source character i is replaced by target character i.
constexpr std::array<char16_t, kAccentPairs> kSource = {
    // A (17)
    0x00C1, 0x00C0, 0x1EA2, 0x00C3, 0x1EA0, 0x0102, 0x1EAE, 0x1EB0, 0x1EB2,
    0x1EB4, 0x1EB6, 0x00C2, 0x1EA4, 0x1EA6, 0x1EA8, 0x1EAA, 0x1EAC,
    // a (17)
    0x00E1, 0x00E0, 0x1EA3, 0x00E3, 0x1EA1, 0x0103, 0x1EAF, 0x1EB1, 0x1EB3,
    0x1EB5, 0x1EB7, 0x00E2, 0x1EA5, 0x1EA7, 0x1EA9, 0x1EAB, 0x1EAD,
    // E (11)
    0x00C9, 0x00C8, 0x1EBA, 0x1EBC, 0x1EB8, 0x00CA, 0x1EBE, 0x1EC0, 0x1EC2,
    0x1EC4, 0x1EC6,
    // e (11)
    0x00E9, 0x00E8, 0x1EBB, 0x1EBD, 0x1EB9, 0x00EA, 0x1EBF, 0x1EC1, 0x1EC3,
    0x1EC5, 0x1EC7,
    // I (5)
    0x00CD, 0x00CC, 0x1EC8, 0x0128, 0x1ECA,
    // i (5)
    0x00ED, 0x00EC, 0x1EC9, 0x0129, 0x1ECB,
    // O (17)
    0x00D3, 0x00D2, 0x1ECE, 0x00D5, 0x1ECC, 0x00D4, 0x1ED0, 0x1ED2, 0x1ED4,
    0x1ED6, 0x1ED8, 0x01A0, 0x1EDA, 0x1EDC, 0x1EDE, 0x1EE0, 0x1EE2,
    // o (17)
    0x00F3, 0x00F2, 0x1ECF, 0x00F5, 0x1ECD, 0x00F4, 0x1ED1, 0x1ED3, 0x1ED5,
    0x1ED7, 0x1ED9, 0x01A1, 0x1EDB, 0x1EDD, 0x1EDF, 0x1EE1, 0x1EE3,
    // U (11)
    0x00DA, 0x00D9, 0x1EE6, 0x0168, 0x1EE4, 0x01AF, 0x1EE8, 0x1EEA, 0x1EEC,
    0x1EEE, 0x1EF0,
    // u (11)
    0x00FA, 0x00F9, 0x1EE7, 0x0169, 0x1EE5, 0x01B0, 0x1EE9, 0x1EEB, 0x1EED,
    0x1EEF, 0x1EF1,
    // Y (5)
    0x00DD, 0x1EF2, 0x1EF6, 0x1EF8, 0x1EF4,
    // y (5)
    0x00FD, 0x1EF3, 0x1EF7, 0x1EF9, 0x1EF5,
    // D (1), d (1)
    0x0110,
    0x0111,
};

constexpr std::array<char16_t, kAccentPairs> make_targets() {
    struct Group { char16_t target; std::size_t count; };
    constexpr Group groups[] = {
        {u'A', 17}, {u'a', 17}, {u'E', 11}, {u'e', 11}, {u'I', 5}, {u'i', 5},
        {u'O', 17}, {u'o', 17}, {u'U', 11}, {u'u', 11}, {u'Y', 5}, {u'y', 5},
        {u'D', 1},  {u'd', 1},
    };
    std::array<char16_t, kAccentPairs> t{};
    std::size_t i = 0;
    for (const Group& g : groups)
        for (std::size_t k = 0; k < g.count; ++k) t[i++] = g.target;
    return t;
}

constexpr std::array<char16_t, kAccentPairs> kTarget = make_targets();

constexpr bool sources_distinct() {
    for (std::size_t i = 0; i < kAccentPairs; ++i)
        for (std::size_t j = i + 1; j < kAccentPairs; ++j)
            if (kSource[i] == kSource[j]) return false;
    return true;
}
static_assert(sources_distinct(), "accent sources must be distinct");
static_assert(kTarget[kAccentPairs - 1] == u'd' && kTarget[kAccentPairs - 2] == u'D',
              "target groups must add up to 134");

}  // namespace

void fold_accents(std::u16string& text) {
    for (char16_t& unit : text) {
        if (unit < 0x00C0) continue;  // below every source character
        for (std::size_t i = 0; i < kAccentPairs; ++i) {
            if (unit == kSource[i]) {
                unit = kTarget[i];
                break;
            }
        }
    }
}

}  // namespace sealdesk
