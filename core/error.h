#pragma once

#include <QString>

#include <stdexcept>

/// An error raised anywhere below a handler; carries the text the error box shows.
class EError : public std::runtime_error {
public:
    explicit EError(const QString& message)
        : std::runtime_error(message.toStdString())
        , m_message(message) {}
    QString message() const { return m_message; }

private:
    QString m_message;
};

/// An error raised by the data layer or a store built on it.
class EDatabaseError : public EError {
public:
    using EError::EError;
};
