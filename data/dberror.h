#pragma once

#include <QString>

#include <stdexcept>

/// Error raised by the data layer; carries the text shown to the user.
class EDatabaseError : public std::runtime_error {
public:
    explicit EDatabaseError(const QString& message)
        : std::runtime_error(message.toStdString())
        , m_message(message)
    {
    }
    QString message() const { return m_message; }

private:
    QString m_message;
};
