#pragma once

// Whether a character of a keyword shows as nothing, or as some other
// character, so that two keywords that differ look alike: controls, format
// characters (U+FEFF, zero-width spaces, direction marks, the soft hyphen),
// private-use characters (which GBK's user-defined areas decode to, and
// which each font draws as it likes), and every blank but the plain space.
bool IsHidden(char32_t character);
