// Card recognition over the drawn test set: per-column accuracy on the clean pictures and
// on their photo-like copies, and the time per card.
//   quembe-ocr-bench [--cards N] [--verbose] [--save DIR]
//   quembe-ocr-bench --lines IMAGE...
// --verbose lists every column read wrong; --save writes the pictures and what they show;
// --lines prints the lines read from the given pictures, their heights and the card.
#include "tests/cardimages.h"

#include "recognize/cardparser.h"
#include "recognize/cardreader.h"

#include "data/fieldmap.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QTextStream>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <map>
#include <vector>

namespace {

const char* const kExact[] = {"手机", "工作电话", "传真", "E-mail", "工作邮编"};
const char* const kCharacters[] = {"单位", "部门", "职务", "职称", "工作地址",
                                   "主页", "OICQ", "分机", "备注"};

struct Tally {
    int hits = 0, total = 0;
    double matched = 0, length = 0;
};

struct Result {
    std::map<QString, Tally> columns;
    Tally name, exact, characters;
    std::vector<double> ms, cpu;
};

double cpuMs() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

QString loadAverage() {
    QFile f(QStringLiteral("/proc/loadavg"));
    if (!f.open(QIODevice::ReadOnly))
        return QStringLiteral("?");
    return QString::fromLatin1(f.readAll()).section(QLatin1Char(' '), 0, 2);
}

double median(std::vector<double> v) {
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

void score(Result& r, const Card& truth, const Card& found, const QString& id, bool verbose) {
    auto col = [](const char* c) { return QString::fromUtf8(c); };
    auto report = [&](const QString& column) {
        if (verbose)
            std::printf("  %s %-8s want [%s]\n  %s %-8s got  [%s]\n", qPrintable(id),
                        qPrintable(column), qPrintable(truth.value(column)), qPrintable(id),
                        qPrintable(column), qPrintable(found.value(column)));
    };
    const QString name = col("姓名");
    ++r.name.total;
    if (truth.value(name) == found.value(name))
        ++r.name.hits;
    else
        report(name);
    for (const char* c : kExact) {
        const QString column = col(c);
        if (truth.value(column).isEmpty())
            continue;
        Tally& t = r.columns[column];
        const bool hit = truth.value(column) == found.value(column);
        ++t.total;
        ++r.exact.total;
        t.hits += hit;
        r.exact.hits += hit;
        if (!hit)
            report(column);
    }
    for (const char* c : kCharacters) {
        const QString column = col(c);
        const QString want = truth.value(column);
        if (want.isEmpty())
            continue;
        const double accuracy = CardImages::characterAccuracy(want, found.value(column));
        Tally& t = r.columns[column];
        t.matched += accuracy * want.size();
        t.length += want.size();
        r.characters.matched += accuracy * want.size();
        r.characters.length += want.size();
        if (accuracy < 1.0)
            report(column);
    }
}

QString percent(int hits, int total) {
    return total == 0 ? QStringLiteral("   -  ")
                      : QString::asprintf("%5.1f%%", 100.0 * hits / total);
}

QString percent(double matched, double length) {
    return length == 0 ? QStringLiteral("   -  ")
                       : QString::asprintf("%5.1f%%", 100.0 * matched / length);
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", QByteArrayLiteral("offscreen"));
    QGuiApplication app(argc, argv);
    int cards = 36;
    bool verbose = false;
    QString save;
    const QStringList args = app.arguments();
    if (args.size() > 2 && args[1] == QLatin1String("--lines")) {
        Recognize::CardReader reader;
        for (const QString& file : args.mid(2)) {
            QElapsedTimer timer;
            timer.start();
            const QList<Recognize::TextLine> lines = *reader.readLines(Recognize::loadImage(file));
            std::printf("# %s (%lld ms)\n", qPrintable(file), qint64(timer.elapsed()));
            for (const Recognize::TextLine& l : lines)
                std::printf("  h%4d c%3d  %s\n", l.box.height(), l.confidence, qPrintable(l.text));
            const Card card = Recognize::parseCard(lines);
            for (size_t c = 0; c < kFieldMap.size(); ++c) {
                if (!card.values[c].isEmpty())
                    std::printf("  %s: %s\n", kFieldMap[c].column, qPrintable(card.values[c]));
            }
        }
        return 0;
    }
    for (int i = 1; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--cards") && i + 1 < args.size())
            cards = std::max(1, args[++i].toInt());
        else if (args[i] == QLatin1String("--verbose"))
            verbose = true;
        else if (args[i] == QLatin1String("--save") && i + 1 < args.size())
            save = args[++i];
        else {
            std::fprintf(stderr, "usage: quembe-ocr-bench [--cards N] [--verbose] [--save DIR]\n");
            return 2;
        }
    }

    std::printf("load average before: %s\n", qPrintable(loadAverage()));
    QElapsedTimer timer;
    timer.start();
    const QList<CardImages::Sample> set = CardImages::makeSet(cards, 0);
    std::printf("drew %d cards in %lld ms\n", int(set.size()), qint64(timer.elapsed()));
    timer.restart();
    Recognize::CardReader reader;
    std::printf("models loaded in %lld ms\n", qint64(timer.elapsed()));

    Result clean, photo;
    for (int i = 0; i < set.size(); ++i) {
        const CardImages::Sample& s = set[i];
        const QImage copy = CardImages::photoCopy(s.clean, quint32(1000 + i));
        if (!save.isEmpty()) {
            QDir().mkpath(save);
            s.clean.save(QStringLiteral("%1/%2.png").arg(save, s.id));
            copy.save(QStringLiteral("%1/%2-photo.png").arg(save, s.id));
            QFile truth(QStringLiteral("%1/%2.txt").arg(save, s.id));
            if (truth.open(QIODevice::WriteOnly)) {
                QTextStream out(&truth);
                for (size_t c = 0; c < kFieldMap.size(); ++c) {
                    if (!s.truth.values[c].isEmpty())
                        out << QString::fromUtf8(kFieldMap[c].column) << ": "
                            << QString(s.truth.values[c])
                                   .replace(QLatin1Char('\n'), QLatin1String(" / "))
                            << '\n';
                }
            }
        }
        for (auto [image, result, kind] :
             {std::tuple(s.clean, &clean, "clean"), std::tuple(copy, &photo, "photo")}) {
            timer.restart();
            const double cpuStart = cpuMs();
            const Card found = *reader.readCard(image);
            result->ms.push_back(double(timer.nsecsElapsed()) / 1e6);
            result->cpu.push_back(cpuMs() - cpuStart);
            score(*result, s.truth, found, s.id + QLatin1Char('/') + QLatin1String(kind), verbose);
        }
    }

    std::printf("\n%-10s %8s %8s\n", "column", "clean", "photo");
    std::printf("%-10s %8s %8s   (exact, cards)\n", "姓名",
                qPrintable(percent(clean.name.hits, clean.name.total)),
                qPrintable(percent(photo.name.hits, photo.name.total)));
    for (const char* c : kExact) {
        const QString column = QString::fromUtf8(c);
        std::printf("%-10s %8s %8s   (exact, %d)\n", c,
                    qPrintable(percent(clean.columns[column].hits, clean.columns[column].total)),
                    qPrintable(percent(photo.columns[column].hits, photo.columns[column].total)),
                    clean.columns[column].total);
    }
    for (const char* c : kCharacters) {
        const QString column = QString::fromUtf8(c);
        std::printf(
            "%-10s %8s %8s   (characters, %d)\n", c,
            qPrintable(percent(clean.columns[column].matched, clean.columns[column].length)),
            qPrintable(percent(photo.columns[column].matched, photo.columns[column].length)),
            int(clean.columns[column].length));
    }
    std::printf("%-10s %8s %8s\n", "numbers+mail exact",
                qPrintable(percent(clean.exact.hits, clean.exact.total)),
                qPrintable(percent(photo.exact.hits, photo.exact.total)));
    std::printf("%-10s %8s %8s\n", "other columns, characters",
                qPrintable(percent(clean.characters.matched, clean.characters.length)),
                qPrintable(percent(photo.characters.matched, photo.characters.length)));
    std::printf("time per card, median: clean %.0f ms, photo %.0f ms; slowest %.0f ms\n",
                median(clean.ms), median(photo.ms),
                std::max(*std::max_element(clean.ms.begin(), clean.ms.end()),
                         *std::max_element(photo.ms.begin(), photo.ms.end())));
    std::printf("processor time per card, median: clean %.0f ms, photo %.0f ms\n",
                median(clean.cpu), median(photo.cpu));
    std::printf("load average after: %s\n", qPrintable(loadAverage()));
    return 0;
}
