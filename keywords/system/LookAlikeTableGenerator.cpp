// Writes the table of look-alikes for the Windows program, which has no ICU
// of its own, from the build machine's ICU, by the rule the Linux program
// follows at run time: both give the same answers.

#include "LookAlikeRanges.h"

#include <unicode/uversion.h>

#include <cstdio>

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s TABLE\n", argv[0]);
        return 2;
    }
    const std::vector<LookAlikeRange> ranges = LookAlikeRangesFromIcu();
    if (ranges.empty()) {
        std::fprintf(stderr, "%s: ICU gave no characters (its GBK converter or confusables data is missing)\n",
                     argv[0]);
        return 1;
    }
    std::FILE *table = std::fopen(argv[1], "w");
    if (!table) {
        std::perror(argv[1]);
        return 1;
    }
    static const char *const kinds[] = {"Han", "LookAlike", "WidePunctuation"};
    std::fprintf(table, "// Written by LookAlikeTableGenerator from ICU %s.\n", U_ICU_VERSION);
    std::fprintf(table, "constexpr LookAlikeRange Table[] = {\n");
    for (const LookAlikeRange &range : ranges)
        std::fprintf(table, "    {0x%04X, 0x%04X, LookAlikeKind::%s},\n", unsigned(range.first), unsigned(range.last),
                     kinds[int(range.kind)]);
    std::fprintf(table, "};\n");
    if (std::fclose(table) != 0) {
        std::perror(argv[1]);
        return 1;
    }
    return 0;
}
