// Card recognition over the drawn test set: per-column accuracy on the clean pictures and
// on their photo-like copies, and the time per card.
//   quembe-ocr-bench [--cards N] [--verbose] [--save DIR]
//   quembe-ocr-bench --hard [--cards N] [--half held-out|tuning|all]
//                    [--recognizer tess|model|mixed] [--shot clean|photo|far] [--verbose]
//                    [--save DIR]
//   quembe-ocr-bench --lines [--recognizer tess|model|mixed] IMAGE...
// --hard reads the harder set (six faces, six layouts, rare names, phone photos, far shots)
// and reports on one half of it: the held-out half unless told otherwise, side by side for
// each recognizer (all that can be loaded unless one is named), of every shot unless one is
// named (the others' columns then stay empty).
// --verbose lists every column read wrong and the cards over the time limit; --save writes
// the pictures and what they show;
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

const char* recognizerName(Recognize::Recognizer r) {
    switch (r) {
    case Recognize::Recognizer::Tesseract:
        return "tess";
    case Recognize::Recognizer::Model:
        return "model";
    case Recognize::Recognizer::Mixed:
        return "mixed";
    }
    return "";
}

int printLines(QStringList files) {
    Recognize::PictureReader reader;
    // "--recognizer model" first reads with that one alone.
    if (files.size() > 2 && files[0] == QLatin1String("--recognizer")) {
        const QString name = files[1];
        files = files.mid(2);
        for (const auto r : {Recognize::Recognizer::Tesseract, Recognize::Recognizer::Model,
                             Recognize::Recognizer::Mixed}) {
            if (name == QLatin1String(recognizerName(r)))
                reader.setRecognizer(r);
        }
    }
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

// What a card may cost at most.
const double kCardLimitMs = 1500;

double maxOf(const std::vector<double>& v) {
    return v.empty() ? 0 : *std::max_element(v.begin(), v.end());
}

// The harder set, read clean, as a photo and as a far shot by each recognizer, on the same
// pictures in the same run; the figures of one half.
int hardRun(int cards, const QString& half, bool verbose, const QString& folder,
            QList<Recognize::Recognizer> recognizers, const QString& only) {
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
    {
        // Tesseract alone, for the share of the load that is the model's.
        qputenv("QUEMBE_OCR_MODELS", QByteArray());
        timer.restart();
        const double loadCpu = cpuMs();
        Recognize::PictureReader tesseract;
        std::printf("Tesseract loaded in %lld ms (%.0f ms processor time)\n",
                    qint64(timer.elapsed()), cpuMs() - loadCpu);
        qunsetenv("QUEMBE_OCR_MODELS");
    }
    timer.restart();
    const double loadCpu = cpuMs();
    Recognize::PictureReader reader;
    std::printf("Tesseract and the model (%s) loaded in %lld ms (%.0f ms processor time)\n",
                qPrintable(Recognize::modelFolder()), qint64(timer.elapsed()), cpuMs() - loadCpu);
    recognizers.erase(std::remove_if(recognizers.begin(), recognizers.end(),
                                     [&](Recognize::Recognizer r) {
                                         const bool there = reader.setRecognizer(r);
                                         if (!there)
                                             std::printf("no model: %s left out\n",
                                                         recognizerName(r));
                                         return !there;
                                     }),
                      recognizers.end());
    const int n = int(recognizers.size());

    const std::tuple<Shot, const char*> kinds[] = {
        {Shot::Clean, "clean"}, {Shot::Photo, "photo"}, {Shot::Far, "far"}};
    // Per recognizer and shot: every card, those with common and with rare names.
    std::vector<Run> runs(size_t(3 * n)), common(size_t(3 * n)), rare(size_t(3 * n));
    QStringList slow;
    for (const CardImages::HardSample& s : set) {
        for (int k = 0; k < 3; ++k) {
            const auto [shot, kind] = kinds[k];
            if (!only.isEmpty() && only != QLatin1String(kind))
                continue;
            const QImage image = CardImages::hardShot(s.clean, shot, quint32(5000 + s.number));
            if (!folder.isEmpty())
                saveHard(folder, s, QLatin1String(kind), image);
            for (int r = 0; r < n; ++r) {
                reader.setRecognizer(recognizers[r]);
                const size_t at = size_t(3 * r + k);
                timer.restart();
                const double cpuStart = cpuMs();
                const Card found = *reader.readCard(image);
                runs[at].ms.push_back(double(timer.nsecsElapsed()) / 1e6);
                runs[at].cpu.push_back(cpuMs() - cpuStart);
                const QString id =
                    QStringLiteral("%1/%2 %3 (%4, %5)")
                        .arg(s.id, QLatin1String(kind),
                             QLatin1String(recognizerName(recognizers[r])), s.layout, s.font);
                runs[at].tally.add(s.truth, found, id);
                if (verbose && runs[at].cpu.back() > kCardLimitMs)
                    slow << QStringLiteral("%1 %2 ms").arg(id).arg(runs[at].cpu.back(), 0, 'f', 0);
                (s.rareName ? rare : common)[at].tally.add(s.truth, found, id);
            }
        }
    }
    if (verbose) {
        for (const Run& run : runs) {
            for (const QString& m : run.tally.mismatches)
                std::printf("  %s\n", qPrintable(m));
        }
        for (const QString& card : slow)
            std::printf("  over %.0f ms of processor time: %s\n", kCardLimitMs, qPrintable(card));
    }
    auto row = [&](const QString& what, auto figure) {
        for (int at = 0; at < 3 * n; ++at)
            std::printf("%7s", qPrintable(percent(figure(size_t(at)))));
        std::printf("   %s\n", qPrintable(what));
    };
    std::printf("\n");
    for (int r = 0; r < n; ++r)
        std::printf("%-21s", recognizerName(recognizers[r]));
    std::printf("\n");
    for (int at = 0; at < 3 * n; ++at)
        std::printf("%7s", std::get<1>(kinds[at % 3]));
    std::printf("   what (target)\n");
    row(QStringLiteral("姓名, common characters (>= 95%)"),
        [&](size_t at) { return common[at].tally.name(); });
    row(QStringLiteral("姓名, rare characters (>= 80%)"),
        [&](size_t at) { return rare[at].tally.name(); });
    for (const QString& column : CardImages::Tally::exactColumns())
        row(QStringLiteral("%1 (exact as printed, of %2)")
                .arg(column)
                .arg(runs[0].tally.filled(column)),
            [&](size_t at) { return runs[at].tally.exact(column); });
    row(QStringLiteral("numbers, mail, postcode together (exact as printed, >= 97%)"),
        [&](size_t at) { return runs[at].tally.exactAll(); });
    row(QStringLiteral("numbers, mail, postcode together (digits only)"),
        [&](size_t at) { return runs[at].tally.digitsAll(); });
    for (const QString& column : CardImages::Tally::characterColumns())
        row(QStringLiteral("%1 (characters)").arg(column),
            [&](size_t at) { return runs[at].tally.characters(column); });
    const QStringList named = {QStringLiteral("单位"), QStringLiteral("部门"),
                               QStringLiteral("职务"), QStringLiteral("工作地址")};
    row(QStringLiteral("company, department, post, address (characters, >= 95% on photos)"),
        [&](size_t at) { return runs[at].tally.characters(named); });
    row(QStringLiteral("cards whole (>= 80% clean, >= 70% photographed)"),
        [&](size_t at) { return runs[at].tally.whole(); });
    for (int at = 0; at < 3 * n; ++at)
        std::printf("%-5s %-5s processor time per card: median %.0f ms, slowest %.0f ms; "
                    "wall median %.0f ms\n",
                    recognizerName(recognizers[at / 3]), std::get<1>(kinds[at % 3]),
                    median(runs[size_t(at)].cpu), maxOf(runs[size_t(at)].cpu),
                    median(runs[size_t(at)].ms));
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
    QString folder, shot, half = QStringLiteral("held-out");
    QList<Recognize::Recognizer> recognizers = {Recognize::Recognizer::Tesseract,
                                                Recognize::Recognizer::Model,
                                                Recognize::Recognizer::Mixed};
    for (int i = 1; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--hard")) {
            hard = true;
        } else if (args[i] == QLatin1String("--half") && i + 1 < args.size()) {
            half = args[++i];
        } else if (args[i] == QLatin1String("--cards") && i + 1 < args.size()) {
            cards = std::max(1, args[++i].toInt());
        } else if (args[i] == QLatin1String("--recognizer") && i + 1 < args.size()) {
            const QString name = args[++i];
            recognizers.clear();
            for (const auto r : {Recognize::Recognizer::Tesseract, Recognize::Recognizer::Model,
                                 Recognize::Recognizer::Mixed}) {
                if (name == QLatin1String(recognizerName(r)))
                    recognizers << r;
            }
            if (recognizers.isEmpty()) {
                std::fprintf(stderr, "--recognizer: tess, model or mixed\n");
                return 2;
            }
        } else if (args[i] == QLatin1String("--shot") && i + 1 < args.size()) {
            shot = args[++i];
        } else if (args[i] == QLatin1String("--verbose")) {
            verbose = true;
        } else if (args[i] == QLatin1String("--save") && i + 1 < args.size()) {
            folder = args[++i];
        } else {
            std::fprintf(stderr, "usage: quembe-ocr-bench [--cards N] [--verbose] [--save DIR]\n"
                                 "       quembe-ocr-bench --hard [--cards N] "
                                 "[--half held-out|tuning|all] [--recognizer tess|model|mixed] "
                                 "[--shot clean|photo|far] [--verbose] [--save DIR]\n"
                                 "       quembe-ocr-bench --lines IMAGE...\n");
            return 2;
        }
    }
    if (cards == 0)
        cards = hard ? 48 : 36;
    if (hard)
        return hardRun(cards, half, verbose, folder, recognizers, shot);

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
