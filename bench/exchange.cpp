// Times export and import of N generated cards in every exchange format, with the memory
// each step peaks at:
//   quembe-exchange-bench [--cards N] [--keep DIR]
// Cards come from the benchmark's generator one at a time, as they would from the database,
// so memory should stay flat whatever N is. After the timed read a second, untimed read
// checks that every card came back exactly.
#include "support.h"
#include "testcards.h"

#include "data/card.h"
#include "data/dberror.h"
#include "exchange/cardfilereader.h"
#include "exchange/cardwriter.h"
#include "exchange/format.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>
#include <cstring>

using namespace Bench;

namespace {

class Cards {
public:
    Cards() {
        for (int i = 0; i < Bench::kCardFields; ++i)
            m_index[i] = Card::indexOf(QString::fromUtf8(Bench::cardColumns()[std::size_t(i)]));
    }
    Card next() {
        const auto& values = m_generator.next();
        Card card;
        for (int i = 0; i < Bench::kCardFields; ++i)
            card.values[m_index[i]] = QString::fromStdString(values[std::size_t(i)]);
        return card;
    }

private:
    Bench::CardGenerator m_generator;
    int m_index[Bench::kCardFields];
};

int run(int argc, char** argv) {
    long count = 100000;
    QString keep;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--cards") && i + 1 < argc)
            count = std::atol(argv[++i]);
        else if (!std::strcmp(argv[i], "--keep") && i + 1 < argc)
            keep = QString::fromLocal8Bit(argv[++i]);
        else {
            std::fprintf(stderr, "usage: quembe-exchange-bench [--cards N] [--keep DIR]\n");
            return 2;
        }
    }
    QTemporaryDir temporary;
    const QString dir = keep.isEmpty() ? temporary.path() : keep;

    resetPeak();
    Clock::time_point start = Clock::now();
    const double generateCpu = cpuMs();
    {
        Cards cards;
        for (long n = 0; n < count; ++n)
            cards.next();
    }
    std::printf("cards: %ld; generating them alone takes %.0f ms, %.0f ms processor time "
                "(included in export)\n",
                count, msSince(start), cpuMs() - generateCpu);
    std::printf("memory at start: VmRSS %.1f MB; %s\n\n", statusKb("VmRSS") / 1024.0,
                loadLine().c_str());
    std::printf("%-12s %8s %10s %8s %8s %10s %8s %8s %6s\n", "format", "file MB", "export ms",
                "cpu ms", "peak MB", "import ms", "cpu ms", "peak MB", "exact");
    for (Exchange::Format format : Exchange::allFormats()) {
        if (format == Exchange::Format::Xlsx)
            continue; // not a text stream
        const QString path = dir + QStringLiteral("/cards.") + Exchange::formatName(format) +
                             QLatin1Char('.') + Exchange::formatSuffix(format);
        resetPeak();
        start = Clock::now();
        double cpu = cpuMs();
        {
            QFile file(path);
            if (!file.open(QIODevice::WriteOnly))
                throw EDatabaseError(file.errorString());
            Exchange::CardWriter writer(&file, format);
            Cards cards;
            for (long n = 0; n < count; ++n)
                writer.write(cards.next());
            writer.finish();
        }
        const double writeMs = msSince(start);
        const double writeCpu = cpuMs() - cpu;
        const long writePeak = statusKb("VmHWM");

        resetPeak();
        start = Clock::now();
        cpu = cpuMs();
        long read = 0;
        {
            auto file = Exchange::openForReading(path);
            Exchange::CardFileReader reader(file.get());
            Card card;
            while (reader.next(&card))
                ++read;
        }
        const double readMs = msSince(start);
        const double readCpu = cpuMs() - cpu;
        const long readPeak = statusKb("VmHWM");

        long same = 0;
        {
            auto file = Exchange::openForReading(path);
            Exchange::CardFileReader reader(file.get());
            Cards cards;
            Card card;
            while (reader.next(&card))
                same += card == cards.next();
        }
        std::printf("%-12s %8.1f %10.0f %8.0f %8.1f %10.0f %8.0f %8.1f %6s\n",
                    qPrintable(Exchange::formatName(format)), QFile(path).size() / 1e6, writeMs,
                    writeCpu, writePeak / 1024.0, readMs, readCpu, readPeak / 1024.0,
                    same == count && read == count ? "yes" : "NO");
    }
    std::printf("%s\n", loadLine().c_str());
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    return guarded("quembe-exchange-bench", [&] { return run(argc, argv); });
}
