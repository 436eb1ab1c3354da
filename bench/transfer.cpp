// quembe-bench's exchange: export through 导出名片, import by quembe-cards, each set against
// the sqlite3 shell doing the same with the same cards.
#include "scenarios.h"

#include "data/adoquery.h"
#include "exchange/format.h"
#include "mainwindow/VELMORA.h"
#include "platform/filedialog.h"
#include "platform/messagebox.h"

#include <QAction>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cmath>

namespace Bench {

namespace {

const double kImportLimitMs = 5000;
const double kExportLimitMs = 3000;

QString exchangeFolder(const Context& c) {
    return c.work + QStringLiteral("/exchange");
}

QString exportedFile(const Context& c, Exchange::Format format) {
    return exchangeFolder(c) + QStringLiteral("/cards.") + Exchange::formatSuffix(format);
}

long exportedCards(const Context& c) {
    return std::min(c.listed, kExchangeCards);
}

/// The first `count` cards of a vCard file, into `to`.
void copyFirstCards(const QString& from, const QString& to, long count) {
    QFile in(from);
    if (!in.open(QIODevice::ReadOnly))
        fail("cannot read " + from.toStdString());
    const QByteArray all = in.readAll();
    qsizetype end = 0;
    for (long n = 0; n < count; ++n) {
        end = all.indexOf("END:VCARD", end);
        expect(end >= 0, "the exported vCard file holds too few cards");
        end = all.indexOf('\n', end) + 1;
    }
    QFile out(to);
    if (!out.open(QIODevice::WriteOnly) || out.write(all.left(end)) != end)
        fail("cannot write " + to.toStdString());
}

} // namespace

// ---- Export ---------------------------------------------------------------------------------

void exportCards(Context& c) {
    // All cards of the list, or the first 100,000 of them (as a search that lists them would)
    // when there are more.
    Platform::FileDialogRecorder fileDialogs;
    const QString folder = exchangeFolder(c);
    QDir(folder).removeRecursively();
    if (!QDir().mkpath(folder))
        fail("cannot make " + folder.toStdString());
    TADOQuery* list = FrmMain->ADOQuery1;
    const long exported = exportedCards(c);
    if (exported < c.listed) {
        const QVector<qint64> first = list->RowIds().mid(0, int(exported));
        list->Close();
        list->IdSource = [first](sqlite3*) { return first; };
        list->Open();
        repaint();
    }
    expect(list->RecordCount() == exported, "export: the list does not hold the cards to export");
    const int runs = c.cards >= 500000 ? 3 : 5;
    double grownMb = 0; // most the memory grew in a run
    for (Exchange::Format format : {Exchange::Format::VCard30, Exchange::Format::CsvUtf8}) {
        const QString path = exportedFile(c, format);
        std::vector<double> ms;
        for (int i = 0; i < runs; ++i) {
            QFile::remove(path);
            fileDialogs.setNextAnswer(path, Exchange::formatFilter(format));
            QCoreApplication::processEvents();
            resetPeak();
            const long beforeKb = statusKb("VmRSS");
            const Clock::time_point t = Clock::now();
            FrmMain->N22->trigger();
            repaint();
            ms.push_back(lap("export", t));
            const double grown = (statusKb("VmHWM") - beforeKb) / 1024.0;
            grownMb = std::max(grownMb, grown);
            const QStringList said = c.boxes->texts();
            expect(said.size() == 1 &&
                       said.first().startsWith(QStringLiteral("已导出 %1 张名片").arg(exported)),
                   "export: the program said \"" + said.join(QStringLiteral(" / ")).toStdString() +
                       "\"");
            c.boxes->clear();
        }
        const std::string name = Exchange::formatName(format).toStdString();
        const std::string step = "7 export " + name + ", " + std::to_string(exported) + " cards";
        c.rows.push_back(besideShell(under(step, median(ms), kExportLimitMs),
                                     "shell, 24 columns as CSV", c.shell[c.shellCsv]));
        c.note("runs, export %s (%.1f MB): %s", name.c_str(), QFileInfo(path).size() / 1e6,
               runsOf(ms).c_str());
    }
    c.rows.push_back(under("7 export, RSS growth (MB)", grownMb, 10, "MB"));
    back();
    allListed(c, "back after the export");
    c.markMemory("after the export");
}

// ---- Import ---------------------------------------------------------------------------------

void importCards(Context& c) {
    // By `quembe-cards import`, a whole process as a script moving cards in runs it: its
    // start, the database opened and checked as the program opens it, the cards and their
    // quick-find entries written in one transaction, into a new empty database (cards already
    // in a file are skipped on import, so a copy of the card file would take none). Its
    // memory is its own; "growth" is its peak less the peak of the same import of 1,000 of the
    // cards. Each run is paired with the shell's .import of the same CSV into a bare table: the
    // engine's own speed.
    const QString folder = exchangeFolder(c);
    const QString importBase = folder + QStringLiteral("/import.mdb");
    const QString bare = folder + QStringLiteral("/bare.db");
    const QString log = folder + QStringLiteral("/import.log");
    const QString vcf = exportedFile(c, Exchange::Format::VCard30);
    const QString csv = exportedFile(c, Exchange::Format::CsvUtf8);
    const QString smallVcf = folder + QStringLiteral("/small.vcf");
    const long exported = exportedCards(c);
    const long smallCards = std::min(1000L, exported);
    copyFirstCards(vcf, smallVcf, smallCards);
    const QString empty = folder + QStringLiteral("/empty.mdb");
    QFile::remove(empty);
    generateCards(empty, 0, userPassword());
    auto importFile = [&](const QString& from, long count) {
        QFile::remove(importBase);
        if (!QFile::copy(empty, importBase))
            fail("cannot copy the database for the import");
        flushFile(importBase);
        const long before = countCards(importBase);
        const ToolRun r = runTool(
            {QUEMBE_CARDS, "--database", importBase.toStdString(), "import", from.toStdString()},
            log);
        expect(countCards(importBase) == before + count,
               "import: the database did not get " + std::to_string(count) + " cards");
        return r;
    };
    // The table is made from the CSV's head line, a column for each of its columns.
    ShellQuery shellImport{".import --csv '" + csv.toStdString() + "' cards"};
    auto shellRun = [&] {
        QFile::remove(bare);
        shellImport.time(bare.toStdString(), 1, false);
    };
    // A first run tells whether the shell is there.
    QFile::remove(bare);
    shellImport.time(bare.toStdString(), 0, true);

    const ToolRun smallImport = importFile(smallVcf, smallCards);
    std::vector<double> tVcf, tCsv;
    long peakKb = -1;
    // One run far over the target says enough: no need to wait for more.
    for (int i = 0; i < 3 && (tVcf.empty() || tVcf.front() < 4 * kImportLimitMs); ++i) {
        shellRun();
        tCsv.push_back(importFile(csv, exported).ms);
        const ToolRun r = importFile(vcf, exported);
        tVcf.push_back(r.ms);
        peakKb = std::max(peakKb, r.peakKb);
    }
    const double grownMb =
        peakKb < 0 || smallImport.peakKb < 0 ? NAN : (peakKb - smallImport.peakKb) / 1024.0;
    const qint64 vcfBytes = QFileInfo(vcf).size();
    QDir(folder).removeRecursively();

    const std::string cards = std::to_string(exported) + " cards (process)";
    // Kept by the context: the rows point at its runs.
    c.paired.push_back(shellImport);
    const ShellQuery& floor = c.paired.back();
    c.rows.push_back(
        withinShell("7 import csv, " + cards, median(tCsv), "sqlite3 .import --csv", floor, 3));
    c.rows.push_back(
        withinShell("7 import vcard3, " + cards, median(tVcf), "sqlite3 .import --csv", floor, 4));
    c.rows.push_back(under("7 import vcard3, " + cards, median(tVcf), kImportLimitMs));
    c.rows.push_back(under("7 import, RSS growth over 1,000 cards (MB)", grownMb, 10, "MB"));
    c.note("runs, import of %.1f MB of vCard: %s, peak RSS %.1f MB (of %ld cards: %.1f ms, %.1f "
           "MB); of the CSV: %s; sqlite3 .import of the CSV: %s",
           vcfBytes / 1e6, runsOf(tVcf).c_str(), peakKb / 1024.0, smallCards, smallImport.ms,
           smallImport.peakKb / 1024.0, runsOf(tCsv).c_str(), runsOf(floor.times).c_str());
    c.noteLater([shell = &c.shell[c.shellCsv]] {
        return "shell writing the CSV: " + runsOf(shell->times);
    });
}

} // namespace Bench
