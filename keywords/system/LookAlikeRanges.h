#pragma once

// What LookAlike.cpp asks of each system: the characters of GBK that take
// part in the rule, in ranges. Standard C++ only, so that the program that
// writes the Windows table builds with the host's compiler, without Qt.

#include <span>
#include <vector>

enum class LookAlikeKind : unsigned char {
    Han,             // a Chinese character: never marked, and marks the keyword as Chinese text
    LookAlike,       // always marked
    WidePunctuation, // marked unless the keyword holds a Chinese character
};

struct LookAlikeRange
{
    char16_t first;
    char16_t last;
    LookAlikeKind kind;
};

// Ascending and disjoint; characters in none take no part.
std::span<const LookAlikeRange> LookAlikeRanges();

// The ranges as ICU's data gives them.
std::vector<LookAlikeRange> LookAlikeRangesFromIcu();
