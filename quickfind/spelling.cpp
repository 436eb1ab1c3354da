#include "spelling.h"

#include <QHash>
#include <QMutex>
#include <QMutexLocker>

#include <unicode/brkiter.h>
#include <unicode/normalizer2.h>
#include <unicode/translit.h>
#include <unicode/unistr.h>

#include <algorithm>
#include <memory>

namespace QuickFind {

namespace {

// Readings a surname has beside (or instead of) the one the transliterator gives.
const QHash<QString, QStringList>& surnameReadings() {
    static const QHash<QString, QStringList> table = {
        {QStringLiteral("单"), {QStringLiteral("shan")}},
        {QStringLiteral("曾"), {QStringLiteral("zeng")}},
        {QStringLiteral("区"), {QStringLiteral("ou")}},
        {QStringLiteral("解"), {QStringLiteral("xie")}},
        {QStringLiteral("仇"), {QStringLiteral("qiu")}},
        {QStringLiteral("查"), {QStringLiteral("zha")}},
        {QStringLiteral("朴"), {QStringLiteral("piao")}},
        {QStringLiteral("覃"), {QStringLiteral("qin")}},
        {QStringLiteral("盖"), {QStringLiteral("ge")}},
        {QStringLiteral("乐"), {QStringLiteral("yue")}},
        {QStringLiteral("缪"), {QStringLiteral("miao")}},
        {QStringLiteral("翟"), {QStringLiteral("zhai")}},
        {QStringLiteral("召"), {QStringLiteral("shao")}},
        {QStringLiteral("种"), {QStringLiteral("chong")}},
        {QStringLiteral("秘"), {QStringLiteral("bi")}},
        {QStringLiteral("隗"), {QStringLiteral("wei")}},
        {QStringLiteral("员"), {QStringLiteral("yun")}},
        {QStringLiteral("繁"), {QStringLiteral("po")}},
        {QStringLiteral("宿"), {QStringLiteral("su")}},
        {QStringLiteral("冼"), {QStringLiteral("xian")}},
        {QStringLiteral("洗"), {QStringLiteral("xian")}},
        {QStringLiteral("折"), {QStringLiteral("she")}},
        {QStringLiteral("蕃"), {QStringLiteral("pi")}},
        {QStringLiteral("句"), {QStringLiteral("gou")}},
        {QStringLiteral("纪"), {QStringLiteral("ji")}},
        {QStringLiteral("重"), {QStringLiteral("chong")}},
        {QStringLiteral("长"), {QStringLiteral("chang")}},
        {QStringLiteral("沈"), {QStringLiteral("shen")}},
        {QStringLiteral("华"), {QStringLiteral("hua")}},
        {QStringLiteral("柏"), {QStringLiteral("bai")}},
        {QStringLiteral("牟"), {QStringLiteral("mou")}},
        {QStringLiteral("能"), {QStringLiteral("nai")}},
        {QStringLiteral("燕"), {QStringLiteral("yan")}},
        {QStringLiteral("黑"), {QStringLiteral("he")}},
        {QStringLiteral("任"), {QStringLiteral("ren")}},
        {QStringLiteral("谌"), {QStringLiteral("chen")}},
        {QStringLiteral("褚"), {QStringLiteral("chu")}},
        {QStringLiteral("薄"), {QStringLiteral("bo")}},
        {QStringLiteral("藏"), {QStringLiteral("zang")}},
        {QStringLiteral("莘"), {QStringLiteral("shen")}},
        {QStringLiteral("贲"), {QStringLiteral("ben")}},
        {QStringLiteral("阚"), {QStringLiteral("kan")}},
        {QStringLiteral("那"), {QStringLiteral("na")}},
        {QStringLiteral("逄"), {QStringLiteral("pang")}},
        {QStringLiteral("过"), {QStringLiteral("guo")}},
        {QStringLiteral("殷"), {QStringLiteral("yin")}},
        {QStringLiteral("都"), {QStringLiteral("du")}},
        {QStringLiteral("叶"), {QStringLiteral("ye")}},
        {QStringLiteral("万"), {QStringLiteral("wan")}},
    };
    return table;
}

// Two-character surnames whose first syllables the characters alone would misspell or
// split; the rest read as the transliterator reads them.
const QHash<QString, QStringList>& compoundSurnames() {
    static const QHash<QString, QStringList> table = {
        {QStringLiteral("尉迟"), {QStringLiteral("yu"), QStringLiteral("chi")}},
        {QStringLiteral("万俟"), {QStringLiteral("mo"), QStringLiteral("qi")}},
        {QStringLiteral("单于"), {QStringLiteral("chan"), QStringLiteral("yu")}},
        {QStringLiteral("长孙"), {QStringLiteral("zhang"), QStringLiteral("sun")}},
        {QStringLiteral("澹台"), {QStringLiteral("tan"), QStringLiteral("tai")}},
        {QStringLiteral("令狐"), {QStringLiteral("ling"), QStringLiteral("hu")}},
        {QStringLiteral("乐正"), {QStringLiteral("yue"), QStringLiteral("zheng")}},
        {QStringLiteral("亓官"), {QStringLiteral("qi"), QStringLiteral("guan")}},
        {QStringLiteral("宰父"), {QStringLiteral("zai"), QStringLiteral("fu")}},
        {QStringLiteral("谷梁"), {QStringLiteral("gu"), QStringLiteral("liang")}},
    };
    return table;
}

// No more spellings of one name than this, however many readings its characters have.
constexpr int kMaxNameVariants = 8;

icu::UnicodeString aliasOf(const QString& s) {
    return icu::UnicodeString(false, reinterpret_cast<const UChar*>(s.utf16()), int32_t(s.size()));
}

QString fromIcu(const icu::UnicodeString& u) {
    return QString(reinterpret_cast<const QChar*>(u.getBuffer()), u.length());
}

// Tone marks off and lower case; "ü" is given as both "u" and "v" (as people type it).
QStringList plainLetters(const QString& latin, bool withV) {
    const QString nfd = latin.normalized(QString::NormalizationForm_D).toLower();
    QString u, v;
    bool umlaut = false;
    for (int i = 0; i < nfd.size(); ++i) {
        const QChar c = nfd.at(i);
        if (c.unicode() == 0x0308 && !u.isEmpty() && u.back() == QLatin1Char('u')) {
            umlaut = true;
            v.back() = QLatin1Char('v');
            continue;
        }
        if (c.category() == QChar::Mark_NonSpacing)
            continue;
        if (c.unicode() < 'a' || c.unicode() > 'z')
            return {};
        u += c;
        v += c;
    }
    if (u.isEmpty())
        return {};
    return umlaut && withV ? QStringList{u, v} : QStringList{u};
}

/// The ICU objects and what they have said, shared by every caller.
class Icu {
public:
    static Icu& instance() {
        static Icu icu;
        return icu;
    }

    QString normalized(const QString& text) {
        UErrorCode status = U_ZERO_ERROR;
        const icu::UnicodeString out = m_nfkcCf->normalize(aliasOf(text), status);
        return U_SUCCESS(status) ? fromIcu(out) : text;
    }

    /// Readings of one ideograph: its ordinary one, and for a surname also the surname's.
    QStringList readings(char32_t c, bool surname) {
        QMutexLocker lock(&m_mutex);
        QHash<char32_t, QStringList>& cache = surname ? m_surnameCache : m_plainCache;
        const auto it = cache.constFind(c);
        if (it != cache.constEnd())
            return *it;
        QStringList result = transliterate(m_plain.get(), c);
        if (surname) {
            QStringList own = transliterate(m_names.get(), c);
            own += surnameReadings().value(QString::fromUcs4(&c, 1));
            for (const QString& r : std::as_const(result))
                own << r;
            own.removeDuplicates();
            result = own;
        }
        cache.insert(c, result);
        return result;
    }

    /// The syllables of a run of ideographs read together, so that the transliterator's own
    /// word readings (重庆 chongqing) apply; one reading per ideograph, or empty.
    QStringList syllables(const QString& han) {
        QMutexLocker lock(&m_mutex);
        if (!m_plain)
            return {};
        const auto it = m_wordCache.constFind(han);
        if (it != m_wordCache.constEnd())
            return *it;
        icu::UnicodeString u(reinterpret_cast<const UChar*>(han.utf16()), int32_t(han.size()));
        m_plain->transliterate(u);
        const QString out = fromIcu(u);
        QStringList result;
        for (const QString& part : out.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
            const QStringList letters = plainLetters(part, false);
            if (letters.isEmpty()) {
                result.clear();
                break;
            }
            result << letters.first();
        }
        if (result.size() != int(han.toUcs4().size()))
            result.clear();
        if (m_wordCache.size() > 100000)
            m_wordCache.clear();
        m_wordCache.insert(han, result);
        return result;
    }

    /// The words of a text by ICU's dictionary break rules.
    QStringList words(const QString& text) {
        QMutexLocker lock(&m_mutex);
        QStringList result;
        if (!m_words)
            return {text};
        const icu::UnicodeString u = aliasOf(text);
        m_words->setText(u);
        int32_t start = m_words->first();
        for (int32_t end = m_words->next(); end != icu::BreakIterator::DONE;
             start = end, end = m_words->next())
            result << text.mid(start, end - start);
        return result;
    }

private:
    Icu() {
        UErrorCode status = U_ZERO_ERROR;
        m_nfkcCf = icu::Normalizer2::getNFKCCasefoldInstance(status);
        UParseError parse;
        status = U_ZERO_ERROR;
        m_plain.reset(
            icu::Transliterator::createInstance("Han-Latin", UTRANS_FORWARD, parse, status));
        status = U_ZERO_ERROR;
        m_names.reset(
            icu::Transliterator::createInstance("Han-Latin/Names", UTRANS_FORWARD, parse, status));
        status = U_ZERO_ERROR;
        m_words.reset(icu::BreakIterator::createWordInstance(icu::Locale("zh"), status));
        if (U_FAILURE(status))
            m_words.reset();
    }

    static QStringList transliterate(const icu::Transliterator* t, char32_t c) {
        if (!t)
            return {};
        icu::UnicodeString u{UChar32(c)};
        t->transliterate(u);
        return plainLetters(fromIcu(u).trimmed(), true);
    }

    QMutex m_mutex;
    const icu::Normalizer2* m_nfkcCf = nullptr;
    std::unique_ptr<icu::Transliterator> m_plain, m_names;
    std::unique_ptr<icu::BreakIterator> m_words;
    QHash<char32_t, QStringList> m_plainCache, m_surnameCache;
    QHash<QString, QStringList> m_wordCache;
};

bool isLetterOrDigit(char32_t c) {
    return QChar::isLetterOrNumber(c);
}

// A syllable as typed: one reading of an ideograph, or a run of other letters and digits.
using Syllables = QStringList;

// The strings of the syllables from `from` on: written together, and their initials.
void spellFrom(const Syllables& s, int from, Spellings& out) {
    QString whole, initials;
    for (int i = from; i < s.size(); ++i) {
        whole += s.at(i);
        initials += s.at(i).at(0);
    }
    if (!whole.isEmpty()) {
        out.pinyin << whole;
        out.initials << initials;
    }
}

// Words that say what kind of company it is, and that nobody looks a company up by.
bool isCommonWord(const QString& word) {
    static const QStringList words = {
        QStringLiteral("有限公司"),     QStringLiteral("有限责任公司"),
        QStringLiteral("股份有限公司"), QStringLiteral("有限"),
        QStringLiteral("责任"),         QStringLiteral("公司"),
        QStringLiteral("股份"),         QStringLiteral("集团"),
        QStringLiteral("分公司"),       QStringLiteral("总公司"),
        QStringLiteral("市"),           QStringLiteral("省"),
        QStringLiteral("县"),           QStringLiteral("区")};
    return words.contains(word);
}

// Splits normalized text into units: a single ideograph, or a run of other letters/digits.
QStringList units(const QString& text) {
    QStringList result;
    QString run;
    for (const char32_t c : text.toUcs4()) {
        if (isHan(c)) {
            if (!run.isEmpty())
                result << run;
            run.clear();
            result << QString::fromUcs4(&c, 1);
        } else if (isLetterOrDigit(c)) {
            run += QString::fromUcs4(&c, 1);
        } else if (!run.isEmpty()) {
            result << run;
            run.clear();
        }
    }
    if (!run.isEmpty())
        result << run;
    return result;
}

bool isHanUnit(const QString& unit) {
    return !unit.isEmpty() && isHan(unit.at(0).isHighSurrogate() && unit.size() > 1
                                        ? QChar::surrogateToUcs4(unit.at(0), unit.at(1))
                                        : unit.at(0).unicode());
}

char32_t firstCodePoint(const QString& s) {
    return s.at(0).isHighSurrogate() && s.size() > 1 ? QChar::surrogateToUcs4(s.at(0), s.at(1))
                                                     : s.at(0).unicode();
}

// Places and the like that the dictionary keeps with the name before them (北京市): split
// off, so that the name's initials stand on their own.
bool isTrailingPlace(const QString& word) {
    static const QString places = QStringLiteral("市省县区");
    return word.size() >= 3 && places.contains(word.back());
}

} // namespace

bool isHan(char32_t c) {
    return (c >= 0x4E00 && c <= 0x9FFF) || (c >= 0x3400 && c <= 0x4DBF) ||
           (c >= 0x20000 && c <= 0x323AF) || (c >= 0xF900 && c <= 0xFAFF);
}

QString normalized(const QString& text) {
    // Most text is plain ASCII and ideographs, which folding leaves as they are.
    bool lowerAscii = true;
    bool simple = true;
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u < 0x80) {
            if (u >= 'A' && u <= 'Z')
                lowerAscii = false;
        } else if (!((u >= 0x4E00 && u <= 0x9FFF) || (u >= 0x3400 && u <= 0x4DBF))) {
            simple = false;
            break;
        }
    }
    if (simple)
        return lowerAscii ? text : text.toLower();
    return Icu::instance().normalized(text);
}

void phoneDigitsUtf8(std::string_view text, std::vector<std::string>& out) {
    // Blanks and the marks people write between digit groups go; "+86" at the start goes.
    std::string kept;
    for (std::size_t i = 0; i < text.size();) {
        const unsigned char b = static_cast<unsigned char>(text[i]);
        if (b < 0x80) {
            if (b != ' ' && b != '-' && b != '(' && b != ')' && !(b >= 0x09 && b <= 0x0D))
                kept += char(b);
            ++i;
            continue;
        }
        int len = b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : 2;
        len = int(std::min<std::size_t>(std::size_t(len), text.size() - i));
        const QString c = QString::fromUtf8(text.data() + i, len);
        const char32_t u = c.isEmpty() ? 0 : c.toUcs4().value(0);
        if (!(QChar::isSpace(u) || (u >= 0x2010 && u <= 0x2015) || u == 0x2212))
            kept.append(text.data() + i, std::size_t(len));
        i += std::size_t(len);
    }
    std::string_view rest(kept);
    if (rest.substr(0, 3) == "+86")
        rest.remove_prefix(3);
    std::string run;
    for (const char c : rest) {
        if (c >= '0' && c <= '9') {
            run += c;
        } else if (!run.empty()) {
            out.push_back(run);
            run.clear();
        }
    }
    if (!run.empty())
        out.push_back(run);
}

QStringList phoneDigits(const QString& text) {
    std::vector<std::string> runs;
    phoneDigitsUtf8(normalized(text).toStdString(), runs);
    QStringList result;
    for (const std::string& r : runs)
        result << QString::fromStdString(r);
    return result;
}

Spellings nameSpellings(const QString& name) {
    Icu& icu = Icu::instance();
    const QStringList parts = units(normalized(name));
    // Each unit's readings; the variants are their combinations, first readings first.
    QList<QStringList> choices;
    for (int i = 0; i < parts.size(); ++i) {
        const QString& unit = parts.at(i);
        if (!isHanUnit(unit)) {
            choices << QStringList{unit};
            continue;
        }
        const QStringList r = icu.readings(firstCodePoint(unit), i == 0);
        if (!r.isEmpty())
            choices << r;
    }
    QList<Syllables> variants{Syllables()};
    for (const QStringList& options : std::as_const(choices)) {
        QList<Syllables> next;
        for (const Syllables& v : std::as_const(variants)) {
            for (const QString& o : options) {
                if (next.size() < kMaxNameVariants)
                    next << (Syllables(v) << o);
            }
        }
        variants = next;
    }
    if (parts.size() >= 2) {
        const auto compound = compoundSurnames().constFind(parts.at(0) + parts.at(1));
        if (compound != compoundSurnames().constEnd() && choices.size() == parts.size()) {
            Syllables v = *compound;
            for (int i = 2; i < choices.size(); ++i)
                v << choices.at(i).first();
            variants << v;
        }
    }
    Spellings out;
    for (const Syllables& v : std::as_const(variants)) {
        for (int i = 0; i < v.size(); ++i)
            spellFrom(v, i, out);
    }
    out.pinyin.removeDuplicates();
    out.initials.removeDuplicates();
    return out;
}

Spellings companySpellings(const QString& company) {
    Icu& icu = Icu::instance();
    const QString text = normalized(company);
    // The company's words, each as its syllables.
    QList<Syllables> words;
    QList<bool> common;
    for (const QString& word : icu.words(text)) {
        QStringList pieces{word};
        if (isTrailingPlace(word))
            pieces = QStringList{word.chopped(1), word.right(1)};
        for (const QString& piece : std::as_const(pieces)) {
            Syllables s;
            QString han;
            auto flushHan = [&] {
                if (han.isEmpty())
                    return;
                QStringList read = icu.syllables(han);
                if (read.isEmpty()) {
                    for (const char32_t c : han.toUcs4()) {
                        const QStringList r = icu.readings(c, false);
                        if (!r.isEmpty())
                            read << r.first();
                    }
                }
                s += read;
                han.clear();
            };
            for (const QString& unit : units(piece)) {
                if (isHanUnit(unit)) {
                    han += unit;
                } else {
                    flushHan();
                    s << unit;
                }
            }
            flushHan();
            if (!s.isEmpty()) {
                words << s;
                common << isCommonWord(piece);
            }
        }
    }
    Spellings out;
    Syllables all;
    QList<int> starts;
    for (const Syllables& w : std::as_const(words)) {
        starts << all.size();
        all += w;
    }
    for (int w = 0; w < words.size(); ++w) {
        if (!common.at(w))
            spellFrom(all, starts.at(w), out);
    }
    // The first one or two words' initials, then those from a later word with at least one
    // left out.
    QString head;
    for (int a = 0; a < 2 && a + 2 < words.size(); ++a) {
        for (const QString& s : words.at(a))
            head += s.at(0);
        for (int b = a + 2; b < words.size(); ++b) {
            if (common.at(b))
                continue;
            QString tail;
            for (int i = starts.at(b); i < all.size(); ++i)
                tail += all.at(i).at(0);
            out.initials << head + tail;
        }
    }
    out.pinyin.removeDuplicates();
    out.initials.removeDuplicates();
    return out;
}

} // namespace QuickFind
