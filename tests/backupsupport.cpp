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

void addCards(const QStringList& cardNames) {
    for (const QString& name : cardNames)
        TestSupport::addCard({QStringLiteral("姓名"), name});
}

void backedUpThenAdded(TestSupport::Program& program) {
    addCards({QStringLiteral("张三")});
    FrmMain->N10Click();
    addCards({QStringLiteral("李四")});
    program.boxes.clear();
}

void makeLarge(const QString& file, int megabytes) {
    TestSupport::exec(file,
                      QStringLiteral("insert into zl (姓名, 备注) values ('pad', zeroblob(%1))")
                          .arg(megabytes << 20));
}

} // namespace BackupSupport
