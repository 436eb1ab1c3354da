#include "application.h"

#include "messagebox.h"

#include "data/dberror.h"

namespace Platform {

void handleException(std::exception_ptr error)
{
    try {
        std::rethrow_exception(error);
    } catch (const EDatabaseError& e) {
        showError(e.message());
    } catch (const std::exception& e) {
        showError(QString::fromLocal8Bit(e.what()));
    } catch (...) {
        showError(QStringLiteral("Unknown error"));
    }
}

TApplication::TApplication(int& argc, char** argv)
    : QApplication(argc, argv)
{
}

bool TApplication::notify(QObject* receiver, QEvent* event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (...) {
        handleException(std::current_exception());
        return false;
    }
}

} // namespace Platform
