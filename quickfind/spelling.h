#pragma once

#include <QString>
#include <QStringList>

#include <atomic>

#include <string>
#include <string_view>
#include <vector>

/// How the quick find sees a card's text: folded text, phone digits and pinyin spellings.
/// Pure functions; the index and the matcher both build on them, so they always agree.
namespace QuickFind {

/// NFKC with case folded: "ＡＢＣ", "abc" and "ABC" all become "abc"; traditional ideographs
/// become simplified ones.
QString normalized(const QString& text);

/// The digit strings of a phone column: blanks, "-", "(" and ")" are dropped, then a leading
/// "+86"; any other character separates two strings ("010-1234 转 56" gives "0101234", "56").
QStringList phoneDigits(const QString& text);

/// phoneDigits() of text already normalized, in UTF-8; appends to `out`.
void phoneDigitsUtf8(std::string_view normalizedText, std::vector<std::string>& out);

/// The strings a word may be the start of to match a name or a company.
struct Spellings {
    QStringList pinyin;   ///< written together
    QStringList initials; ///< first letters of the syllables
};

/// A name's spellings from every syllable on ("zhangsanfeng", "sanfeng", "feng"; "zsf", "sf",
/// "f" for 张三丰), for the surname's own readings and its ordinary one alike.
Spellings nameSpellings(const QString& name);

/// A company's spellings from the start of each of its words (北京|某某|科技|有限公司), except
/// the words every company has (有限公司, 集团 …); and as initials also those of its first one
/// or two words followed by those from a later word with at least one word left out ("bjkj…"
/// for 北京某某科技有限公司), so that a brand in between may be skipped.
Spellings companySpellings(const QString& company);

/// The same spellings in UTF-8, as the index works with them.
struct SpellingsUtf8 {
    std::vector<std::string> pinyin, initials;
};
/// Adds the spellings of a name already normalized (UTF-8) to `out`.
void spellName(std::string_view normalizedName, SpellingsUtf8& out);
/// False when no spelling spellName gives for the normalized name can start with `letter`:
/// a cheap look before spelling it.
bool nameSpellingMayStartWith(std::string_view normalizedName, char letter);
/// Adds the spellings of a company already normalized (UTF-8) to `out`.
void spellCompany(std::string_view normalizedCompany, SpellingsUtf8& out);

/// Works out the readings of the common ideographs ahead of the first find, which otherwise
/// spends tens of milliseconds on those of the cards it meets; for a thread of its own.
/// Returns when `stop` is set or all are known; a later call goes on from there.
void prepareSpelling(const std::atomic<bool>& stop);

/// The simplified form of a traditional ideograph; any other character as it is.
char32_t simplified(char32_t c);

/// True for a CJK ideograph.
bool isHan(char32_t c);

} // namespace QuickFind
