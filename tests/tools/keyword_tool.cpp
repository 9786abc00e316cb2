// Drives the keyword store from another process, for the fault tests:
//   keyword_tool load WORKING_COPY FILTER_DIRECTORY
//   keyword_tool save-loop WORKING_COPY PUBLISHED_COPY LIST_A LIST_B ROUNDS
// save-loop saves the keywords of LIST_A and LIST_B (keyword files) in turn.
#include "KeywordFile.h"
#include "KeywordList.h"
#include "KeywordStore.h"
#include "Locations.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>

#include <cstdio>

namespace {

int Fail(const QString &message)
{
    std::fprintf(stderr, "%s\n", message.toUtf8().constData());
    return 1;
}

bool ReadList(const QString &path, QStringList *keywords)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const KeywordFile::Decoded decoded = KeywordFile::Decode(file.readAll());
    *keywords = decoded.keywords;
    return decoded.ok;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    QString error;

    if (args.size() == 3 && args[0] == "load") {
        const Locations at{args[1], args[2], args[2] + "/inject.txt"};
        KeywordList list;
        if (!RunStartUp(at, list, &error))
            return Fail(error);
        std::printf("loaded %lld\n", static_cast<long long>(list.Count()));
        return 0;
    }

    if (args.size() == 6 && args[0] == "save-loop") {
        const Locations at{args[1], QFileInfo(args[2]).absolutePath(), args[2]};
        KeywordList lists[2];
        for (int i = 0; i < 2; ++i) {
            QStringList keywords;
            if (!ReadList(args[3 + i], &keywords))
                return Fail("cannot read " + args[3 + i]);
            lists[i].AppendAll(keywords);
        }
        const int rounds = args[5].toInt();
        for (int round = 0; round < rounds; ++round) {
            if (!SaveAndPublish(at, lists[round % 2], &error))
                return Fail(error);
        }
        return 0;
    }

    return Fail("usage: keyword_tool load WORKING FILTER_DIR | save-loop WORKING PUBLISHED A B ROUNDS");
}
