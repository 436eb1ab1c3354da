#include "spelling.h"

#include <unicode/brkiter.h>
#include <unicode/normalizer2.h>
#include <unicode/translit.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>
#include <unicode/utf8.h>

#include <algorithm>
#include <memory>
#include <mutex>
#include <tuple>
#include <unordered_map>

namespace QuickFind {

namespace {

// Readings a surname has beside (or instead of) the one the transliterator gives.
const std::unordered_map<char32_t, const char*>& surnameReadings() {
    static const std::unordered_map<char32_t, const char*> table = {
        {U'单', "shan"},  {U'曾', "zeng"},  {U'区', "ou"},   {U'解', "xie"},   {U'仇', "qiu"},
        {U'查', "zha"},   {U'朴', "piao"},  {U'覃', "qin"},  {U'盖', "ge"},    {U'乐', "yue"},
        {U'缪', "miao"},  {U'翟', "zhai"},  {U'召', "shao"}, {U'种', "chong"}, {U'秘', "bi"},
        {U'隗', "wei"},   {U'员', "yun"},   {U'繁', "po"},   {U'宿', "su"},    {U'冼', "xian"},
        {U'洗', "xian"},  {U'折', "she"},   {U'蕃', "pi"},   {U'句', "gou"},   {U'纪', "ji"},
        {U'重', "chong"}, {U'长', "chang"}, {U'沈', "shen"}, {U'华', "hua"},   {U'柏', "bai"},
        {U'牟', "mou"},   {U'能', "nai"},   {U'燕', "yan"},  {U'黑', "he"},    {U'任', "ren"},
        {U'谌', "chen"},  {U'褚', "chu"},   {U'薄', "bo"},   {U'藏', "zang"},  {U'莘', "shen"},
        {U'贲', "ben"},   {U'阚', "kan"},   {U'那', "na"},   {U'逄', "pang"},  {U'过', "guo"},
        {U'殷', "yin"},   {U'都', "du"},    {U'叶', "ye"},   {U'万', "wan"},
    };
    return table;
}

// Every reading of the common polyphones, wherever they stand: the transliterator gives one
// (行 xing only, 长 zhang only), but 银行 is yinhang and 长沙 changsha. A short list of our
// own, from the common words of names, places and companies; readings only surnames have
// (单 shan, 区 ou) stay with the surnames.
const std::unordered_map<char32_t, std::vector<const char*>>& polyphoneReadings() {
    static const std::unordered_map<char32_t, std::vector<const char*>> table = {
        {U'行', {"xing", "hang"}},
        {U'长', {"chang", "zhang"}},
        {U'厦', {"xia", "sha"}},
        {U'重', {"zhong", "chong"}},
        {U'朝', {"chao", "zhao"}},
        {U'乐', {"le", "yue"}},
        {U'都', {"du", "dou"}},
        {U'地', {"di", "de"}},
        {U'会', {"hui", "kuai"}},
        {U'调', {"diao", "tiao"}},
        {U'传', {"chuan", "zhuan"}},
        {U'还', {"hai", "huan"}},
        {U'藏', {"cang", "zang"}},
        {U'曾', {"ceng", "zeng"}},
        {U'解', {"jie", "xie"}},
        {U'差', {"cha", "chai"}},
        {U'大', {"da", "dai"}},
        {U'和', {"he", "huo"}},
        {U'参', {"can", "shen"}},
        {U'省', {"sheng", "xing"}},
        {U'石', {"shi", "dan"}},
        {U'率', {"shuai", "lv"}},
        {U'盛', {"sheng", "cheng"}},
        {U'校', {"xiao", "jiao"}},
        {U'觉', {"jue", "jiao"}},
        {U'降', {"jiang", "xiang"}},
        {U'卡', {"ka", "qia"}},
        {U'角', {"jiao", "jue"}},
        {U'的', {"de", "di"}},
        {U'系', {"xi", "ji"}},
        {U'强', {"qiang", "jiang"}},
        {U'种', {"zhong", "chong"}},
        {U'薄', {"bo", "bao"}},
        {U'柏', {"bai", "bo"}},
        {U'员', {"yuan", "yun"}},
        {U'查', {"cha", "zha"}},
        {U'蔚', {"wei", "yu"}},
        {U'秘', {"mi", "bi"}},
        {U'莎', {"sha", "suo"}},
        {U'阿', {"a", "e"}},
        {U'佛', {"fo", "fu"}},
        {U'奇', {"qi", "ji"}},
        {U'露', {"lu", "lou"}},
        {U'色', {"se", "shai"}},
        {U'塞', {"sai", "se"}},
        {U'给', {"gei", "ji"}},
        {U'便', {"bian", "pian"}},
        {U'茜', {"qian", "xi"}},
        {U'折', {"zhe", "she"}},
        {U'宿', {"su", "xiu"}},
        {U'能', {"neng", "nai"}},
        {U'广', {"guang", "an"}},
        {U'数', {"shu", "shuo"}},
        {U'更', {"geng"}},
        {U'期', {"qi", "ji"}},
        {U'模', {"mo", "mu"}},
        {U'藉', {"ji", "jie"}},
        {U'应', {"ying"}},
        {U'兴', {"xing"}},
        {U'中', {"zhong"}},
        {U'正', {"zheng"}},
        {U'发', {"fa"}},
        {U'华', {"hua"}},
        {U'称', {"cheng", "chen"}},
        {U'弹', {"dan", "tan"}},
        {U'宁', {"ning"}},
        {U'哈', {"ha"}},
    };
    return table;
}

// Words whose own reading the transliterator misses: their reading comes first, before what
// their characters' other readings give.
const std::unordered_map<std::u32string, std::vector<const char*>>& wordReadings() {
    static const std::unordered_map<std::u32string, std::vector<const char*>> table = {
        {U"长沙", {"chang", "sha"}},   {U"长春", {"chang", "chun"}},
        {U"长城", {"chang", "cheng"}}, {U"长江", {"chang", "jiang"}},
        {U"长安", {"chang", "an"}},    {U"长征", {"chang", "zheng"}},
        {U"银行", {"yin", "hang"}},    {U"行业", {"hang", "ye"}},
        {U"商行", {"shang", "hang"}},  {U"车行", {"che", "hang"}},
        {U"重庆", {"chong", "qing"}},  {U"厦门", {"xia", "men"}},
        {U"大厦", {"da", "sha"}},      {U"成都", {"cheng", "du"}},
        {U"首都", {"shou", "du"}},     {U"朝阳", {"chao", "yang"}},
        {U"朝鲜", {"chao", "xian"}},   {U"音乐", {"yin", "yue"}},
        {U"乐器", {"yue", "qi"}},      {U"快乐", {"kuai", "le"}},
        {U"会计", {"kuai", "ji"}},     {U"地产", {"di", "chan"}},
        {U"地区", {"di", "qu"}},       {U"传媒", {"chuan", "mei"}},
        {U"西藏", {"xi", "zang"}},     {U"六安", {"lu", "an"}},
        {U"蚌埠", {"beng", "bu"}},     {U"番禺", {"pan", "yu"}},
        {U"丽水", {"li", "shui"}},     {U"石家庄", {"shi", "jia", "zhuang"}},
    };
    return table;
}

// Two-character surnames that the characters alone would misspell.
const std::unordered_map<std::u32string, std::vector<std::string>>& compoundSurnames() {
    static const std::unordered_map<std::u32string, std::vector<std::string>> table = {
        {U"尉迟", {"yu", "chi"}},    {U"万俟", {"mo", "qi"}},   {U"单于", {"chan", "yu"}},
        {U"长孙", {"zhang", "sun"}}, {U"澹台", {"tan", "tai"}}, {U"令狐", {"ling", "hu"}},
        {U"乐正", {"yue", "zheng"}}, {U"亓官", {"qi", "guan"}}, {U"宰父", {"zai", "fu"}},
        {U"谷梁", {"gu", "liang"}},
    };
    return table;
}

// Words that say what kind of company it is, and that nobody looks a company up by; and what
// the dictionary keeps with a place's name (北京市).
const std::vector<std::u32string>& commonWords() {
    static const std::vector<std::u32string> words = {
        U"有限公司", U"有限责任公司", U"股份有限公司", U"有限", U"责任", U"公司", U"股份",
        U"集团",     U"分公司",       U"总公司",       U"市",   U"省",   U"县",   U"区"};
    return words;
}

bool isPlaceEnd(char32_t c) {
    return c == U'市' || c == U'省' || c == U'县' || c == U'区';
}

// No more spellings of one name than this, however many readings its characters have.
constexpr std::size_t kMaxNameVariants = 8;
constexpr std::size_t kMaxCompanyVariants = 6;

using Readings = std::vector<std::string>;
using Syllables = std::vector<std::string>;

void appendUtf8(std::string& out, char32_t c) {
    char buf[4];
    int len = 0;
    UBool error = false;
    U8_APPEND(buf, len, 4, UChar32(c), error);
    if (!error)
        out.append(buf, std::size_t(len));
}

/// Tone marks off, lower case; "ü" as both "u" and "v" when `withV` (as people type it).
/// Empty when the text is not plain letters.
Readings plainLetters(const icu::UnicodeString& latin, bool withV) {
    UErrorCode status = U_ZERO_ERROR;
    const icu::Normalizer2* nfd = icu::Normalizer2::getNFDInstance(status);
    if (U_FAILURE(status))
        return {};
    const icu::UnicodeString decomposed = nfd->normalize(latin, status);
    std::string u, v;
    bool umlaut = false;
    for (int32_t i = 0; i < decomposed.length(); ++i) {
        const char16_t c = char16_t(u_tolower(decomposed.charAt(i)));
        if (c == 0x0308 && !u.empty() && u.back() == 'u') {
            umlaut = true;
            v.back() = 'v';
        } else if (u_getCombiningClass(c) != 0) {
            continue;
        } else if (c >= 'a' && c <= 'z') {
            u += char(c);
            v += char(c);
        } else {
            return {};
        }
    }
    if (u.empty())
        return {};
    if (umlaut && withV)
        return {u, v};
    return {u};
}

/// The ICU objects, shared; what they say is cached by each thread.
class Icu {
public:
    static Icu& instance() {
        static Icu icu;
        return icu;
    }

    const icu::Normalizer2* nfkcCasefold() const { return m_nfkcCf; }

    /// Readings of one ideograph: its ordinary one, and for a surname the surname's first.
    const Readings& readings(char32_t c, bool surname) {
        thread_local std::unordered_map<char32_t, Readings> plainCache, surnameCache;
        auto& cache = surname ? surnameCache : plainCache;
        const auto it = cache.find(c);
        if (it != cache.end())
            return it->second;
        Readings result;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            result = sharedReadings(c, surname);
        }
        return cache.emplace(c, std::move(result)).first->second;
    }

    /// Works out the readings of `c` for every thread to find, unless known.
    void learn(char32_t c) {
        std::lock_guard<std::mutex> lock(m_mutex);
        sharedReadings(c, false);
        sharedReadings(c, true);
    }

    /// The syllables of a run of ideographs read together, so that the transliterator's
    /// own word readings apply (重庆 chongqing); one per ideograph, or empty.
    const Syllables& syllables(const std::u32string& han) {
        thread_local std::unordered_map<std::u32string, Syllables> cache;
        const auto it = cache.find(han);
        if (it != cache.end())
            return it->second;
        Syllables result;
        icu::UnicodeString u;
        for (const char32_t c : han)
            u.append(UChar32(c));
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (m_plain)
                m_plain->transliterate(u);
        }
        int32_t start = 0;
        for (int32_t i = 0; i <= u.length(); ++i) {
            if (i < u.length() && u.charAt(i) != u' ')
                continue;
            if (i > start) {
                // "ü" kept as "v"; the companies' spellings give both.
                const Readings r = plainLetters(u.tempSubStringBetween(start, i), true);
                if (r.empty()) {
                    result.clear();
                    break;
                }
                result.push_back(r.back());
            }
            start = i + 1;
        }
        if (result.size() != han.size())
            result.clear();
        if (cache.size() > 20000)
            cache.clear();
        return cache.emplace(han, std::move(result)).first->second;
    }

    /// A word break iterator of this thread's own.
    icu::BreakIterator* words() {
        thread_local std::unique_ptr<icu::BreakIterator> mine;
        if (!mine && m_words) {
            std::lock_guard<std::mutex> lock(m_mutex);
            mine.reset(m_words->clone());
        }
        return mine.get();
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

    // Each thread keeps its own copy of what it used; a reading worked out once serves them
    // all, so a thread seldom waits for the transliterator. Called with m_mutex held.
    const Readings& sharedReadings(char32_t c, bool surname) {
        auto& known = surname ? m_surnameReadings : m_plainReadings;
        const auto it = known.find(c);
        if (it != known.end())
            return it->second;
        Readings result;
        if (surname) {
            const auto own = surnameReadings().find(c);
            if (own != surnameReadings().end())
                result.push_back(own->second);
            for (std::string& r : transliterate(m_names.get(), c))
                result.push_back(std::move(r));
        }
        for (std::string& r : transliterate(m_plain.get(), c))
            result.push_back(std::move(r));
        const auto more = polyphoneReadings().find(c);
        if (more != polyphoneReadings().end()) {
            for (const char* r : more->second)
                result.emplace_back(r);
        }
        Readings unique;
        for (std::string& r : result) {
            if (std::find(unique.begin(), unique.end(), r) == unique.end())
                unique.push_back(std::move(r));
        }
        return known.emplace(c, std::move(unique)).first->second;
    }

    static Readings transliterate(const icu::Transliterator* t, char32_t c) {
        if (!t)
            return {};
        icu::UnicodeString u{UChar32(c)};
        t->transliterate(u);
        return plainLetters(u.trim(), true);
    }

    std::mutex m_mutex;
    std::unordered_map<char32_t, Readings> m_plainReadings, m_surnameReadings;
    const icu::Normalizer2* m_nfkcCf = nullptr;
    std::unique_ptr<icu::Transliterator> m_plain, m_names;
    std::unique_ptr<icu::BreakIterator> m_words;
};

/// A piece of a name or company: one ideograph, or a run of other letters and digits.
struct Unit {
    bool han;
    char32_t c;       // the ideograph
    std::string text; // the run
};

std::vector<Unit> unitsOf(const std::u32string& text) {
    std::vector<Unit> units;
    std::string run;
    auto flush = [&] {
        if (!run.empty())
            units.push_back(Unit{false, 0, std::move(run)});
        run.clear();
    };
    for (const char32_t c : text) {
        if (isHan(c)) {
            flush();
            units.push_back(Unit{true, c, {}});
        } else if (u_isalnum(UChar32(c))) {
            appendUtf8(run, c);
        } else {
            flush();
        }
    }
    flush();
    return units;
}

std::u32string decodeUtf8(std::string_view s) {
    std::u32string out;
    out.reserve(s.size());
    for (int32_t i = 0; i < int32_t(s.size());) {
        UChar32 c;
        U8_NEXT(s.data(), i, int32_t(s.size()), c);
        if (c >= 0)
            out.push_back(char32_t(c));
    }
    return out;
}

// The first character of a syllable, in UTF-8.
std::string_view initialOf(const std::string& syllable) {
    int32_t i = 0;
    UChar32 c;
    U8_NEXT(syllable.data(), i, int32_t(syllable.size()), c);
    (void)c;
    return std::string_view(syllable.data(), std::size_t(i));
}

// The strings of the syllables from `from` on: written together, and their initials.
void spellFrom(const Syllables& s, std::size_t from, SpellingsUtf8& out) {
    std::string whole, initials;
    for (std::size_t i = from; i < s.size(); ++i) {
        whole += s[i];
        initials += initialOf(s[i]);
    }
    if (!whole.empty()) {
        out.pinyin.push_back(std::move(whole));
        out.initials.push_back(std::move(initials));
    }
}

// A syllable with "v" for "ü" (lv, nv, lve, nve), not a run of Latin letters such as "vivo".
bool isPinyin(const std::string& syllable) {
    return syllable == "lv" || syllable == "nv" || syllable == "lve" || syllable == "nve";
}

void dedupe(std::vector<std::string>& v) {
    std::sort(v.begin(), v.end());
    v.erase(std::unique(v.begin(), v.end()), v.end());
}

QStringList toQt(const std::vector<std::string>& v) {
    QStringList out;
    for (const std::string& s : v)
        out << QString::fromStdString(s);
    return out;
}

// Traditional ideographs to simplified ones, as ICU's transform has them, for the common
// blocks: made once, by transforming them all in one go.
constexpr char32_t kFoldFirst = 0x3400, kFoldLast = 0x9FFF;
// The unified ideographs every Chinese font has: what names and companies are written in.
constexpr char32_t kCommonFirst = 0x4E00, kCommonLast = 0x9FA5;

const std::vector<char16_t>& simplifiedTable() {
    static const std::vector<char16_t> table = [] {
        std::vector<char16_t> t(kFoldLast - kFoldFirst + 1);
        icu::UnicodeString all;
        for (char32_t c = kFoldFirst; c <= kFoldLast; ++c) {
            t[c - kFoldFirst] = char16_t(c);
            all.append(char16_t(c));
        }
        UParseError parse;
        UErrorCode status = U_ZERO_ERROR;
        std::unique_ptr<icu::Transliterator> fold(icu::Transliterator::createInstance(
            "Traditional-Simplified", UTRANS_FORWARD, parse, status));
        if (U_FAILURE(status) || !fold)
            return t;
        fold->transliterate(all);
        if (all.length() != int32_t(t.size()))
            return t; // not one for one: left unfolded rather than misaligned
        for (int32_t i = 0; i < all.length(); ++i) {
            const char16_t c = all.charAt(i);
            if (c >= kFoldFirst && c <= kFoldLast)
                t[std::size_t(i)] = c;
        }
        return t;
    }();
    return table;
}

} // namespace

char32_t simplified(char32_t c) {
    return c >= kFoldFirst && c <= kFoldLast ? simplifiedTable()[c - kFoldFirst] : c;
}

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
    QString result;
    if (simple) {
        result = lowerAscii ? text : text.toLower();
    } else if (const icu::Normalizer2* n = Icu::instance().nfkcCasefold()) {
        UErrorCode status = U_ZERO_ERROR;
        const icu::UnicodeString in(false, reinterpret_cast<const UChar*>(text.utf16()),
                                    int32_t(text.size()));
        const icu::UnicodeString out = n->normalize(in, status);
        result = U_SUCCESS(status)
                     ? QString(reinterpret_cast<const QChar*>(out.getBuffer()), out.length())
                     : text;
    } else {
        result = text.toCaseFolded();
    }
    // Traditional characters as simplified ones: 張偉 is found as 张伟, and the other way.
    for (QChar& c : result) {
        if (c.unicode() >= kFoldFirst && c.unicode() <= kFoldLast)
            c = QChar(simplified(c.unicode()));
    }
    return result;
}

void phoneDigitsUtf8(std::string_view text, std::vector<std::string>& out) {
    // Blanks and the marks people write between digit groups go; "+86" at the start goes.
    std::string kept;
    for (int32_t i = 0; i < int32_t(text.size());) {
        const int32_t start = i;
        UChar32 c;
        U8_NEXT(text.data(), i, int32_t(text.size()), c);
        const bool dropped = c == ' ' || c == '-' || c == '(' || c == ')' ||
                             (c >= 0 && u_isUWhiteSpace(c)) || (c >= 0x2010 && c <= 0x2015) ||
                             c == 0x2212;
        if (!dropped)
            kept.append(text.data() + start, std::size_t(i - start));
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
    return toQt(runs);
}

void spellName(std::string_view name, SpellingsUtf8& out) {
    Icu& icu = Icu::instance();
    const std::u32string text = decodeUtf8(name);
    const std::vector<Unit> units = unitsOf(text);
    // Each unit's readings; the variants are their combinations, first readings first.
    std::vector<const Readings*> choices;
    std::vector<Readings> own; // the runs' single "readings"
    own.reserve(units.size());
    for (std::size_t i = 0; i < units.size(); ++i) {
        if (!units[i].han) {
            own.push_back({units[i].text});
            choices.push_back(&own.back());
            continue;
        }
        const Readings& r = icu.readings(units[i].c, i == 0);
        if (!r.empty())
            choices.push_back(&r);
    }
    std::vector<Syllables> variants{Syllables()};
    for (const Readings* options : choices) {
        std::vector<Syllables> next;
        for (const Syllables& v : variants) {
            for (const std::string& o : *options) {
                if (next.size() < kMaxNameVariants) {
                    next.push_back(v);
                    next.back().push_back(o);
                }
            }
        }
        variants.swap(next);
    }
    if (units.size() >= 2 && units[0].han && units[1].han && choices.size() == units.size()) {
        const auto compound = compoundSurnames().find(std::u32string{units[0].c, units[1].c});
        if (compound != compoundSurnames().end()) {
            Syllables v = compound->second;
            for (std::size_t i = 2; i < choices.size(); ++i)
                v.push_back(choices[i]->front());
            variants.push_back(std::move(v));
        }
    }
    for (const Syllables& v : variants) {
        for (std::size_t i = 0; i < v.size(); ++i) {
            spellFrom(v, i, out);
            // Full syllables, then the initials of two or more ("zhangsf" for 张三丰).
            for (std::size_t k = i + 1; k + 2 <= v.size(); ++k) {
                std::string mixed;
                for (std::size_t j = i; j < v.size(); ++j)
                    mixed += j < k ? std::string_view(v[j]) : initialOf(v[j]);
                out.pinyin.push_back(std::move(mixed));
            }
        }
    }
    dedupe(out.pinyin);
    dedupe(out.initials);
}

bool nameSpellingMayStartWith(std::string_view name, char letter) {
    // Every spelling starts with a syllable of the name: with its first letter.
    Icu& icu = Icu::instance();
    const std::u32string text = decodeUtf8(name);
    const std::vector<Unit> units = unitsOf(text);
    for (std::size_t i = 0; i < units.size(); ++i) {
        if (!units[i].han) {
            if (units[i].text.empty() || units[i].text.front() == letter)
                return true;
            continue;
        }
        for (const std::string& r : icu.readings(units[i].c, i == 0)) {
            if (!r.empty() && r.front() == letter)
                return true;
        }
    }
    if (units.size() >= 2 && units[0].han && units[1].han) {
        const auto compound = compoundSurnames().find(std::u32string{units[0].c, units[1].c});
        if (compound != compoundSurnames().end()) {
            for (const std::string& syllable : compound->second) {
                if (!syllable.empty() && syllable.front() == letter)
                    return true;
            }
        }
    }
    return false;
}

void spellCompany(std::string_view company, SpellingsUtf8& out) {
    Icu& icu = Icu::instance();
    const std::u32string text = decodeUtf8(company);
    // The company's words by the dictionary, each as its syllables.
    std::vector<std::u32string> pieces;
    if (icu::BreakIterator* words = icu.words()) {
        icu::UnicodeString u;
        for (const char32_t c : text)
            u.append(UChar32(c));
        words->setText(u);
        int32_t start = words->first();
        for (int32_t end = words->next(); end != icu::BreakIterator::DONE;
             start = end, end = words->next()) {
            std::u32string piece;
            for (int32_t i = start; i < end;) {
                const UChar32 c = u.char32At(i);
                piece.push_back(char32_t(c));
                i += U16_LENGTH(c);
            }
            if (piece.size() >= 3 && isPlaceEnd(piece.back())) {
                pieces.push_back(piece.substr(0, piece.size() - 1));
                pieces.push_back(piece.substr(piece.size() - 1));
            } else {
                pieces.push_back(std::move(piece));
            }
        }
    } else {
        pieces.push_back(text);
    }
    std::vector<Syllables> words;
    std::vector<bool> common;
    // Other readings of the polyphones: word, syllable in it, reading.
    std::vector<std::tuple<std::size_t, std::size_t, std::string>> others;
    for (const std::u32string& piece : pieces) {
        Syllables s;
        std::u32string han;
        auto flushHan = [&] {
            if (han.empty())
                return;
            const std::size_t first = s.size();
            const Syllables& read = icu.syllables(han);
            if (!read.empty()) {
                s.insert(s.end(), read.begin(), read.end());
            } else {
                for (const char32_t c : han) {
                    const Readings& r = icu.readings(c, false);
                    s.push_back(r.empty()                         ? std::string()
                                : r.size() >= 2 && isPinyin(r[1]) ? r[1]
                                                                  : r.front());
                }
            }
            // Known words read as they are; every other reading of a polyphone after them.
            for (std::size_t i = 0; i < han.size(); ++i) {
                for (std::size_t n = 3; n >= 2; --n) {
                    const auto word = wordReadings().find(han.substr(i, n));
                    if (i + n > han.size() || word == wordReadings().end())
                        continue;
                    for (std::size_t k = 0; k < n; ++k)
                        s[first + i + k] = word->second[k];
                    break;
                }
            }
            // An ideograph without a reading leaves a gap, and the places would not hold.
            const bool gaps =
                std::find(s.begin() + std::ptrdiff_t(first), s.end(), std::string()) != s.end();
            for (std::size_t i = 0; i < han.size() && !gaps; ++i) {
                if (!polyphoneReadings().count(han[i]))
                    continue;
                for (const std::string& r : icu.readings(han[i], false)) {
                    if (r != s[first + i] && !isPinyin(r))
                        others.emplace_back(words.size(), first + i, r);
                }
            }
            s.erase(std::remove(s.begin() + std::ptrdiff_t(first), s.end(), std::string()),
                    s.end());
            han.clear();
        };
        for (const Unit& unit : unitsOf(piece)) {
            if (unit.han) {
                han.push_back(unit.c);
            } else {
                flushHan();
                s.push_back(unit.text);
            }
        }
        flushHan();
        if (!s.empty()) {
            words.push_back(std::move(s));
            const auto& list = commonWords();
            common.push_back(std::find(list.begin(), list.end(), piece) != list.end());
        }
    }
    Syllables all;
    std::vector<std::size_t> starts;
    for (const Syllables& w : words) {
        starts.push_back(all.size());
        all.insert(all.end(), w.begin(), w.end());
    }
    // The reading as the words have it, then each other reading of a polyphone in turn.
    std::vector<Syllables> variants{all};
    for (const auto& [w, at, reading] : others) {
        if (variants.size() >= kMaxCompanyVariants)
            break;
        if (starts[w] + at < all.size()) {
            variants.push_back(all);
            variants.back()[starts[w] + at] = reading;
        }
    }
    for (const Syllables& variant : variants) {
        // "ü" as people type it, "v", and as "u".
        Syllables withU = variant;
        bool withV = false;
        for (std::string& syllable : withU) {
            if (syllable.find('v') != std::string::npos && isPinyin(syllable)) {
                std::replace(syllable.begin(), syllable.end(), 'v', 'u');
                withV = true;
            }
        }
        for (std::size_t w = 0; w < words.size(); ++w) {
            if (common[w])
                continue;
            spellFrom(variant, starts[w], out);
            if (withV)
                spellFrom(withU, starts[w], out);
        }
    }
    // The first one or two words' initials, then those from a later word with at least one
    // left out.
    std::string head;
    for (std::size_t a = 0; a < 2 && a + 2 < words.size(); ++a) {
        for (const std::string& s : words[a])
            head += initialOf(s);
        for (std::size_t b = a + 2; b < words.size(); ++b) {
            if (common[b])
                continue;
            std::string skipped = head;
            for (std::size_t i = starts[b]; i < all.size(); ++i)
                skipped += initialOf(all[i]);
            out.initials.push_back(std::move(skipped));
        }
    }
    dedupe(out.pinyin);
    dedupe(out.initials);
}

Spellings nameSpellings(const QString& name) {
    SpellingsUtf8 s;
    spellName(normalized(name).toStdString(), s);
    return Spellings{toQt(s.pinyin), toQt(s.initials)};
}

Spellings companySpellings(const QString& company) {
    SpellingsUtf8 s;
    spellCompany(normalized(company).toStdString(), s);
    return Spellings{toQt(s.pinyin), toQt(s.initials)};
}

void prepareSpelling(const std::atomic<bool>& stop) {
    // Shared by every call: a second one goes on where the first was stopped.
    static std::atomic<char32_t> next{kCommonFirst};
    (void)simplifiedTable();
    Icu& icu = Icu::instance();
    for (char32_t c = next++; !stop && c <= kCommonLast; c = next++)
        icu.learn(c);
}

} // namespace QuickFind
