#pragma once

class QApplication;

namespace Quembe {

/// Sets the application's looks and creates the four windows in their order. On failure
/// the error box "Application Error" is shown, nothing is left open, and false returned.
bool createForms();
/// Frees the windows in reverse order.
void destroyForms();
/// The whole run: the windows, then the message loop; the program's exit status.
int run(QApplication& app);

} // namespace Quembe
