#include "KeywordFile.h"

#include "system/Gbk.h"

#include <QStringDecoder>

namespace {

constexpr QByteArrayView Utf8Mark("\xEF\xBB\xBF");

bool Decodes(QByteArrayView bytes)
{
    return Gbk::Decode(bytes).has_value();
}

// "锘" followed by some characters is GBK that begins with the same three
// bytes as the UTF-8 mark, so only a whole file that is UTF-8 counts as one.
bool IsUtf8WithMark(QByteArrayView bytes)
{
    if (!bytes.startsWith(Utf8Mark))
        return false;
    QStringDecoder utf8(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
    const QString text = utf8.decode(bytes.sliced(Utf8Mark.size())); // decodes only once made a string
    return !utf8.hasError();
}

// Calls lineFound(line) for each line, ended by CR LF, a lone CR or a lone LF.
template<typename View, typename Callback>
void ForEachLine(View text, Callback &&lineFound)
{
    const qsizetype size = text.size();
    qsizetype start = 0;
    for (qsizetype i = 0; i < size; ++i) {
        const auto c = text[i];
        if (c != '\r' && c != '\n')
            continue;
        lineFound(text.sliced(start, i - start));
        if (c == '\r' && i + 1 < size && text[i + 1] == '\n')
            ++i;
        start = i + 1;
    }
    if (start < size)
        lineFound(text.sliced(start));
}

// Encodes and checks that the bytes read back as the same text, which also
// catches characters that the encoder maps to a look-alike.
bool EncodeFaithfully(const QString &text, QByteArray *bytes)
{
    if (!QStringView(text).isValidUtf16())
        return false;
    std::optional<QByteArray> encoded = Gbk::Encode(text);
    if (!encoded || Gbk::Decode(*encoded) != text)
        return false;
    *bytes = std::move(*encoded);
    return true;
}

// What the keyword holds that no keyword file may, whatever the code page.
KeywordFile::Fault ForbiddenCharacter(const QString &keyword)
{
    if (keyword.contains(u'\r') || keyword.contains(u'\n'))
        return KeywordFile::Fault::LineBreak;
    if (keyword.contains(QChar(u'\0')))
        return KeywordFile::Fault::Nul;
    return KeywordFile::Fault::None;
}

} // namespace

KeywordFile::Fault KeywordFile::Check(const QString &keyword, qsizetype position)
{
    const Fault fault = Encode(QStringList{keyword}).fault;
    return fault == Fault::ReadsAsUtf8 && position > 1 ? Fault::None : fault;
}

QString KeywordFile::FaultText(Fault fault)
{
    switch (fault) {
    case Fault::LineBreak:
        return QStringLiteral("含有换行符");
    case Fault::Nul:
        return QStringLiteral("含有空字符（NUL）");
    case Fault::Unencodable:
        return QStringLiteral("含有 GBK 编码无法保存的字符");
    case Fault::ReadsAsUtf8:
        return QStringLiteral("以“锘”开头，保存后文件的开头恰好是 UTF-8 标记，下次启动时会被当作 UTF-8 文件拒绝读取");
    case Fault::None:
    case Fault::Utf8:
    case Fault::NotGbk:
    case Fault::TooMany:
        break;
    }
    return {};
}

KeywordFile::Decoded KeywordFile::Decode(const QByteArray &bytes)
{
    Decoded result;
    // Counted before anything is made of them.
    qsizetype lines = 0;
    ForEachLine(QByteArrayView(bytes), [&](QByteArrayView) { ++lines; });
    if (lines > MaxKeywords) {
        result.fault = Fault::TooMany;
        result.line = lines;
        return result;
    }
    if (IsUtf8WithMark(bytes)) {
        result.fault = Fault::Utf8;
        result.line = 1;
        return result;
    }

    const std::optional<QString> text = Gbk::Decode(bytes);
    if (!text) {
        // GBK trail bytes never take the values of CR or LF, so the raw
        // bytes split into the same lines as the text would.
        result.fault = Fault::NotGbk;
        qsizetype line = 0;
        ForEachLine(QByteArrayView(bytes), [&](QByteArrayView bytesOfLine) {
            ++line;
            if (result.line == 0 && !Decodes(bytesOfLine))
                result.line = line;
        });
        return result;
    }
    ForEachLine(QStringView(*text), [&](QStringView line) { result.keywords.append(line.toString()); });
    return result;
}

KeywordFile::Encoded KeywordFile::Encode(const QStringList &keywords)
{
    Encoded result;
    if (keywords.size() > MaxKeywords) {
        result.fault = Fault::TooMany;
        result.position = keywords.size();
        return result;
    }
    for (qsizetype i = 0; i < keywords.size(); ++i) {
        result.fault = ForbiddenCharacter(keywords.at(i));
        if (result.fault != Fault::None) {
            result.position = i + 1;
            return result;
        }
    }
    QString text = keywords.join(QStringView(u"\r\n"));
    if (!keywords.isEmpty())
        text.append(u"\r\n");
    if (!EncodeFaithfully(text, &result.bytes)) {
        result.bytes.clear();
        result.fault = Fault::Unencodable;
        result.position = 1;
        QByteArray ignored;
        while (result.position < keywords.size() && EncodeFaithfully(keywords.at(result.position - 1), &ignored))
            ++result.position;
        return result;
    }
    if (IsUtf8WithMark(result.bytes)) {
        result.bytes.clear();
        result.fault = Fault::ReadsAsUtf8;
        result.position = 1;
    }
    return result;
}
