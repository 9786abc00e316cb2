#include "LookAlikeRanges.h"

#include <unicode/uchar.h>
#include <unicode/ucnv.h>
#include <unicode/unorm2.h>
#include <unicode/uscript.h>
#include <unicode/uset.h>
#include <unicode/uspoof.h>

#include <algorithm>
#include <map>
#include <memory>
#include <string>

// Standard C++ and ICU's C interface only: the program that writes the
// Windows table builds this file with the host's compiler.

namespace {

using Text = std::u16string;

struct Closer
{
    void operator()(UConverter *converter) const { ucnv_close(converter); }
    void operator()(USet *set) const { uset_close(set); }
    void operator()(USpoofChecker *checker) const { uspoof_close(checker); }
};

// Two texts with one skeleton look alike (Unicode's confusables, UTS #39).
Text Skeleton(const USpoofChecker *checker, char16_t c)
{
    char16_t skeleton[64];
    UErrorCode error = U_ZERO_ERROR;
    const int32_t size = uspoof_getSkeleton(checker, 0, &c, 1, skeleton, 64, &error);
    return U_SUCCESS(error) ? Text(skeleton, size_t(size)) : Text();
}

Text Nfkc(const UNormalizer2 *nfkc, char16_t c)
{
    char16_t normal[32];
    UErrorCode error = U_ZERO_ERROR;
    const int32_t size = unorm2_normalize(nfkc, &c, 1, normal, 32, &error);
    return U_SUCCESS(error) ? Text(normal, size_t(size)) : Text();
}

bool IsAscii(const Text &text)
{
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char16_t c) { return c >= 0x20 && c < 0x7f; });
}

bool Is(char16_t c, uint32_t categories)
{
    return (U_MASK(u_charType(c)) & categories) != 0;
}

} // namespace

std::vector<LookAlikeRange> LookAlikeRangesFromIcu()
{
    UErrorCode error = U_ZERO_ERROR;
    // What a keyword can hold: the characters that GBK writes and reads back.
    const std::unique_ptr<UConverter, Closer> converter(ucnv_open("GBK", &error));
    const std::unique_ptr<USet, Closer> gbk(uset_openEmpty());
    ucnv_getUnicodeSet(converter.get(), gbk.get(), UCNV_ROUNDTRIP_SET, &error);
    const std::unique_ptr<USpoofChecker, Closer> checker(uspoof_open(&error));
    const UNormalizer2 *nfkc = unorm2_getNFKCInstance(&error);
    if (U_FAILURE(error))
        return {};

    std::vector<char16_t> characters;
    for (int32_t item = 0; item < uset_getItemCount(gbk.get()); ++item) {
        UChar32 first, last;
        if (uset_getItem(gbk.get(), item, &first, &last, nullptr, 0, &error) == 0) // a range, not a string
            for (UChar32 c = first; c <= std::min<UChar32>(last, 0xffff); ++c)
                characters.push_back(char16_t(c));
    }
    std::vector<Text> skeletons;
    std::map<Text, int> alike;
    for (const char16_t c : characters)
        ++alike[skeletons.emplace_back(Skeleton(checker.get(), c))];

    std::vector<LookAlikeRange> ranges;
    for (size_t i = 0; i < characters.size(); ++i) {
        const char16_t c = characters[i];
        // ASCII is what the others pass for; what shows as nothing is hidden, not alike.
        if (c < 0x80 || Is(c, U_GC_C_MASK | U_GC_Z_MASK))
            continue;
        LookAlikeKind kind;
        UErrorCode scriptError = U_ZERO_ERROR;
        const Text &skeleton = skeletons[i];
        const auto width = UEastAsianWidth(u_getIntPropertyValue(c, UCHAR_EAST_ASIAN_WIDTH));
        const bool wide = width == U_EA_WIDE || width == U_EA_FULLWIDTH;
        if (uscript_getScript(c, &scriptError) == USCRIPT_HAN) {
            kind = LookAlikeKind::Han;
        } else if (!IsAscii(skeleton)
                   && alike.at(skeleton) < 2
                   // The confusables list some fullwidth letters ("ｓ") and not others ("ｔ").
                   && !(width == U_EA_FULLWIDTH && IsAscii(Nfkc(nfkc, c)))) {
            continue;
        } else if (!skeleton.empty() && skeleton.find_first_not_of(u'\'') == Text::npos) {
            kind = LookAlikeKind::LookAlike; // a curly quote would end or begin a quoted keyword
        } else if ((Is(c, U_GC_P_MASK) && (wide || width == U_EA_AMBIGUOUS)) || (Is(c, U_GC_S_MASK) && wide)) {
            kind = LookAlikeKind::WidePunctuation; // "，：（）％～", and "…", "—"
        } else {
            kind = LookAlikeKind::LookAlike;
        }
        if (!ranges.empty() && ranges.back().kind == kind && ranges.back().last + 1 == c)
            ranges.back().last = c;
        else
            ranges.push_back({c, c, kind});
    }
    return ranges;
}

std::span<const LookAlikeRange> LookAlikeRanges()
{
    // Some 30 ms, once, at the first keyword that is not plain ASCII.
    static const std::vector<LookAlikeRange> ranges = LookAlikeRangesFromIcu();
    return ranges;
}
