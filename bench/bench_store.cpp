// Keyword store benchmark: loading and saving large lists, each against a
// floor measured in the same run on the same files: the least work that any
// loader or saver of this file format must do (read and decode; encode,
// write, fsync and rename two files).
//
//   bench_store [--sizes 10000,100000,1000000] [--reps 7] [--dir DIR]

#include "BenchSupport.h"
#include "KeywordList.h"
#include "KeywordStore.h"
#include "Locations.h"
#include "SaveRecord.h"
#include "TestFiles.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStringDecoder>
#include <QStringEncoder>
#include <QTemporaryDir>

#include <cstdio>
#include <fcntl.h>
#include <random>
#include <unistd.h>

using bench::Median;
using bench::TimeMs;

namespace {

[[noreturn]] void Die(const QString &message)
{
    std::fprintf(stderr, "bench_store: %s\n", qPrintable(message));
    std::exit(2);
}

// Keywords such as operators keep: SQL and script fragments, URL escapes and
// Chinese words, 1 to 20 characters, with some repeats and empty lines.
QStringList MakeKeywords(qsizetype count)
{
    static const char16_t *const fragments[] = {u"select",      u"union all",
                                                u"或",          u"管理员",
                                                u"%27",         u"and",
                                                u"exec",        u"insert",
                                                u"delete",      u"drop table",
                                                u"update",      u"count",
                                                u"chr",         u"mid",
                                                u"xp_cmdshell", u"truncate",
                                                u"declare",     u"char(",
                                                u"0x",          u"--",
                                                u"/*",          u"' or '1'='1",
                                                u"<script>",    u"用户",
                                                u"密码",        u"删除",
                                                u"数据库",      u"注入",
                                                u"后台登录",    u"表",
                                                u"from",        u"where",
                                                u"sleep(",      u"information_schema",
                                                u"%20",         u"=",
                                                u"查询",        u"网站",
                                                u"1=1",         u"@@version"};
    constexpr int fragmentCount = int(std::size(fragments));

    std::mt19937 random(936);
    QStringList keywords;
    keywords.reserve(count);
    for (qsizetype i = 0; i < count; ++i) {
        const unsigned pick = random() % 100;
        if (pick < 2) {
            keywords.append(QString());
        } else if (pick < 12 && !keywords.isEmpty()) {
            keywords.append(keywords.at(qsizetype(random() % quint32(keywords.size()))));
        } else {
            const qsizetype length = 1 + random() % 20;
            QString keyword;
            while (keyword.size() < length) {
                keyword += QString::fromUtf16(fragments[random() % fragmentCount]);
                if (random() % 4 == 0)
                    keyword += QString::number(random() % 100);
            }
            keyword.truncate(length);
            keywords.append(keyword);
        }
    }
    return keywords;
}

QByteArray EncodeFloor(const QStringList &keywords)
{
    QString text = keywords.join(u"\r\n");
    if (!keywords.isEmpty())
        text += u"\r\n";
    QStringEncoder encoder("GBK", QStringConverter::Flag::Stateless);
    return encoder.encode(text);
}

// The least a loader does: read the file and decode it.
QString LoadFloor(const QString &path)
{
    QStringDecoder decoder("GBK", QStringConverter::Flag::Stateless);
    return decoder.decode(ReadAll(path));
}

void WriteFile(const QString &path, const QByteArray &bytes)
{
    if (!WriteAll(path, bytes))
        Die(QStringLiteral("cannot write %1").arg(path));
}

// The plainest replacement of a file: a new file, fsync, rename. The rename
// itself only survives a crash once the directory is synced as well, which
// the store does; syncDirectory adds that step.
void ReplaceFile(const QString &path, const QByteArray &bytes, bool syncDirectory)
{
    const QByteArray target = QFile::encodeName(path);
    const QByteArray temporary = target + ".new";
    const int fd = ::open(temporary.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        Die(QStringLiteral("cannot create %1").arg(path));
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n <= 0)
            Die(QStringLiteral("cannot write %1").arg(path));
        done += n;
    }
    if (::fsync(fd) != 0 || ::close(fd) != 0 || ::rename(temporary.constData(), target.constData()) != 0)
        Die(QStringLiteral("cannot replace %1").arg(path));
    if (syncDirectory) {
        const QByteArray directory = QFile::encodeName(QFileInfo(path).absolutePath());
        const int dir = ::open(directory.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (dir < 0 || ::fsync(dir) != 0 || ::close(dir) != 0)
            Die(QStringLiteral("cannot sync the directory of %1").arg(path));
    }
}

Locations StoreIn(const QString &directory)
{
    const Locations at = Locations::InRoot(directory);
    QDir().mkpath(QFileInfo(at.workingCopy).path());
    QDir().mkpath(at.filterDirectory);
    return at;
}

struct Timing
{
    double megabytes = 0, load = 0, loadFloor = 0, save = 0, saveFloor = 0, saveFloorSynced = 0;
};

Timing Measure(const QString &directory, const QStringList &keywords, int repetitions)
{
    const Locations store = StoreIn(directory + QStringLiteral("/store"));
    const Locations floor = StoreIn(directory + QStringLiteral("/floor"));
    const QByteArray bytes = EncodeFloor(keywords);
    WriteFile(store.workingCopy, bytes);
    WriteFile(floor.workingCopy, bytes);

    auto load = [&] {
        KeywordList list;
        return TimeMs([&] {
            if (const StoreResult loaded = KeywordStore(store).StartUp(list); !loaded.Done())
                Die(loaded.message);
        });
    };
    auto loadFloor = [&] {
        QString text;
        return TimeMs([&] { text = LoadFloor(floor.workingCopy); });
    };

    KeywordStore saving(store);
    KeywordList loaded;
    if (const StoreResult result = saving.LoadWorkingCopy(loaded); !result.Done())
        Die(result.message);
    if (loaded.Texts() != keywords)
        Die(QStringLiteral("the file did not load back as the generated keywords"));
    auto save = [&] {
        return TimeMs([&] {
            if (const SaveResult saved = saving.SaveAndPublish(loaded.Texts()); !saved.Done())
                Die(saved.message);
        });
    };
    auto saveFloor = [&](bool syncDirectories) {
        return TimeMs([&] {
            const QByteArray encoded = EncodeFloor(loaded.Texts());
            ReplaceFile(floor.workingCopy, encoded, syncDirectories);
            ReplaceFile(floor.publishedCopy, encoded, syncDirectories);
        });
    };

    // One untimed round first; then the steps take turns at going first, so
    // that none always finds the caches and the disk as another left them.
    load(), loadFloor(), save(), saveFloor(false), saveFloor(true);
    QList<double> loads, loadFloors, saves, saveFloors, saveFloorsSynced;
    for (int i = 0; i < repetitions; ++i) {
        if (i % 2) {
            loads << load();
            loadFloors << loadFloor();
        } else {
            loadFloors << loadFloor();
            loads << load();
        }
        for (int step = 0; step < 3; ++step) {
            switch ((i + step) % 3) {
            case 0:
                saves << save();
                break;
            case 1:
                saveFloors << saveFloor(false);
                break;
            case 2:
                saveFloorsSynced << saveFloor(true);
                break;
            }
        }
    }
    return {double(bytes.size()) / 1e6, Median(loads),           Median(loadFloors), Median(saves),
            Median(saveFloors),         Median(saveFloorsSynced)};
}

// ---- Memory, measured in a fresh child process per size ---------------------

// Runs in the child: loads the store's working copy and saves it, or does
// the floor's work on the same file, and prints resident sizes against a
// baseline taken once the converter and file code have warmed up.
int MemoryChild(const QString &directory, const QString &kind)
{
    const Locations store = StoreIn(directory + QStringLiteral("/store"));
    const Locations warm = StoreIn(directory + QStringLiteral("/warm-") + kind);
    if (!WriteKeywords(warm.workingCopy, {QStringLiteral("select"), QStringLiteral("管理员")}))
        Die(QStringLiteral("cannot write %1").arg(warm.workingCopy));
    {
        KeywordStore warming(warm);
        KeywordList list;
        if (const StoreResult loaded = warming.StartUp(list); !loaded.Done())
            Die(loaded.message);
        if (const SaveResult saved = warming.SaveAndPublish(list.Texts()); !saved.Done())
            Die(saved.message);
    }
    if (!bench::ResetPeakResident())
        Die(QStringLiteral("cannot reset the peak resident size"));
    const qint64 base = bench::CurrentResidentBytes();
    qint64 afterLoad = 0, held = 0, afterSave = 0;
    if (kind == QLatin1String("store")) {
        KeywordStore measured(store);
        KeywordList list;
        if (const StoreResult loaded = measured.StartUp(list); !loaded.Done())
            Die(loaded.message);
        afterLoad = bench::PeakResidentBytes();
        held = bench::CurrentResidentBytes();
        if (const SaveResult saved = measured.SaveAndPublish(list.Texts()); !saved.Done())
            Die(saved.message);
        afterSave = bench::PeakResidentBytes();
    } else {
        const QString text = LoadFloor(store.workingCopy);
        afterLoad = bench::PeakResidentBytes();
        held = bench::CurrentResidentBytes();
        QStringEncoder encoder("GBK", QStringConverter::Flag::Stateless);
        const QByteArray encoded = encoder.encode(text);
        ReplaceFile(warm.workingCopy, encoded, true);
        ReplaceFile(warm.publishedCopy, encoded, true);
        afterSave = bench::PeakResidentBytes();
    }
    std::printf("%lld %lld %lld %lld\n", static_cast<long long>(base), static_cast<long long>(afterLoad),
                static_cast<long long>(held), static_cast<long long>(afterSave));
    return 0;
}

struct Memory
{
    double loadPeak = 0, held = 0, savePeak = 0; // bytes per keyword
};

Memory MeasureMemory(const QString &directory, const QString &kind, qsizetype count)
{
    QProcess child;
    child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--memory-child"), directory, kind});
    if (!child.waitForFinished(600000) || child.exitCode() != 0)
        Die(QStringLiteral("memory child failed: %1").arg(QString::fromLocal8Bit(child.readAllStandardError())));
    const QList<QByteArray> f = child.readAllStandardOutput().trimmed().split(' ');
    if (f.size() != 4)
        Die(QStringLiteral("memory child printed nothing usable"));
    const double base = f[0].toDouble(), peakLoad = f[1].toDouble(), held = f[2].toDouble(), peakSave = f[3].toDouble();
    return {(peakLoad - base) / double(count), (held - base) / double(count), (peakSave - base) / double(count)};
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    SaveRecord::SetDestination(QString()); // timed saves are no one's edits
    QStringList args = app.arguments().mid(1);
    if (args.size() == 3 && args.at(0) == QLatin1String("--memory-child"))
        return MemoryChild(args.at(1), args.at(2));

    QList<qsizetype> sizes{10000, 100000, 1000000};
    int repetitions = 7;
    QString base = QDir::tempPath();
    for (qsizetype i = 0; i + 1 < args.size(); i += 2) {
        if (args.at(i) == QLatin1String("--sizes")) {
            sizes.clear();
            for (const QString &s : args.at(i + 1).split(u','))
                sizes << s.toLongLong();
        } else if (args.at(i) == QLatin1String("--reps")) {
            repetitions = qMax(1, args.at(i + 1).toInt());
        } else if (args.at(i) == QLatin1String("--dir")) {
            base = args.at(i + 1);
        } else {
            Die(QStringLiteral("unknown option %1").arg(args.at(i)));
        }
    }
    QTemporaryDir scratch(base + QStringLiteral("/bench_store-XXXXXX"));
    if (!scratch.isValid())
        Die(QStringLiteral("cannot make a directory in %1").arg(base));

    std::printf("Keyword store in %s: median of %d runs after one warm-up; ratio = store / floor,\n"
                "target <= 2.5; + dir sync: the save floor with each copy's folder synced too.\n\n",
                qPrintable(scratch.path()), repetitions);
    std::printf("| keywords | file MB | load ms | floor ms | ratio | load ns/keyword "
                "| save ms | floor ms | ratio | save ns/keyword | + dir sync ms | ratio |\n"
                "|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|\n");
    QList<QPair<qsizetype, QPair<Memory, Memory>>> memory;
    for (const qsizetype count : sizes) {
        const QStringList keywords = MakeKeywords(count);
        const QString directory = scratch.filePath(QString::number(count));
        const Timing t = Measure(directory, keywords, repetitions);
        std::printf("| %lld | %.1f | %.2f | %.2f | %.2f | %.0f | %.2f | %.2f | %.2f | %.0f "
                    "| %.2f | %.2f |\n",
                    static_cast<long long>(count), t.megabytes, t.load, t.loadFloor, t.load / t.loadFloor,
                    t.load * 1e6 / double(count), t.save, t.saveFloor, t.save / t.saveFloor,
                    t.save * 1e6 / double(count), t.saveFloorSynced, t.save / t.saveFloorSynced);
        std::fflush(stdout);
        memory.append({count,
                       {MeasureMemory(directory, QStringLiteral("store"), count),
                        MeasureMemory(directory, QStringLiteral("floor"), count)}});
        QDir(directory).removeRecursively();
    }

    std::printf("\nMemory, bytes per keyword, each size in a fresh child process: peak = VmHWM,\n"
                "held = VmRSS with the list loaded, less a baseline taken after warming up.\n\n");
    std::printf("| keywords | load peak | floor | held after load | floor | save peak | floor |\n"
                "|---:|---:|---:|---:|---:|---:|---:|\n");
    for (const auto &[count, m] : memory)
        std::printf("| %lld | %.0f | %.0f | %.0f | %.0f | %.0f | %.0f |\n", static_cast<long long>(count),
                    m.first.loadPeak, m.second.loadPeak, m.first.held, m.second.held, m.first.savePeak,
                    m.second.savePeak);
    return 0;
}
