#include "LookAlikeRanges.h"

namespace {

// Made at build time by LookAlikeTableGenerator, from ICU on the build machine.
#include "LookAlikeTable.inc"

} // namespace

std::span<const LookAlikeRange> LookAlikeRanges()
{
    return Table;
}
