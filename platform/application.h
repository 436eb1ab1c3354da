#pragma once

#include <QApplication>

#include <exception>
#include <utility>

namespace Platform {

/// The one place where an error raised inside a handler is shown: the error box.
void handleException(std::exception_ptr error);

/// Wraps a handler so that an error it raises is shown and goes no further.
template <class F> auto guarded(F handler) {
    return [handler = std::move(handler)]() {
        try {
            handler();
        } catch (...) {
            handleException(std::current_exception());
        }
    };
}

/// The application object; stops any error that would otherwise cross the event loop.
class TApplication : public QApplication {
public:
    TApplication(int& argc, char** argv);
    bool notify(QObject* receiver, QEvent* event) override;
};

} // namespace Platform
