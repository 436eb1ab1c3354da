#pragma once

#include <QString>
#include <QStringList>

#include <vector>

/// What the card parser recognises a piece of a line by. Internal to the recognition module.
namespace Recognize::Patterns {

QString u(const char* s);
bool isHan(QChar c);
bool isAsciiDigit(QChar c);
bool isAsciiLetter(QChar c);
/// Not empty, and Chinese characters only.
bool allHan(const QString& s);
int countOf(const QString& s, bool (*test)(QChar));
/// Spaces next to a Chinese character dropped, runs of others made one.
QString withoutHanSpaces(const QString& s);
/// Without the stray marks OCR leaves at the ends.
QString trimmedPiece(const QString& s);

/// ":" or ";", half- or full-width (OCR reads one for the other).
bool isColon(QChar c);

/// What a label says the value after it is.
enum class Kind { Mobile, Phone, Fax, Extension, Mail, Web, QQ, Address, Postcode };

struct FoundLabel {
    int start;
    int valueStart;
    Kind kind;
};

/// The labels on a line ("手机:", "Tel", "邮编" …), left to right. `phoneBefore`: a work
/// phone was labelled before this text, so a label read as some other character is the fax.
std::vector<FoundLabel> findLabels(const QString& s, bool phoneBefore = false);

/// Letters OCR gives for digits made digits, where they touch a digit.
QString digitsFixed(const QString& text);

struct Numbers {
    QStringList mobiles, landlines, extensions, others;
};

/// Mobiles (11 digits from 1), landlines with their area codes, extensions, and digits that
/// are neither. Numbers keep the form they are printed in ("+86 21 6888 1234", "(010)
/// 6253 1234"), their blanks made single; one that shares the area code of the number
/// before it gets that code.
Numbers numbersIn(const QString& text);
/// Where the words after a run of numbers begin; the length when there are none.
int wordsAfterNumbers(const QString& value);
QString digitsOnly(const QString& s);

/// The mail address in the text; empty when there is none.
QString mailIn(QString s);
/// The web address in the text; without a label only one that starts with "www." or "http".
QString webIn(QString s, bool labelled);
/// A mail address whose "@" was misread ("wangoabc.com"), mended where one of `hosts`
/// ("abc.com", or a word such as "abc") begins; empty when none fits.
QString mailWithHost(const QString& s, const QStringList& hosts);
/// A mail's host and the card's web site read apart: where one ends in no known domain
/// ("boy.nt", "yunfan.n") and its letters stand in the other in order, it is the other.
void agreeHosts(QStringList& mails, QStringList& webs);
/// A landline's area code misread into none that exists ("016 6123 7724"): the code of
/// another number of the card that differs from it by one digit, where there is one.
void agreeAreaCodes(const QList<QStringList*>& lists);
/// An address written in Latin letters: "Room 302, No. 8 Keji Road, Nanshan District".
bool isEnglishAddress(const QString& s);

enum class Role { Company, Department, Post, Rank, Name, Other };

/// 2 for a sure organisation word ("公司", "大学" …), 1 for a weak one ("酒店"), else 0.
int organisationStrength(const QString& t);
/// Post or Rank by the longer matching ending, else Other.
Role titleRole(const QString& t);
/// What a short piece of Chinese most likely is.
Role roleOf(const QString& t);
bool isAddress(const QString& s);

} // namespace Recognize::Patterns
