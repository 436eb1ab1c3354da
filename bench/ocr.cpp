// Card recognition over the drawn test set: per-column accuracy on the clean pictures and
// on their photo-like copies, and the time per card.
//   quembe-ocr-bench [--cards N] [--verbose] [--save DIR]
//   quembe-ocr-bench --lines IMAGE...
// --verbose lists every column read wrong; --save writes the pictures and what they show;
// --lines prints the lines read from the given pictures, their heights and the card.
#include "cardimages.h"
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

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", QByteArrayLiteral("offscreen"));
    QGuiApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() > 2 && args[1] == QLatin1String("--lines"))
        return printLines(args.mid(2));
    int cards = 36;
    bool verbose = false;
    QString folder;
    for (int i = 1; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--cards") && i + 1 < args.size()) {
            cards = std::max(1, args[++i].toInt());
        } else if (args[i] == QLatin1String("--verbose")) {
            verbose = true;
        } else if (args[i] == QLatin1String("--save") && i + 1 < args.size()) {
            folder = args[++i];
        } else {
            std::fprintf(stderr, "usage: quembe-ocr-bench [--cards N] [--verbose] [--save DIR]\n"
                                 "       quembe-ocr-bench --lines IMAGE...\n");
            return 2;
        }
    }

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
