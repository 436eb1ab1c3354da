#pragma once

#include <QString>
#include <QStringList>
#include <QTextStream>

#include <memory>

class TADOConnection;

namespace CardsTool {

/// What every command works with: the database and the two output streams.
class Context {
public:
    Context(const QString& database, QTextStream& out, QTextStream& err);
    ~Context();

    /// The database of --database, or the program's own; opened and checked as the program
    /// opens it. Raises the data layer's error when it cannot be opened.
    TADOConnection& connection();

    QTextStream& out;
    QTextStream& err;

private:
    QString m_database;
    std::unique_ptr<TADOConnection> m_connection;
};

/// A wrong command line: the text says what is wrong; the tool adds its usage.
struct UsageError {
    QString message;
};

int importCommand(Context& context, QStringList args);
int exportCommand(Context& context, QStringList args);
int recognizeCommand(Context& context, QStringList args);
int findCommand(Context& context, QStringList args);
int qrCommand(Context& context, QStringList args);
int duplicatesCommand(Context& context, QStringList args);
int syncSetupCommand(Context& context, QStringList args);
int syncCommand(Context& context, QStringList args);
int historyCommand(Context& context, QStringList args);
int undoCommand(Context& context, QStringList args);

} // namespace CardsTool
