#pragma once

#include <QString>

/// What Chinese personal names are made of, for telling a name from other short lines and
/// for choosing between readings of one.
namespace Recognize::Names {

/// The name begins with a common surname, one character or two (欧阳, 司马 …).
bool hasSurname(const QString& name);
/// The character often begins a name: a common surname or the first of a compound one.
bool isSurnameCharacter(QChar c);
/// Every character isSurnameCharacter accepts.
QString surnameCharacters();
/// The character is common in given names.
bool isGivenNameCharacter(QChar c);

} // namespace Recognize::Names
