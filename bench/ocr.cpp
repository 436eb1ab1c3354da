// Card recognition over the drawn test set: per-column accuracy on the clean pictures and
// on their photo-like copies, and the time per card.
//   quembe-ocr-bench [--cards N] [--verbose] [--save DIR]
//   quembe-ocr-bench --hard [--cards N] [--half held-out|tuning|all] [--verbose] [--save DIR]
//   quembe-ocr-bench --lines IMAGE...
// --hard reads the harder set (six faces, six layouts, rare names, phone photos, far shots)
// and reports on one half of it: the held-out half unless told otherwise.
// --verbose lists every column read wrong; --save writes the pictures and what they show;
// --lines prints the lines read from the given pictures, their heights and the card.
#include "cardimages.h"
#include "hardcards.h"
#include "support.h"

#include "recognize/cardparser.h"
#include "recognize/picturereader.h"

#include "data/dberror.h"
#include "data/fieldmap.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QTextStream>

#include <algorithm>
#include <cstdio>
#include <vector>

using Bench::cpuMs;
using Bench::median;

namespace {

QString percent(double share) {
    return QString::asprintf("%5.1f%%", 100.0 * share);
}

void printCard(const Card& card) {
    for (size_t c = 0; c < kFieldMap.size(); ++c) {
        if (!card.values[c].isEmpty())
            std::printf(
                "  %s: %s\n", kFieldMap[c].column,
                qPrintable(
                    QString(card.values[c]).replace(QLatin1Char('\n'), QLatin1String(" / "))));
    }
}

int printLines(const QStringList& files) {
    Recognize::PictureReader reader;
    for (const QString& file : files) {
        QElapsedTimer timer;
        timer.start();
        try {
            const QList<Recognize::TextLine> lines = *reader.readLines(Recognize::loadImage(file));
            std::printf("# %s (%lld ms)\n", qPrintable(file), qint64(timer.elapsed()));
            for (const Recognize::TextLine& l : lines)
                std::printf("  h%4d c%3d  %s\n", l.box.height(), l.confidence, qPrintable(l.text));
            printCard(Recognize::parseCard(lines));
        } catch (const EDatabaseError& e) {
            std::fprintf(stderr, "%s\n", qPrintable(e.message()));
        }
    }
    return 0;
}

void save(const QString& folder, const CardImages::Sample& s, const QImage& photo) {
    QDir().mkpath(folder);
    s.clean.save(QStringLiteral("%1/%2.png").arg(folder, s.id));
    photo.save(QStringLiteral("%1/%2-photo.png").arg(folder, s.id));
    QFile truth(QStringLiteral("%1/%2.txt").arg(folder, s.id));
    if (truth.open(QIODevice::WriteOnly)) {
        QTextStream out(&truth);
        for (size_t c = 0; c < kFieldMap.size(); ++c) {
            if (!s.truth.values[c].isEmpty())
                out << QString::fromUtf8(kFieldMap[c].column) << ": "
                    << QString(s.truth.values[c]).replace(QLatin1Char('\n'), QLatin1String(" / "))
                    << '\n';
        }
    }
}

struct Run {
    CardImages::Tally tally;
    std::vector<double> ms, cpu;
};

void saveHard(const QString& folder, const CardImages::HardSample& s, const QString& kind,
              const QImage& image) {
    QDir().mkpath(folder);
    // PNG keeps the photo's own JPEG damage as it is.
    image.save(QStringLiteral("%1/%2-%3.png").arg(folder, s.id, kind));
    QFile truth(QStringLiteral("%1/%2.txt").arg(folder, s.id));
    if (kind == QLatin1String("clean") && truth.open(QIODevice::WriteOnly)) {
        QTextStream out(&truth);
        out << "# " << s.layout << ", " << s.font << '\n';
        for (size_t c = 0; c < kFieldMap.size(); ++c) {
            if (!s.truth.values[c].isEmpty())
                out << QString::fromUtf8(kFieldMap[c].column) << ": "
                    << QString(s.truth.values[c]).replace(QLatin1Char('\n'), QLatin1String(" / "))
                    << '\n';
        }
    }
}

double maxOf(const std::vector<double>& v) {
    return v.empty() ? 0 : *std::max_element(v.begin(), v.end());
}

// The harder set, read clean, as a photo and as a far shot; the figures of one half.
int hardRun(int cards, const QString& half, bool verbose, const QString& folder) {
    using CardImages::Shot;
    std::printf("load average before: %s\n", Bench::loadAverage().c_str());
    QElapsedTimer timer;
    timer.start();
    QList<CardImages::HardSample> set = CardImages::makeHardSet(cards);
    set.erase(std::remove_if(set.begin(), set.end(),
                             [&](const CardImages::HardSample& s) {
                                 return half != QLatin1String("all") &&
                                        s.heldOut() != (half == QLatin1String("held-out"));
                             }),
              set.end());
    std::printf("drew %d cards of the %s half in %lld ms\n", int(set.size()), qPrintable(half),
                qint64(timer.elapsed()));
    timer.restart();
    const double loadCpu = cpuMs();
    Recognize::PictureReader reader;
    std::printf("models loaded in %lld ms (%.0f ms processor time)\n", qint64(timer.elapsed()),
                cpuMs() - loadCpu);

    const std::tuple<Shot, const char*> kinds[] = {
        {Shot::Clean, "clean"}, {Shot::Photo, "photo"}, {Shot::Far, "far"}};
    Run runs[3], common[3], rare[3];
    for (const CardImages::HardSample& s : set) {
        for (int k = 0; k < 3; ++k) {
            const auto [shot, kind] = kinds[k];
            const QImage image = CardImages::hardShot(s.clean, shot, quint32(5000 + s.number));
            if (!folder.isEmpty())
                saveHard(folder, s, QLatin1String(kind), image);
            timer.restart();
            const double cpuStart = cpuMs();
            const Card found = *reader.readCard(image);
            runs[k].ms.push_back(double(timer.nsecsElapsed()) / 1e6);
            runs[k].cpu.push_back(cpuMs() - cpuStart);
            const QString id =
                QStringLiteral("%1/%2 (%3, %4)").arg(s.id, QLatin1String(kind), s.layout, s.font);
            runs[k].tally.add(s.truth, found, id);
            (s.rareName ? rare : common)[k].tally.add(s.truth, found, id);
        }
    }
    if (verbose) {
        for (const Run& run : runs) {
            for (const QString& m : run.tally.mismatches)
                std::printf("  %s\n", qPrintable(m));
        }
    }
    auto row = [&](const QString& what, auto figure) {
        std::printf("%8s %8s %8s   %s\n", qPrintable(percent(figure(0))),
                    qPrintable(percent(figure(1))), qPrintable(percent(figure(2))),
                    qPrintable(what));
    };
    std::printf("\n%8s %8s %8s   %s\n", "clean", "photo", "far", "what (target)");
    row(QStringLiteral("姓名, common characters (>= 95%)"),
        [&](int k) { return common[k].tally.name(); });
    row(QStringLiteral("姓名, rare characters (>= 80%)"),
        [&](int k) { return rare[k].tally.name(); });
    for (const QString& column : CardImages::Tally::exactColumns())
        row(QStringLiteral("%1 (exact as printed, of %2)")
                .arg(column)
                .arg(runs[0].tally.filled(column)),
            [&](int k) { return runs[k].tally.exact(column); });
    row(QStringLiteral("numbers, mail, postcode together (exact as printed, >= 97%)"),
        [&](int k) { return runs[k].tally.exactAll(); });
    row(QStringLiteral("numbers, mail, postcode together (digits only)"),
        [&](int k) { return runs[k].tally.digitsAll(); });
    for (const QString& column : CardImages::Tally::characterColumns())
        row(QStringLiteral("%1 (characters)").arg(column),
            [&](int k) { return runs[k].tally.characters(column); });
    const QStringList named = {QStringLiteral("单位"), QStringLiteral("部门"),
                               QStringLiteral("职务"), QStringLiteral("工作地址")};
    row(QStringLiteral("company, department, post, address (characters, >= 95% on photos)"),
        [&](int k) { return runs[k].tally.characters(named); });
    row(QStringLiteral("cards whole (>= 80% clean, >= 70% photographed)"),
        [&](int k) { return runs[k].tally.whole(); });
    for (int k = 0; k < 3; ++k)
        std::printf("%-5s processor time per card: median %.0f ms, slowest %.0f ms; "
                    "wall median %.0f ms\n",
                    std::get<1>(kinds[k]), median(runs[k].cpu), maxOf(runs[k].cpu),
                    median(runs[k].ms));
    std::printf("after: %s\n", Bench::loadLine().c_str());
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", QByteArrayLiteral("offscreen"));
    QGuiApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() > 2 && args[1] == QLatin1String("--lines"))
        return printLines(args.mid(2));
    int cards = 0;
    bool verbose = false, hard = false;
    QString folder, half = QStringLiteral("held-out");
    for (int i = 1; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--hard")) {
            hard = true;
        } else if (args[i] == QLatin1String("--half") && i + 1 < args.size()) {
            half = args[++i];
        } else if (args[i] == QLatin1String("--cards") && i + 1 < args.size()) {
            cards = std::max(1, args[++i].toInt());
        } else if (args[i] == QLatin1String("--verbose")) {
            verbose = true;
        } else if (args[i] == QLatin1String("--save") && i + 1 < args.size()) {
            folder = args[++i];
        } else {
            std::fprintf(stderr, "usage: quembe-ocr-bench [--cards N] [--verbose] [--save DIR]\n"
                                 "       quembe-ocr-bench --hard [--cards N] "
                                 "[--half held-out|tuning|all] [--verbose] [--save DIR]\n"
                                 "       quembe-ocr-bench --lines IMAGE...\n");
            return 2;
        }
    }
    if (cards == 0)
        cards = hard ? 48 : 36;
    if (hard)
        return hardRun(cards, half, verbose, folder);

    std::printf("load average before: %s\n", Bench::loadAverage().c_str());
    QElapsedTimer timer;
    timer.start();
    const QList<CardImages::Sample> set = CardImages::makeSet(cards, 0);
    std::printf("drew %d cards in %lld ms\n", int(set.size()), qint64(timer.elapsed()));
    timer.restart();
    Recognize::PictureReader reader;
    std::printf("models loaded in %lld ms\n", qint64(timer.elapsed()));

    Run clean, photo;
    for (int i = 0; i < set.size(); ++i) {
        const CardImages::Sample& s = set[i];
        const QImage copy = CardImages::photoCopy(s.clean, quint32(1000 + i));
        if (!folder.isEmpty())
            save(folder, s, copy);
        for (auto [image, run, kind] :
             {std::tuple(s.clean, &clean, "clean"), std::tuple(copy, &photo, "photo")}) {
            timer.restart();
            const double cpuStart = cpuMs();
            const Card found = *reader.readCard(image);
            run->ms.push_back(double(timer.nsecsElapsed()) / 1e6);
            run->cpu.push_back(cpuMs() - cpuStart);
            run->tally.add(s.truth, found, s.id + QLatin1Char('/') + QLatin1String(kind));
        }
    }
    if (verbose) {
        for (const Run* run : {&clean, &photo}) {
            for (const QString& m : run->tally.mismatches)
                std::printf("  %s\n", qPrintable(m));
        }
    }

    // Figures first: Chinese column names would spoil printf's alignment.
    auto row = [](double clean, double photo, const QString& what) {
        std::printf("%8s %8s   %s\n", qPrintable(percent(clean)), qPrintable(percent(photo)),
                    qPrintable(what));
    };
    std::printf("\n%8s %8s   %s\n", "clean", "photo", "column");
    row(clean.tally.name(), photo.tally.name(),
        QStringLiteral("姓名 (exact, of %1 cards)").arg(clean.tally.cards()));
    for (const QString& column : CardImages::Tally::exactColumns())
        row(clean.tally.exact(column), photo.tally.exact(column),
            QStringLiteral("%1 (exact, of %2)").arg(column).arg(clean.tally.filled(column)));
    for (const QString& column : CardImages::Tally::characterColumns())
        row(clean.tally.characters(column), photo.tally.characters(column),
            QStringLiteral("%1 (characters, of %2)").arg(column).arg(clean.tally.filled(column)));
    row(clean.tally.exactAll(), photo.tally.exactAll(),
        QStringLiteral("numbers, mail, postcode together (exact)"));
    row(clean.tally.charactersAll(), photo.tally.charactersAll(),
        QStringLiteral("other columns together (characters)"));
    std::printf("time per card, median: clean %.0f ms, photo %.0f ms; slowest %.0f ms\n",
                median(clean.ms), median(photo.ms),
                std::max(*std::max_element(clean.ms.begin(), clean.ms.end()),
                         *std::max_element(photo.ms.begin(), photo.ms.end())));
    std::printf("processor time per card, median: clean %.0f ms, photo %.0f ms\n",
                median(clean.cpu), median(photo.cpu));
    std::printf("after: %s\n", Bench::loadLine().c_str());
    return 0;
}
