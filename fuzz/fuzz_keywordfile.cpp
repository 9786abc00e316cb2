// Reading a keyword file: any bytes either load as a list that saves and
// loads back unchanged, or are refused with the line at fault.

#include "KeywordFile.h"
#include "KeywordList.h"
#include "KeywordStore.h"
#include "Locations.h"

#include <QBuffer>
#include <QByteArray>
#include <QFile>
#include <QStringDecoder>
#include <QTemporaryDir>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

void Expect(bool condition, const char *what)
{
    if (condition)
        return;
    std::fprintf(stderr, "fuzz_keywordfile: %s\n", what);
    std::abort(); // libFuzzer keeps the input as a crash artifact
}

// Lines cut straight from the raw bytes, independently of the decoder.
QList<QByteArrayView> SplitLines(const QByteArray &bytes)
{
    QList<QByteArrayView> lines;
    qsizetype start = 0;
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const char c = bytes[i];
        if (c != '\n' && c != '\r')
            continue;
        lines.append(QByteArrayView(bytes).sliced(start, i - start));
        if (c == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n')
            ++i;
        start = i + 1;
    }
    if (start < bytes.size())
        lines.append(QByteArrayView(bytes).sliced(start));
    return lines;
}

// 1-based number of the first line that is not GBK on its own, or 0.
qsizetype FirstBadLine(const QList<QByteArrayView> &lines)
{
    for (qsizetype i = 0; i < lines.size(); ++i) {
        QStringDecoder decoder("GBK", QStringConverter::Flag::Stateless);
        const QString text = decoder.decode(lines.at(i));
        if (decoder.hasError())
            return i + 1;
    }
    return 0;
}

QTemporaryDir *scratch = nullptr;

QByteArray ReadAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

// The same bytes as the operator's working copy, loaded after something is
// already in the list, then saved and published.
void ThroughFiles(const QByteArray &bytes, const KeywordFile::Decoded &decoded,
                  const QByteArray &encoded)
{
    const Locations at{scratch->filePath("inject.txt"), scratch->filePath("filter"),
                       scratch->filePath("filter/inject.txt")};
    {
        QFile file(at.workingCopy);
        Expect(file.open(QIODevice::WriteOnly | QIODevice::Truncate)
                   && file.write(bytes) == bytes.size(),
               "cannot write the scratch working copy");
    }
    KeywordList list;
    list.Append(QStringLiteral("before"));
    QString error;
    const bool loaded = RunStartUp(at, list, &error);
    Expect(loaded == decoded.ok, "loading the file disagrees with decoding its bytes");
    if (!loaded) {
        Expect(list.Count() == 1, "a refused file changed the list");
        Expect(error.contains(at.workingCopy), "the load error does not name the file");
        return;
    }
    Expect(list.Texts() == QStringList{QStringLiteral("before")} + decoded.keywords,
           "the loaded list differs from the decoded keywords");
    list.RemoveAt(1);
    Expect(SaveAndPublish(at, list, &error), "a loaded list could not be saved");
    Expect(ReadAll(at.workingCopy) == encoded, "the saved working copy differs from Encode");
    Expect(ReadAll(at.publishedCopy) == encoded, "the published copy differs from Encode");
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    scratch = new QTemporaryDir;
    Expect(scratch->isValid(), "cannot make a scratch directory");
    std::atexit([] { delete scratch; });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    // No copy: a read past the end lands outside libFuzzer's buffer.
    const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char *>(data),
                                                     qsizetype(size));
    const KeywordFile::Decoded decoded = KeywordFile::Decode(bytes);
    const QList<QByteArrayView> lines = SplitLines(bytes);
    const bool byteOrderMark = bytes.startsWith("\xEF\xBB\xBF");

    Expect(decoded.utf8ByteOrderMark == byteOrderMark, "byte-order mark reported wrongly");
    if (byteOrderMark) {
        Expect(!decoded.ok && decoded.badLine == 1, "a UTF-8 byte-order mark was not refused");
    } else {
        const qsizetype firstBad = FirstBadLine(lines);
        Expect(decoded.ok == (firstBad == 0), "accepted bytes that are not GBK, or refused GBK");
        Expect(decoded.badLine == firstBad, "the wrong line was reported as not GBK");
    }
    if (decoded.ok)
        Expect(decoded.keywords.size() == lines.size(), "keyword count differs from line count");
    else
        Expect(decoded.keywords.isEmpty(), "a refused file still yields keywords");

    // Read a few bytes at a time, the same bytes must give the same answer.
    {
        static constexpr qsizetype pieceSizes[] = {1, 2, 3, 4, 5, 8, 64, 4096};
        QByteArray copy = bytes;
        QBuffer device(&copy);
        Expect(device.open(QIODevice::ReadOnly), "cannot open a buffer");
        KeywordFile::Decoded pieces;
        Expect(KeywordFile::DecodeFrom(device, &pieces, pieceSizes[size ? data[0] % 8 : 0]),
               "reading from a buffer failed");
        Expect(pieces.ok == decoded.ok && pieces.badLine == decoded.badLine
                   && pieces.utf8ByteOrderMark == decoded.utf8ByteOrderMark
                   && pieces.keywords == decoded.keywords,
               "reading in pieces differs from decoding the whole");
    }

    QByteArray encoded;
    if (decoded.ok) {
        const KeywordFile::Encoded first = KeywordFile::Encode(decoded.keywords);
        Expect(first.fault == KeywordFile::Fault::None, "a decoded list cannot be encoded");
        Expect(first.bytes.isEmpty() == decoded.keywords.isEmpty(), "encoded size is wrong");
        const KeywordFile::Decoded back = KeywordFile::Decode(first.bytes);
        Expect(back.ok, "encoded bytes do not decode");
        Expect(back.keywords == decoded.keywords, "the list changed over encode and decode");
        Expect(KeywordFile::Encode(back.keywords).bytes == first.bytes,
               "encoding is not stable after one round");
        encoded = first.bytes;
    }

    // Files are slow; a fixed share of inputs, picked by content so that a
    // saved crash input takes the same path again.
    unsigned sum = 0;
    for (std::size_t i = 0; i < size; ++i)
        sum += data[i];
    if (sum % 32 == 0)
        ThroughFiles(bytes, decoded, encoded);
    return 0;
}
