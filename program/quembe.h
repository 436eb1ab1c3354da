#pragma once

#include <QString>

class QApplication;

namespace Quembe {

/// Makes Qt's own texts (file dialogs, standard buttons) Chinese; false when Qt's Chinese
/// translation (qt6-translations-l10n) is not installed. Once is enough.
bool installQtChinese();
/// On an installed program's first start, makes the user's database (empty password) in
/// the user's data folder; returns its path, or an empty text when there was nothing to do.
QString provideUserDatabase();
/// Sets the application's looks and creates the four windows in their order. On failure
/// the error box "Application Error" is shown, nothing is left open, and false returned.
bool createForms();
/// Frees the windows in reverse order.
void destroyForms();
/// The whole run: the windows, then the message loop; the program's exit status.
int run(QApplication& app);

} // namespace Quembe
