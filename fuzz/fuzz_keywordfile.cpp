// Any bytes either load as keywords that save as the same list (unless one
// holds a NUL, which saving refuses, naming it), or are refused naming the
// first line that is not GBK; and any list that saving accepts loads back equal.

#include "KeywordFile.h"

#include <QStringDecoder>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <utility>

namespace {

void Expect(bool condition, const char *what)
{
    if (condition)
        return;
    std::fprintf(stderr, "fuzz_keywordfile: %s\n", what);
    std::abort(); // libFuzzer keeps the input as a crash artifact
}

// Lines cut straight from the raw bytes, independently of the reader.
QList<QByteArray> SplitLines(QByteArray bytes)
{
    QList<QByteArray> lines = bytes.replace("\r\n", "\n").replace('\r', '\n').split('\n');
    if (lines.constLast().isEmpty())
        lines.removeLast();
    return lines;
}

// The bytes as GBK text, and whether they are GBK throughout.
std::pair<QString, bool> Gbk(const QByteArray &bytes)
{
    QStringDecoder decoder("GBK", QStringConverter::Flag::Stateless);
    const QString text = decoder.decode(bytes);
    // 0xFF is no GBK character, though ICU reads it as the private-use U+F8F5.
    return {text, !decoder.hasError() && !bytes.contains('\xFF')};
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const KeywordFile::Decoded decoded = KeywordFile::Decode(bytes);
    const QList<QByteArray> lines = SplitLines(bytes);
    const bool ok = decoded.fault == KeywordFile::Fault::None;
    if (decoded.fault == KeywordFile::Fault::Utf8) {
        Expect(bytes.startsWith("\xEF\xBB\xBF"), "refused as UTF-8 without its mark");
    } else {
        qsizetype firstBad = 0;
        for (qsizetype i = 0; i < lines.size() && firstBad == 0; ++i)
            firstBad = Gbk(lines.at(i)).second ? 0 : i + 1;
        Expect(decoded.line == firstBad && ok == (firstBad == 0), "wrong line refused as not GBK");
    }
    const auto nul =
            std::find_if(lines.cbegin(), lines.cend(), [](const QByteArray &line) { return line.contains('\0'); });
    const KeywordFile::Encoded saved = KeywordFile::Encode(decoded.keywords);
    Expect(!ok
                   || (decoded.keywords.size() == lines.size()
                       && (nul == lines.cend() ? saved.fault == KeywordFile::Fault::None
                                               : saved.fault == KeywordFile::Fault::Nul
                                                         && saved.position == nul - lines.cbegin() + 1)),
           "a list that loaded has another length than the file, or saving it is refused for another reason");

    // The same bytes as typed text: one keyword a line, what GBK cannot show left out.
    const QStringList typed = Gbk(bytes).first.remove(QChar::ReplacementCharacter).split(u'\n');
    const KeywordFile::Encoded encoded = KeywordFile::Encode(typed);
    if (encoded.fault == KeywordFile::Fault::None) {
        const KeywordFile::Decoded back = KeywordFile::Decode(encoded.bytes);
        Expect(back.fault == KeywordFile::Fault::None && back.keywords == typed,
               "a saved list does not load back equal");
    }
    return 0;
}
