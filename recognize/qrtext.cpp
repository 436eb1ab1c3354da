// vCard and MECARD as QR codes carry them: one property a line (vCard) or one a semicolon
// (MECARD), no folding written, escapes undone exactly.
#include "qrtext.h"

#include <QRegularExpression>

#include <algorithm>

namespace Recognize::QrText {

namespace {

int col(const char* name) {
    return Card::indexOf(QString::fromUtf8(name));
}

bool hasHan(const QString& s) {
    static const QRegularExpression han(QStringLiteral("\\p{Han}"));
    return han.match(s).hasMatch();
}

// A Chinese mobile number: eleven digits from 1, "+86" or "0086" before it allowed.
bool isMobile(const QString& number) {
    QString digits;
    for (const QChar c : number) {
        if (c.isDigit())
            digits += c;
        else if (!QStringLiteral(" -+()").contains(c))
            return false;
    }
    if (digits.startsWith(QLatin1String("0086")))
        digits.remove(0, 4);
    else if (digits.startsWith(QLatin1String("86")) && digits.size() == 13)
        digits.remove(0, 2);
    return digits.size() == 11 && digits.startsWith(QLatin1Char('1'));
}

// Line breaks as the formats know them: one "\n" for each, whatever the card had.
QString oneBreak(const QString& s) {
    QString t = s;
    t.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    t.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return t;
}

QString escapeVCard(const QString& s) {
    QString out;
    for (const QChar c : oneBreak(s)) {
        if (c == QLatin1Char('\n'))
            out += QLatin1String("\\n");
        else if (c == QLatin1Char('\\') || c == QLatin1Char(';') || c == QLatin1Char(','))
            out += QLatin1Char('\\') + c;
        else
            out += c;
    }
    return out;
}

QString escapeMeCard(const QString& s) {
    QString out;
    for (const QChar c : oneBreak(s)) {
        if (QStringLiteral("\\;:,").contains(c))
            out += QLatin1Char('\\');
        out += c;
    }
    return out;
}

// The pieces of s between unescaped separators, still escaped.
QStringList splitUnescaped(const QString& s, QChar separator) {
    QStringList parts;
    QString part;
    for (int i = 0; i < s.size(); ++i) {
        if (s[i] == QLatin1Char('\\') && i + 1 < s.size()) {
            part += s[i];
            part += s[++i];
        } else if (s[i] == separator) {
            parts << part;
            part.clear();
        } else {
            part += s[i];
        }
    }
    parts << part;
    return parts;
}

QString unescape(const QString& s) {
    QString out;
    for (int i = 0; i < s.size(); ++i) {
        if (s[i] == QLatin1Char('\\') && i + 1 < s.size()) {
            const QChar next = s[++i];
            out += next == QLatin1Char('n') || next == QLatin1Char('N') ? QChar(QLatin1Char('\n'))
                                                                        : next;
        } else {
            out += s[i];
        }
    }
    return out;
}

QString joinedName(const QString& family, const QString& given) {
    if (hasHan(family) || hasHan(given))
        return family + given;
    return (given + QLatin1Char(' ') + family).trimmed();
}

// The Chinese way to split a name: the first character is the surname; a Latin name's
// last word is.
void splitName(const QString& name, QString* family, QString* given) {
    const QString n = name.trimmed();
    const int space = int(n.lastIndexOf(QLatin1Char(' ')));
    if (hasHan(n)) {
        const int first = n.size() > 1 && n[0].isHighSurrogate() ? 2 : 1; // an emoji is one
        *family = n.left(first);
        *given = n.mid(first);
    } else if (space < 0) {
        *family = n;
        given->clear();
    } else {
        *family = n.mid(space + 1);
        *given = n.left(space).trimmed();
    }
}

// Several numbers of one kind go into one column, as recognition writes them.
void add(Card* card, QList<int>* columns, int column, const QString& value) {
    if (value.isEmpty())
        return;
    QString& v = card->values[size_t(column)];
    v = v.isEmpty() ? value : v + QStringLiteral(", ") + value;
    if (!columns->contains(column))
        columns->append(column);
}

QByteArray quotedPrintableDecoded(const QByteArray& s) {
    QByteArray out;
    for (int i = 0; i < s.size(); ++i) {
        if (s[i] == '=' && i + 2 < s.size() && QByteArray::fromHex(s.mid(i + 1, 2)).size() == 1) {
            out += QByteArray::fromHex(s.mid(i + 1, 2));
            i += 2;
        } else {
            out += s[i];
        }
    }
    return out;
}

// Content lines, unfolded; quoted-printable soft breaks joined.
QList<QByteArray> contentLines(const QByteArray& text) {
    QByteArray t = text;
    t.replace("\r\n", "\n");
    QList<QByteArray> lines;
    for (const QByteArray& raw : t.split('\n')) {
        if ((raw.startsWith(' ') || raw.startsWith('\t')) && !lines.isEmpty())
            lines.last() += raw.mid(1);
        else if (!lines.isEmpty() && lines.last().endsWith('=') &&
                 lines.last().toUpper().contains("QUOTED-PRINTABLE"))
            lines.last() = lines.last().chopped(1) + raw;
        else
            lines << raw;
    }
    return lines;
}

bool decodeVCard(const QByteArray& text, Card* card, QList<int>* columns) {
    QString family, given;
    bool named = false, inside = false;
    for (const QByteArray& line : contentLines(text)) {
        const int colon = int(line.indexOf(':'));
        if (colon < 0)
            continue;
        QList<QByteArray> params = line.left(colon).toUpper().split(';');
        QByteArray name = params.takeFirst();
        name = name.mid(name.lastIndexOf('.') + 1); // "item1.TEL": the group says nothing
        const QByteArray allParams = params.join(';');
        QByteArray raw = line.mid(colon + 1);
        if (allParams.contains("QUOTED-PRINTABLE"))
            raw = quotedPrintableDecoded(raw);
        const QString value = QString::fromUtf8(raw);
        if (name == "BEGIN") {
            inside = value.trimmed().compare(QLatin1String("VCARD"), Qt::CaseInsensitive) == 0;
            continue;
        }
        if (!inside)
            continue;
        if (name == "END")
            break;
        const QStringList parts = splitUnescaped(value, QLatin1Char(';'));
        const QString whole = unescape(value);
        if (name == "FN") {
            add(card, columns, col("姓名"), whole);
            named = named || !whole.isEmpty();
        } else if (name == "N") {
            family = unescape(parts.value(0));
            given = unescape(parts.value(1));
        } else if (name == "ORG") {
            add(card, columns, col("单位"), unescape(parts.value(0)));
            add(card, columns, col("部门"), unescape(parts.mid(1).join(QLatin1Char(';'))));
        } else if (name == "TITLE") {
            add(card, columns, col("职务"), whole);
        } else if (name == "TEL") {
            const int column = allParams.contains("FAX")    ? col("传真")
                               : allParams.contains("CELL") ? col("手机")
                               : allParams.contains("HOME") ? col("家庭电话")
                                                            : col("工作电话");
            add(card, columns, column, whole);
        } else if (name == "EMAIL") {
            add(card, columns, col("E-mail"), whole);
        } else if (name == "URL") {
            add(card, columns, col("主页"), whole);
        } else if (name == "ADR") {
            const bool home = allParams.contains("HOME");
            QStringList lines; // street first, as the card prints it
            for (int i : {1, 2, 3, 4, 6, 0}) {
                const QString p = unescape(parts.value(i));
                if (!p.isEmpty())
                    lines << p;
            }
            add(card, columns, home ? col("家庭地址") : col("工作地址"),
                lines.join(QStringLiteral(", ")));
            add(card, columns, home ? col("家庭邮编") : col("工作邮编"), unescape(parts.value(5)));
        } else if (name == "NOTE") {
            add(card, columns, col("备注"), whole);
        }
    }
    if (!named)
        add(card, columns, col("姓名"), joinedName(family, given));
    return inside || !columns->isEmpty();
}

bool decodeMeCard(const QString& text, Card* card, QList<int>* columns) {
    for (const QString& item : splitUnescaped(text.mid(7), QLatin1Char(';'))) {
        const int colon = int(item.indexOf(QLatin1Char(':')));
        if (colon < 0)
            continue;
        const QString key = item.left(colon).trimmed().toUpper();
        const QString raw = item.mid(colon + 1);
        const QString value = unescape(raw);
        if (key == QLatin1String("N")) {
            const QStringList parts = splitUnescaped(raw, QLatin1Char(','));
            add(card, columns, col("姓名"),
                parts.size() == 2 ? joinedName(unescape(parts[0]), unescape(parts[1])) : value);
        } else if (key == QLatin1String("ORG")) {
            add(card, columns, col("单位"), value);
        } else if (key == QLatin1String("TITLE")) {
            add(card, columns, col("职务"), value);
        } else if (key == QLatin1String("TEL")) {
            const bool mobile = isMobile(value) && card->values[size_t(col("手机"))].isEmpty();
            add(card, columns, mobile ? col("手机") : col("工作电话"), value);
        } else if (key == QLatin1String("EMAIL")) {
            add(card, columns, col("E-mail"), value);
        } else if (key == QLatin1String("URL")) {
            add(card, columns, col("主页"), value);
        } else if (key == QLatin1String("ADR")) {
            // The old form's seven parts: PO box, room, house, city, prefecture, postcode,
            // country; ours is one escaped piece.
            const QStringList parts = splitUnescaped(raw, QLatin1Char(','));
            if (parts.size() == 7) {
                QStringList lines;
                for (int i : {0, 1, 2, 3, 4, 6}) {
                    if (!unescape(parts[i]).isEmpty())
                        lines << unescape(parts[i]);
                }
                add(card, columns, col("工作地址"), lines.join(QStringLiteral(", ")));
                add(card, columns, col("工作邮编"), unescape(parts[5]));
            } else {
                add(card, columns, col("工作地址"), value);
            }
        } else if (key == QLatin1String("NOTE")) {
            add(card, columns, col("备注"), value);
        }
    }
    return !columns->isEmpty();
}

} // namespace

QList<int> carriedColumns() {
    QList<int> columns;
    for (const char* name : {"姓名", "单位", "部门", "职务", "工作电话", "手机", "家庭电话", "传真",
                             "E-mail", "主页", "工作地址", "工作邮编"})
        columns << col(name);
    std::sort(columns.begin(), columns.end());
    return columns;
}

QList<int> droppingOrder() {
    QList<int> columns;
    // The longest and least needed first; a postcode is too short to gain much.
    for (const char* name : {"工作地址", "主页", "职务", "部门", "传真", "家庭电话", "E-mail",
                             "工作邮编", "工作电话", "单位"})
        columns << col(name);
    return columns;
}

QList<int> notCarried(Format format) {
    if (format == Format::VCard)
        return {};
    return {col("部门"), col("家庭电话"), col("传真"), col("工作邮编")};
}

QByteArray encode(const Card& card, Format format, const QList<int>& leaveOut) {
    auto value = [&](const char* name) {
        const int c = col(name);
        return leaveOut.contains(c) ? QString() : card.values[size_t(c)];
    };
    QString out;
    if (format == Format::MeCard) {
        out = QStringLiteral("MECARD:");
        auto item = [&](const char* key, const QString& v) {
            if (!v.isEmpty())
                out += QLatin1String(key) + QLatin1Char(':') + escapeMeCard(v) + QLatin1Char(';');
        };
        item("N", value("姓名"));
        item("ORG", value("单位"));
        item("TITLE", value("职务"));
        // The mobile first: a reader without types takes the first number for the main one.
        item("TEL", value("手机"));
        item("TEL", value("工作电话"));
        item("EMAIL", value("E-mail"));
        item("URL", value("主页"));
        item("ADR", value("工作地址"));
        out += QLatin1Char(';');
        return out.toUtf8();
    }
    auto line = [&](const char* head, const QStringList& parts) {
        QStringList escaped;
        for (const QString& p : parts)
            escaped << escapeVCard(p);
        out += QLatin1String(head) + QLatin1Char(':') + escaped.join(QLatin1Char(';')) +
               QLatin1String("\r\n");
    };
    auto single = [&](const char* head, const char* name) {
        if (!value(name).isEmpty())
            line(head, {value(name)});
    };
    out = QStringLiteral("BEGIN:VCARD\r\nVERSION:3.0\r\n");
    QString family, given;
    splitName(value("姓名"), &family, &given);
    line("N", {family, given, QString(), QString(), QString()});
    line("FN", {value("姓名")});
    if (!value("部门").isEmpty())
        line("ORG", {value("单位"), value("部门")});
    else
        single("ORG", "单位");
    single("TITLE", "职务");
    single("TEL;TYPE=WORK,VOICE", "工作电话");
    single("TEL;TYPE=CELL", "手机");
    single("TEL;TYPE=HOME,VOICE", "家庭电话");
    single("TEL;TYPE=WORK,FAX", "传真");
    single("EMAIL;TYPE=INTERNET", "E-mail");
    single("URL", "主页");
    if (!value("工作地址").isEmpty() || !value("工作邮编").isEmpty())
        line("ADR;TYPE=WORK", {QString(), QString(), value("工作地址"), QString(), QString(),
                               value("工作邮编"), QString()});
    out += QLatin1String("END:VCARD\r\n");
    return out.toUtf8();
}

bool decode(const QByteArray& text, Card* card, QList<int>* columns) {
    QList<int> given;
    *card = Card();
    const QString s = QString::fromUtf8(text).trimmed();
    bool ok = false;
    if (s.startsWith(QLatin1String("MECARD:"), Qt::CaseInsensitive))
        ok = decodeMeCard(s, card, &given);
    else if (s.startsWith(QLatin1String("BEGIN:VCARD"), Qt::CaseInsensitive))
        ok = decodeVCard(text.trimmed(), card, &given);
    std::sort(given.begin(), given.end());
    if (columns)
        *columns = given;
    return ok;
}

} // namespace Recognize::QrText
