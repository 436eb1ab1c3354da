#pragma once

#include <QString>
#include <QStringList>

#include <string>
#include <vector>

struct Card;

/// How two spellings of the same person's details are made equal before they are compared.
/// Pure functions; the whole-file search and the one-card proposal both build on them.
namespace Duplicates {

/// A phone number as a comparable key: "+8613812345678", or "+861012345678;8021" with its
/// extension kept apart, so that a switchboard and one of its extensions differ.
struct Phone {
    std::string key;
    bool mobile = false; ///< a mobile number with no extension
};

/// The numbers of one phone column (several may be separated by "/", "," or "、"), with
/// `extension` (the 分机 column) added to any that has none. Region CN when none is written:
/// blanks, "-", brackets, "+86", "0086", full-width digits and a trunk 0 make no difference;
/// "转 8021", "分机 8021", "ext. 8021" and "x8021" are extensions.
std::vector<Phone> phones(const QString& text, const QString& extension = QString());

/// The e-mail addresses of a column, in lower case.
QStringList emails(const QString& text);

/// Traditional characters to simplified, full-width to half-width, case folded.
QString folded(const QString& text);

/// A name as compared: folded, without blanks; a Latin name's words in alphabetical order,
/// separated by one blank ("John Smith" and "Smith John" both give "john smith").
QString nameKey(const QString& name);

/// A company as compared: folded, without blanks, punctuation and the endings every company
/// has (有限公司, 集团, Co., Ltd., Inc. …).
QString companyKey(const QString& company);

/// Whether two different name keys are close enough for a shared mobile number or e-mail to
/// make one person: one contained in the other, or spelled alike in pinyin.
bool namesClose(const QString& a, const QString& b);

/// Whether two cards say the same in every field once folded: names and companies as
/// compared, phones by number, e-mails without case, any other text folded and trimmed. An
/// import skips such a card as already there.
bool sameAfterFolding(const Card& a, const Card& b);

/// A hash that cards the same after folding share (phones by their digits, without a
/// country code or trunk 0), cheap enough to take of every card in the file: what an import
/// looks up before asking sameAfterFolding().
quint64 foldedHash(const Card& card);

/// What the rule compares of one card.
struct Profile {
    QString name;    ///< nameKey()
    QString company; ///< companyKey()
    std::vector<Phone> phones;
    QStringList emails;
};
Profile profileOf(const Card& card);

} // namespace Duplicates
