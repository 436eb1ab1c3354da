#include "cardmerge.h"

#include "exchange/assemble.h"
#include "exchange/cardfilereader.h"
#include "exchange/vcard.h"
#include "exchange/vcardline.h"

#include <QBuffer>
#include <QJsonArray>
#include <QJsonDocument>

namespace Sync {

using namespace Exchange;

namespace {

// One unfolded content line of a vCard.
struct Line {
    QByteArray text;
    QByteArray name;   // upper case, without its group
    QByteArray params; // upper case
    QByteArray value;
};

QVector<Line> linesOf(const QByteArray& vcard) {
    QByteArray text = vcard;
    text.replace("\r\n", "\n");
    text.replace("\n ", "");
    text.replace("\n\t", "");
    QVector<Line> lines;
    for (const QByteArray& raw : text.split('\n')) {
        if (raw.trimmed().isEmpty())
            continue;
        Line line;
        line.text = raw;
        int colon = -1;
        bool quoted = false;
        for (int i = 0; i < raw.size() && colon < 0; ++i) {
            if (raw[i] == '"')
                quoted = !quoted;
            else if (raw[i] == ':' && !quoted)
                colon = i;
        }
        const QByteArray head = colon < 0 ? raw : raw.left(colon);
        line.value = colon < 0 ? QByteArray() : raw.mid(colon + 1);
        const int semicolon = head.indexOf(';');
        QByteArray name = semicolon < 0 ? head : head.left(semicolon);
        const int dot = name.indexOf('.');
        line.name = (dot < 0 ? name : name.mid(dot + 1)).toUpper();
        line.params = semicolon < 0 ? QByteArray() : head.mid(semicolon).toUpper();
        lines.append(line);
    }
    return lines;
}

QString unescaped(const QByteArray& value) {
    const QString text = QString::fromUtf8(value);
    QString out;
    for (int i = 0; i < text.size(); ++i) {
        if (text[i] == QLatin1Char('\\') && i + 1 < text.size()) {
            ++i;
            out +=
                text[i] == QLatin1Char('n') || text[i] == QLatin1Char('N') ? QChar('\n') : text[i];
        } else {
            out += text[i];
        }
    }
    return out;
}

// How the properties of a column are found in the server's copy.
enum class Match { ByName, ByValue, WorkAddress, HomeAddress };

struct ColumnProperty {
    QByteArray name;
    Match match;
};

ColumnProperty propertyOf(Field column) {
    switch (column) {
    case Field::Name:
        return {"FN", Match::ByName}; // N goes with it
    case Field::Company:
    case Field::Department:
        return {"ORG", Match::ByName};
    case Field::Position:
        return {"TITLE", Match::ByName};
    case Field::Title:
        return {"ROLE", Match::ByName};
    case Field::Birthday:
        return {"BDAY", Match::ByName};
    case Field::Major:
        return {"X-QUEMBE-MAJOR", Match::ByName};
    case Field::Education:
        return {"X-QUEMBE-EDUCATION", Match::ByName};
    case Field::School:
        return {"X-QUEMBE-SCHOOL", Match::ByName};
    case Field::GraduationDate:
        return {"X-QUEMBE-GRADUATION", Match::ByName};
    case Field::Extension:
        return {"X-QUEMBE-EXTENSION", Match::ByName};
    case Field::WorkPhone:
    case Field::Mobile:
    case Field::HomePhone:
    case Field::Fax:
        return {"TEL", Match::ByValue};
    case Field::Oicq:
        return {"X-QQ", Match::ByName};
    case Field::Msn:
        return {"X-MSN", Match::ByName};
    case Field::Email:
        return {"EMAIL", Match::ByValue};
    case Field::Homepage:
        return {"URL", Match::ByValue};
    case Field::WorkAddress:
    case Field::WorkPostcode:
        return {"ADR", Match::WorkAddress};
    case Field::HomeAddress:
    case Field::HomePostcode:
        return {"ADR", Match::HomeAddress};
    default:
        return {"NOTE", Match::ByName};
    }
}

// The lines our own writer makes for one column of `card` (both columns of an address).
QVector<Line> freshLines(const Card& card, Field column, int version) {
    Card only;
    only[Field::Name] = card[Field::Name];
    only[column] = card[column];
    const ColumnProperty p = propertyOf(column);
    if (p.match == Match::WorkAddress) {
        only[Field::WorkAddress] = card[Field::WorkAddress];
        only[Field::WorkPostcode] = card[Field::WorkPostcode];
    } else if (p.match == Match::HomeAddress) {
        only[Field::HomeAddress] = card[Field::HomeAddress];
        only[Field::HomePostcode] = card[Field::HomePostcode];
    } else if (p.name == "ORG") {
        only[Field::Company] = card[Field::Company];
        only[Field::Department] = card[Field::Department];
    }
    QByteArray text;
    VCardEncoder(version).encode(only, QString(), &text);
    QVector<Line> lines;
    for (const Line& line : linesOf(text)) {
        if (line.name == p.name || (column == Field::Name && line.name == "N"))
            lines.append(line);
    }
    return lines;
}

bool matches(const Line& line, Field column, const Card& synced) {
    const ColumnProperty p = propertyOf(column);
    if (line.name != p.name && !(column == Field::Name && line.name == "N"))
        return false;
    switch (p.match) {
    case Match::ByName:
        return true;
    case Match::ByValue: {
        const QString old = synced[column];
        const QString value = unescaped(line.value);
        if (p.name == "TEL")
            return !digitsOf(old).isEmpty() && digitsOf(old) == digitsOf(value);
        return !old.isEmpty() && value.compare(old, Qt::CaseInsensitive) == 0;
    }
    case Match::WorkAddress:
        return line.params.contains("WORK") || !line.params.contains("HOME");
    case Match::HomeAddress:
        return line.params.contains("HOME");
    }
    return false;
}

// The lines of the notes the reader adds from properties it has no column for ("label:
// value" after the note itself): they stay in their own properties on the server.
QString addedNotes(const QByteArray& serverCopy, const QString& readNotes) {
    QByteArray noteOnly = "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:x\r\n";
    for (const Line& line : linesOf(serverCopy)) {
        if (line.name == "NOTE")
            noteOnly += line.text + "\r\n";
    }
    noteOnly += "END:VCARD\r\n";
    Card card;
    QString uid;
    if (!readCard(noteOnly, &card, &uid))
        return QString();
    const QString own = card[Field::Notes];
    return readNotes.startsWith(own) ? readNotes.mid(own.size()) : QString();
}

} // namespace

bool readCard(const QByteArray& vcard, Card* card, QString* uid) {
    QByteArray bytes = vcard;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    CardFileReader reader(&buffer, QStringLiteral("card.vcf"));
    *card = Card();
    if (!reader.next(card))
        return false;
    *uid = reader.uid();
    return true;
}

Card mergeCards(const Card* base, const Card& mine, const Card& theirs,
                QVector<FieldConflict>* conflicts) {
    Card merged = mine;
    for (Field f : kFields) {
        const QString& m = mine[f];
        const QString& t = theirs[f];
        if (m == t)
            continue;
        if (base) {
            const QString& b = (*base)[f];
            if (m == b)
                merged[f] = t;
            else if (t != b)
                conflicts->append({f, m, t});
        } else if (m.isEmpty()) {
            merged[f] = t;
        } else if (!t.isEmpty()) {
            conflicts->append({f, m, t});
        }
    }
    return merged;
}

QByteArray cardText(const QByteArray& serverCopy, const Card& synced, const Card& now,
                    const QString& uid) {
    if (serverCopy.isEmpty()) {
        QByteArray out;
        VCardEncoder(30).encode(now, uid, &out);
        return out;
    }
    QVector<Line> lines = linesOf(serverCopy);
    int version = 30;
    for (const Line& line : lines) {
        if (line.name == "VERSION" && line.value.trimmed() == "4.0")
            version = 40;
    }
    Card wanted = now;
    if (wanted[Field::Notes] != synced[Field::Notes]) {
        const QString added = addedNotes(serverCopy, synced[Field::Notes]);
        if (!added.isEmpty() && wanted[Field::Notes].endsWith(added))
            wanted[Field::Notes].chop(added.size());
    }
    QSet<QByteArray> doneGroups;
    for (Field column : kFields) {
        if (now[column] == synced[column])
            continue;
        const ColumnProperty p = propertyOf(column);
        // One pass for the columns that share a property line.
        const QByteArray group = p.match == Match::ByValue
                                     ? p.name + QByteArray::number(indexOf(column))
                                     : p.name + char('0' + int(p.match));
        if (doneGroups.contains(group))
            continue;
        doneGroups.insert(group);
        int at = -1;
        for (int i = lines.size() - 1; i >= 0; --i) {
            if (matches(lines[i], column, synced)) {
                at = i;
                lines.remove(i);
                if (p.match != Match::ByName)
                    break;
            }
        }
        if (at < 0) {
            at = lines.size();
            while (at > 0 && lines[at - 1].name == "END")
                --at;
        }
        const QVector<Line> fresh = freshLines(wanted, column, version);
        for (int i = 0; i < fresh.size(); ++i)
            lines.insert(at + i, fresh[i]);
    }
    QByteArray out;
    for (const Line& line : lines)
        Exchange::VCardSyntax::appendFolded(&out, line.text);
    return out;
}

QString fieldsText(const Card& card) {
    QJsonArray array;
    for (const QString& value : card.values)
        array.append(value);
    return QString::fromUtf8(QJsonDocument(array).toJson(QJsonDocument::Compact));
}

Card cardFromFields(const QString& text) {
    Card card;
    const QJsonArray array = QJsonDocument::fromJson(text.toUtf8()).array();
    for (int i = 0; i < int(card.values.size()) && i < array.size(); ++i)
        card.values[i] = array.at(i).toString();
    return card;
}

QString digitsOf(const QString& text) {
    QString out;
    for (const QChar c : text)
        if (c.isDigit())
            out += c;
    return out;
}

} // namespace Sync
