// Makes the initial database file: tables zl and yh, an empty user password, and the
// database password the program's connection settings carry.

#include "data/connectionstring.h"
#include "data/dberror.h"
#include "data/schema.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStringList>

#include <cstdio>

namespace {

void print(FILE* stream, const QString& text) {
    std::fputs(text.toLocal8Bit().constData(), stream);
    std::fputc('\n', stream);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QStringList args = QCoreApplication::arguments().mid(1);
    const bool ifMissing = args.removeAll(QStringLiteral("--if-missing")) > 0;
    if (args.size() != 1 || args.first().startsWith(QLatin1Char('-'))) {
        print(stderr, QStringLiteral("usage: mkvelmora [--if-missing] PATH"));
        return 2;
    }
    const QString path = args.first();
    const QString shown = QDir::toNativeSeparators(path);

    if (QFileInfo::exists(path)) {
        if (ifMissing) {
            print(stdout, QStringLiteral("mkvelmora: %1 exists, left unchanged").arg(shown));
            return 0;
        }
        print(stderr, QStringLiteral("mkvelmora: %1 exists; not overwriting it").arg(shown));
        return 1;
    }

    const QString password = DatabaseSettings::stored().password;
    try {
        Schema::createDatabase(path, password, QString());
    } catch (const EError& e) {
        print(stderr, QStringLiteral("mkvelmora: ") + e.message());
        return 1;
    }
    print(stdout, QStringLiteral("mkvelmora: created %1").arg(shown));
    return 0;
}
