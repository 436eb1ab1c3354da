#include "connectionstring.h"

#include <QRegularExpression>

const char kStoredConnectionString[] =
    "Provider=Microsoft.Jet.OLEDB.4.0;"
    "Data Source=D:\\QUEMBE\\VELMORA\\database\\data\\velmora.mdb;"
    "Mode=Share Deny None;"
    "Extended Properties=\"\";"
    "Persist Security Info=False;"
    "Jet OLEDB:System database=\"\";"
    "Jet OLEDB:Registry Path=\"\";"
    "Jet OLEDB:Database Password=tesqua;"
    "Jet OLEDB:Engine Type=5;"
    "Jet OLEDB:Database Locking Mode=1;"
    "Jet OLEDB:Global Partial Bulk Ops=2;"
    "Jet OLEDB:Global Bulk Transactions=1;"
    "Jet OLEDB:New Database Password=tesqua;"
    "Jet OLEDB:Create System Database=False;"
    "Jet OLEDB:Encrypt Database=False;"
    "Jet OLEDB:Don't Copy Locale on Compact=False;"
    "Jet OLEDB:Compact Without Replica Repair=False;"
    "Jet OLEDB:SFP=False";

namespace {

// Blanks around a value do not count. A value in double or single quotes may hold ";" and,
// doubled, its own quote character.
QString unquoted(const QString& value) {
    const QString raw = value.trimmed();
    if (raw.size() < 2)
        return raw;
    const QChar quote = raw.front();
    if ((quote != QLatin1Char('"') && quote != QLatin1Char('\'')) || raw.back() != quote)
        return raw;
    QString inner = raw.mid(1, raw.size() - 2);
    inner.replace(QString(2, quote), QString(quote));
    return inner;
}

} // namespace

ConnectionString ConnectionString::parse(const QString& text) {
    ConnectionString result;
    int pos = 0;
    const int n = int(text.size());
    while (pos < n) {
        const int eq = int(text.indexOf(QLatin1Char('='), pos));
        const int semi = int(text.indexOf(QLatin1Char(';'), pos));
        if (eq < 0 || (semi >= 0 && semi < eq)) {
            // A piece without "=": nothing to keep, skip to the next separator.
            if (semi < 0)
                break;
            pos = semi + 1;
            continue;
        }
        const QString key = text.mid(pos, eq - pos).trimmed();
        int end = eq + 1;
        const QChar first = end < n ? text.at(end) : QChar();
        if (first == QLatin1Char('"') || first == QLatin1Char('\'')) {
            ++end;
            while (end < n) {
                if (text.at(end) == first) {
                    if (end + 1 < n && text.at(end + 1) == first) {
                        end += 2;
                        continue;
                    }
                    ++end;
                    break;
                }
                ++end;
            }
            // Anything between the closing quote and the separator belongs to the value.
            const int next = int(text.indexOf(QLatin1Char(';'), end));
            end = next < 0 ? n : next;
        } else {
            end = semi < 0 ? n : semi;
        }
        if (!key.isEmpty())
            result.m_pairs.append({key, text.mid(eq + 1, end - eq - 1)});
        pos = end + 1;
    }
    return result;
}

QString ConnectionString::value(const QString& key) const {
    for (const auto& pair : m_pairs) {
        if (pair.first.compare(key, Qt::CaseInsensitive) == 0)
            return unquoted(pair.second);
    }
    return QString();
}

bool ConnectionString::contains(const QString& key) const {
    for (const auto& pair : m_pairs) {
        if (pair.first.compare(key, Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

QString ConnectionString::toString() const {
    QStringList parts;
    for (const auto& pair : m_pairs)
        parts << pair.first + QLatin1Char('=') + pair.second;
    return parts.join(QLatin1Char(';'));
}

DatabaseSettings DatabaseSettings::parse(const QString& connectionString) {
    const ConnectionString pairs = ConnectionString::parse(connectionString);
    DatabaseSettings settings;
    settings.provider = pairs.value(QStringLiteral("Provider"));
    settings.fileName = pairs.value(QStringLiteral("Data Source"))
                            .section(QRegularExpression(QStringLiteral("[\\\\/]")), -1);
    settings.password = pairs.value(QStringLiteral("Jet OLEDB:Database Password"));
    return settings;
}

DatabaseSettings DatabaseSettings::stored() {
    return parse(QString::fromUtf8(kStoredConnectionString));
}
