#include "backupsupport.h"

#include "testsupport.h"

#include "data/adoquery.h"
#include "mainwindow/VELMORA.h"

#include <QDir>
#include <QFile>
#include <QTest>

namespace BackupSupport {

QByteArray bytes(const QString& file) {
    QFile f(file);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void write(const QString& file, const QByteArray& data) {
    QFile f(file);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(f.write(data), data.size());
}

QStringList entries(const QString& folder) {
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot,
                                  QDir::Name);
}

QStringList names() {
    TADOQuery* q = FrmMain->ADOQuery1;
    const int column = int(q->FieldNames().indexOf(QStringLiteral("姓名")));
    QStringList list;
    for (int row = 0; row < q->RecordCount(); ++row)
        list << q->CellText(row, column);
    return list;
}

void addCards(const QStringList& cardNames) {
    for (const QString& name : cardNames)
        TestSupport::addCard({QStringLiteral("姓名"), name});
}

void makeLarge(const QString& file, int megabytes) {
    TestSupport::exec(file,
                      QStringLiteral("insert into zl (姓名, 备注) values ('pad', zeroblob(%1))")
                          .arg(megabytes << 20));
}

} // namespace BackupSupport
