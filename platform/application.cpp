#include "application.h"

#include "messagebox.h"

#include "core/error.h"

#include <new>

#ifdef __GLIBC__
#include <malloc.h>
#endif

namespace Platform {

void handleException(std::exception_ptr error) {
    try {
        std::rethrow_exception(error);
    } catch (const EError& e) {
        showError(e.message());
    } catch (const std::bad_alloc&) {
        showError(QStringLiteral("内存不足，操作没有完成。请关闭其他程序后重试。\n(bad_alloc)"));
    } catch (const std::exception& e) {
        showError(
            QStringLiteral(
                "操作没有完成，发生了意外的错误。请重试；如果一再出现，请重新启动本程序。\n(") +
            QString::fromLocal8Bit(e.what()) + QLatin1Char(')'));
    } catch (...) {
        showError(QStringLiteral(
            "操作没有完成，发生了意外的错误。请重试；如果一再出现，请重新启动本程序。\n"
            "(unknown exception)"));
    }
}

TApplication::TApplication(int& argc, char** argv)
    : QApplication(argc, argv) {
#ifdef __GLIBC__
    // Large blocks (the IDs of a long list, the grid's rows) go back to the system when the
    // list lets go of them; left to itself the allocator keeps tens of megabytes it no
    // longer uses, in every thread's heap.
    mallopt(M_MMAP_THRESHOLD, 1024 * 1024);
#endif
}

bool TApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (...) {
        handleException(std::current_exception());
        return false;
    }
}

} // namespace Platform
