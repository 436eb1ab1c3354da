#include "normalize.h"

#include "core/card.h"
#include "core/module.h"
#include "phonemodule.h"
#include "quickfind/spelling.h"

#include <unicode/translit.h>
#include <unicode/unistr.h>

#include <QHash>
#include <QRegularExpression>
#include <QSet>

#include <algorithm>
#include <memory>
#include <unordered_map>
#include <vector>

namespace Duplicates {

namespace {

// libphonenumber's reading, from the module that holds it.
bool parsePhone(const QString& text, const QString& extension, Phone* phone) {
    static const auto parse = reinterpret_cast<QuembeParsePhone>(Core::moduleFunction(
        "quembe-phone.so", QUEMBE_PARSE_PHONE, QUEMBE_MODULE_DIR, QUEMBE_PHONE_MODULE));
    char key[256];
    bool mobile = false;
    if (!parse(text.toStdString().c_str(), extension.toStdString().c_str(), key, sizeof key,
               &mobile))
        return false;
    phone->key = key;
    phone->mobile = mobile;
    return true;
}

// One code point at a time through ICU's transform, remembered: a name has a few characters
// and a million cards share a few thousand, while the transform of a whole text costs tens
// of microseconds. Nothing below the CJK blocks changes, so most texts come back as they are.
constexpr char32_t kFirstChanged = 0x2e80;

QString transformed(char32_t c) {
    thread_local std::unique_ptr<icu::Transliterator> transform;
    thread_local bool made = false;
    if (!made) {
        made = true;
        UErrorCode status = U_ZERO_ERROR;
        transform.reset(
            icu::Transliterator::createInstance("Traditional-Simplified", UTRANS_FORWARD, status));
        if (U_FAILURE(status))
            transform.reset();
    }
    icu::UnicodeString u{UChar32(c)};
    if (transform)
        transform->transliterate(u);
    return QString(reinterpret_cast<const QChar*>(u.getBuffer()), u.length());
}

QString simplified(const QString& text) {
    qsizetype first = 0;
    while (first < text.size() && text.at(first).unicode() < kFirstChanged)
        ++first;
    if (first == text.size())
        return text;
    // Characters of the basic plane in a table, the rest in a map.
    thread_local std::vector<QString> plane(0x10000 - kFirstChanged);
    thread_local std::vector<bool> known(0x10000 - kFirstChanged, false);
    thread_local std::unordered_map<char32_t, QString> beyond;
    QString out;
    out.reserve(text.size());
    out.append(QStringView(text).left(first));
    for (qsizetype i = first; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c.unicode() < kFirstChanged) {
            out.append(c);
        } else if (!c.isSurrogate()) {
            const std::size_t at = c.unicode() - kFirstChanged;
            if (!known[at]) {
                plane[at] = transformed(c.unicode());
                known[at] = true;
            }
            out.append(plane[at]);
        } else if (c.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) {
            const char32_t u = QChar::surrogateToUcs4(c, text.at(++i));
            auto it = beyond.find(u);
            if (it == beyond.end())
                it = beyond.emplace(u, transformed(u)).first;
            out.append(it->second);
        } else {
            out.append(c);
        }
    }
    return out;
}

// NFKC with case folded; plain ASCII, most of what is compared, only needs lower case.
QString normalized(const QString& text) {
    // The unified ideographs are their own NFKC and case fold too: ICU only for the rest.
    for (QChar c : text)
        if (c.unicode() >= 0x80 && (c.unicode() < 0x4e00 || c.unicode() > 0x9fff))
            return QuickFind::normalized(text);
    return text.toLower();
}

bool hasHan(const QString& text) {
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c.unicode() < kFirstChanged)
            continue; // no Han below the CJK blocks
        char32_t u = c.unicode();
        if (c.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate())
            u = QChar::surrogateToUcs4(c, text.at(++i));
        if (QuickFind::isHan(u))
            return true;
    }
    return false;
}

bool blank(const QString& text) {
    return std::all_of(text.begin(), text.end(), [](QChar c) { return c.isSpace(); });
}

// The words of a text, split at anything that is not a letter or a digit.
// The character at `i` (one or two code units, its length in `length`) is a letter or a
// digit: the rare ideographs beyond the basic plane, which some names have, are letters too.
bool letterOrNumberAt(const QString& text, qsizetype i, qsizetype* length) {
    const QChar c = text.at(i);
    if (c.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) {
        *length = 2;
        return QChar::isLetterOrNumber(QChar::surrogateToUcs4(c, text.at(i + 1)));
    }
    *length = 1;
    return c.isLetterOrNumber();
}

QStringList words(const QString& text) {
    QStringList out;
    QString word;
    qsizetype length = 1;
    for (qsizetype i = 0; i < text.size(); i += length) {
        if (letterOrNumberAt(text, i, &length)) {
            word += QStringView(text).mid(i, length);
        } else if (!word.isEmpty()) {
            out << word;
            word.clear();
        }
    }
    if (!word.isEmpty())
        out << word;
    return out;
}

bool isDigits(const std::string& s, std::size_t from) {
    if (from >= s.size())
        return false;
    return std::all_of(s.begin() + long(from), s.end(),
                       [](char c) { return c >= '0' && c <= '9'; });
}

// The common shapes of a Chinese number without libphonenumber's regular expressions, which
// take microseconds a number: a mobile, or a landline with its trunk 0. The keys are the
// ones libphonenumber gives for the same numbers.
bool quickPhone(const std::string& compact, Phone* out) {
    std::string national;
    if (compact.rfind("+86", 0) == 0)
        national = compact.substr(3);
    else if (compact.rfind("0086", 0) == 0)
        national = compact.substr(4);
    else if (compact.rfind("0", 0) == 0 && compact.size() >= 11 && compact.size() <= 12)
        national = compact.substr(1);
    else if (compact.size() == 11 && compact[0] == '1')
        national = compact;
    else
        return false;
    if (!isDigits(national, 0))
        return false;
    if (national.size() == 11 && national[0] == '1' && national[1] >= '3') {
        *out = {"+86" + national, true};
        return true;
    }
    // Beijing's 10 is the one area code that starts with 1.
    const bool beijing = national.size() == 10 && national.rfind("10", 0) == 0;
    if ((beijing || (national[0] != '0' && national[0] != '1')) && national.size() >= 10 &&
        national.size() <= 11) {
        *out = {"+86" + national, false};
        return true;
    }
    return false;
}

void addPhone(QString text, const QString& extension, std::vector<Phone>& out) {
    text = normalized(text).trimmed();
    if (text.isEmpty())
        return;
    std::string compact;
    bool plain = true;
    for (QChar c : text) {
        if (c == QLatin1Char(' ') || c == QLatin1Char('-') || c == QLatin1Char('(') ||
            c == QLatin1Char(')') || c == QLatin1Char('.'))
            continue;
        if (!(c.isDigit() || (c == QLatin1Char('+') && compact.empty())) || c.unicode() > 127) {
            plain = false;
            break;
        }
        compact += char(c.unicode());
    }
    const QString ext = normalized(extension).remove(QLatin1Char(' '));
    Phone phone;
    if (plain && quickPhone(compact, &phone)) {
        if (!ext.isEmpty()) {
            phone.key += ';' + ext.toStdString();
            phone.mobile = false;
        }
        out.push_back(phone);
        return;
    }
    // What people write for an extension, in the form libphonenumber reads.
    for (const char* mark : {"分机号", "分机", "分機", "转", "轉"})
        text.replace(QString::fromUtf8(mark), QStringLiteral(" ext. "));
    if (!parsePhone(text, ext, &phone)) {
        // Not a number libphonenumber knows: its digits, when there are enough to mean one.
        QString digits;
        for (QChar c : text)
            if (c.isDigit())
                digits += c;
        if (digits.size() >= 7)
            out.push_back({"?" + digits.toStdString(), false});
        return;
    }
    out.push_back(phone);
}

// The endings that only say what kind of company it is, longest first.
const char* const kCompanyEndings[] = {"股份有限公司", "有限责任公司", "有限公司", "集团公司",
                                       "总公司",       "分公司",       "集团",     "公司"};
const QSet<QString>& latinEndings() {
    static const QSet<QString> set = {
        QStringLiteral("co"),      QStringLiteral("ltd"),         QStringLiteral("inc"),
        QStringLiteral("corp"),    QStringLiteral("llc"),         QStringLiteral("company"),
        QStringLiteral("limited"), QStringLiteral("corporation"), QStringLiteral("incorporated"),
        QStringLiteral("gmbh"),    QStringLiteral("plc")};
    return set;
}

// A name's whole spellings: those of every syllable on, less those of the second on.
QStringList spelledWhole(const QString& key) {
    if (!hasHan(key)) {
        QStringList parts = key.split(QLatin1Char(' '), Qt::SkipEmptyParts);
        if (parts.size() > 3)
            return {parts.join(QString())};
        QStringList out;
        std::sort(parts.begin(), parts.end());
        do
            out << parts.join(QString());
        while (std::next_permutation(parts.begin(), parts.end()));
        return out;
    }
    QStringList all = QuickFind::nameSpellings(key).pinyin;
    const QStringList rest = QuickFind::nameSpellings(key.mid(1)).pinyin;
    for (const QString& s : rest)
        all.removeAll(s);
    return all;
}

// Remembered: the search of a whole file asks again and again for the same names, and
// spelling one takes ICU's transform.
const QStringList& wholeSpellings(const QString& key) {
    thread_local QHash<QString, QStringList> known;
    auto it = known.constFind(key);
    if (it != known.constEnd())
        return *it;
    if (known.size() > 50000)
        known.clear();
    return *known.insert(key, spelledWhole(key));
}

} // namespace

std::vector<Phone> phones(const QString& text, const QString& extension) {
    std::vector<Phone> out;
    if (blank(text))
        return out;
    thread_local const QRegularExpression separators(QStringLiteral("[/,;、，；]|\\s{2,}"));
    // The regular expression only for a text that may hold a separator.
    bool mayHoldMore = false;
    for (qsizetype i = 0; i < text.size() && !mayHoldMore; ++i) {
        const char16_t c = text.at(i).unicode();
        mayHoldMore = c == u'/' || c == u',' || c == u';' || c == u'、' || c == u'，' ||
                      c == u'；' ||
                      (text.at(i).isSpace() && i + 1 < text.size() && text.at(i + 1).isSpace());
    }
    if (!mayHoldMore) {
        addPhone(text, extension, out);
        return out;
    }
    for (const QString& part : text.split(separators, Qt::SkipEmptyParts))
        addPhone(part, extension, out);
    return out;
}

QStringList emails(const QString& text) {
    QStringList out;
    if (!text.contains(QLatin1Char('@')) && !text.contains(QChar(0xff20)))
        return out;
    const QString all = normalized(text);
    auto separates = [](QChar c) {
        return c.isSpace() || c == QLatin1Char(',') || c == QLatin1Char(';') ||
               c == QChar(0xff0c) || c == QChar(0xff1b) || c == QChar(0x3001) ||
               c == QLatin1Char('<') || c == QLatin1Char('>');
    };
    for (qsizetype i = 0; i < all.size();) {
        while (i < all.size() && separates(all.at(i)))
            ++i;
        qsizetype end = i;
        while (end < all.size() && !separates(all.at(end)))
            ++end;
        QStringView part = QStringView(all).mid(i, end - i);
        i = end;
        if (part.startsWith(QLatin1String("mailto:")))
            part = part.mid(7);
        if (part.contains(QLatin1Char('@')) && !out.contains(part))
            out << part.toString();
    }
    return out;
}

QString folded(const QString& text) {
    return simplified(normalized(text));
}

QString nameKey(const QString& name) {
    const QString f = folded(name);
    if (hasHan(f)) {
        QString out;
        qsizetype length = 1;
        for (qsizetype i = 0; i < f.size(); i += length)
            if (letterOrNumberAt(f, i, &length))
                out += QStringView(f).mid(i, length);
        return out;
    }
    QStringList parts = words(f);
    std::sort(parts.begin(), parts.end());
    return parts.join(QLatin1Char(' '));
}

QString companyKey(const QString& company) {
    QStringList parts = words(folded(company));
    while (parts.size() > 1 && latinEndings().contains(parts.last()))
        parts.removeLast();
    QString key = parts.join(QString());
    thread_local const QStringList endings = [] {
        QStringList list;
        for (const char* ending : kCompanyEndings)
            list << QString::fromUtf8(ending);
        return list;
    }();
    for (bool cut = true; cut;) {
        cut = false;
        for (const QString& e : endings) {
            if (key.size() > e.size() && key.endsWith(e)) {
                key.chop(e.size());
                cut = true;
            }
        }
    }
    return key;
}

bool namesClose(const QString& a, const QString& b) {
    if (a.isEmpty() || b.isEmpty())
        return false;
    if (a == b)
        return true;
    const bool hanA = hasHan(a);
    const bool hanB = hasHan(b);
    if (hanA && hanB && (a.contains(b) || b.contains(a)))
        return true;
    if (!hanA && !hanB) {
        const QStringList wa = a.split(QLatin1Char(' '));
        const QStringList wb = b.split(QLatin1Char(' '));
        const QStringList& shorter = wa.size() <= wb.size() ? wa : wb;
        const QStringList& longer = wa.size() <= wb.size() ? wb : wa;
        if (std::all_of(shorter.begin(), shorter.end(),
                        [&](const QString& w) { return longer.contains(w); }))
            return true;
    }
    const QStringList sa = wholeSpellings(a);
    const QStringList& sb = wholeSpellings(b);
    return std::any_of(sa.begin(), sa.end(), [&](const QString& s) { return sb.contains(s); });
}

namespace {

QString withoutBlanks(const QString& text) {
    QString out;
    out.reserve(text.size());
    for (QChar c : text)
        if (!c.isSpace())
            out += c;
    return out;
}

} // namespace

bool sameAfterFolding(const Card& a, const Card& b) {
    static const int name = indexOf(Field::Name);
    static const int company = indexOf(Field::Company);
    static const int email = indexOf(Field::Email);
    static const QVector<int> phoneColumns = {indexOf(Field::WorkPhone), indexOf(Field::Mobile),
                                              indexOf(Field::HomePhone), indexOf(Field::Fax)};
    auto phoneKeys = [](const QString& text) {
        std::vector<std::string> keys;
        for (const Phone& p : phones(text))
            keys.push_back(p.key);
        return keys;
    };
    for (int f = 0; f < int(a.values.size()); ++f) {
        const QString& x = a.values[std::size_t(f)];
        const QString& y = b.values[std::size_t(f)];
        if (x == y)
            continue;
        bool same;
        if (f == name)
            same = nameKey(x) == nameKey(y);
        else if (f == company)
            same = companyKey(x) == companyKey(y);
        else if (f == email)
            same = emails(x) == emails(y) && !emails(x).isEmpty();
        else if (phoneColumns.contains(f))
            same = phoneKeys(x) == phoneKeys(y) && !phoneKeys(x).empty();
        else
            same = false;
        if (!same && withoutBlanks(folded(x)) != withoutBlanks(folded(y)))
            return false;
    }
    return true;
}

quint64 foldedHash(const Card& card) {
    static const int name = Card::indexOf(QStringLiteral("姓名"));
    static const int company = Card::indexOf(QStringLiteral("单位"));
    static const int email = Card::indexOf(QStringLiteral("E-mail"));
    static const QVector<int> phoneColumns = {
        Card::indexOf(QStringLiteral("工作电话")), Card::indexOf(QStringLiteral("手机")),
        Card::indexOf(QStringLiteral("家庭电话")), Card::indexOf(QStringLiteral("传真"))};
    size_t h = 0;
    for (int f = 0; f < int(card.values.size()); ++f) {
        const QString& v = card.values[std::size_t(f)];
        QString key;
        if (f == name) {
            key = nameKey(v);
        } else if (f == company) {
            key = companyKey(v);
        } else if (f == email) {
            key = emails(v).join(QLatin1Char(' '));
        } else if (phoneColumns.contains(f)) {
            // Digits only, as phones() would read them: "+86 10 6275 1234" is "010-62751234".
            for (QChar c : folded(v))
                if (c.isDigit())
                    key += c;
            if (key.startsWith(QLatin1String("0086")))
                key.remove(0, 4);
            else if (key.startsWith(QLatin1String("86")) && key.size() >= 12)
                key.remove(0, 2);
            while (key.startsWith(QLatin1Char('0')))
                key.remove(0, 1);
        } else {
            key = withoutBlanks(folded(v));
        }
        h = qHash(key, h) ^ (h << 1);
    }
    return h;
}

Profile profileOf(const Card& card) {
    static const int name = indexOf(Field::Name);
    static const int company = indexOf(Field::Company);
    static const int work = indexOf(Field::WorkPhone);
    static const int extension = indexOf(Field::Extension);
    static const int email = indexOf(Field::Email);
    static const int others[] = {indexOf(Field::Mobile), indexOf(Field::HomePhone),
                                 indexOf(Field::Fax)};
    Profile p;
    p.name = nameKey(card.values[std::size_t(name)]);
    p.company = companyKey(card.values[std::size_t(company)]);
    auto add = [&](const std::vector<Phone>& found) {
        for (const Phone& phone : found)
            if (std::none_of(p.phones.begin(), p.phones.end(),
                             [&](const Phone& q) { return q.key == phone.key; }))
                p.phones.push_back(phone);
    };
    add(phones(card.values[std::size_t(work)], card.values[std::size_t(extension)]));
    for (int column : others)
        add(phones(card.values[std::size_t(column)]));
    p.emails = emails(card.values[std::size_t(email)]);
    return p;
}

} // namespace Duplicates
