#pragma once

#include "exchange/format.h"
#include "exchange/transfer.h"

#include <QObject>

#include <functional>

class QWidget;
class TADOConnection;
class TADOQuery;

/// Cards in from other programs' files and out to them, for the list the main window shows.
class CardTransfer : public QObject {
    Q_OBJECT
public:
    /// Works through `connection` on `cards`; its dialogs open over `window`, which owns it.
    CardTransfer(QWidget* window, TADOConnection* connection, TADOQuery* cards);

public slots:
    /// Asks for a card file, adds its cards and makes the first of them current.
    void importCards();
    /// Asks for a file and its format, and writes the listed cards to it.
    void exportCards();

public:
    /// What the duplicates add to an import: `options` for the import itself, `resembling`
    /// counts the new cards that seem to be someone's already there, and `show` opens the
    /// duplicates when the user wants to see them.
    void setDuplicates(Exchange::ImportOptions options,
                       std::function<int(const QVector<qint64>& ids)> resembling,
                       std::function<void()> show);

private:
    /// The file the user names for an export and the format it is written in; false when
    /// the dialog was cancelled.
    bool askExportFile(QString* path, Exchange::Format* format) const;

    QWidget* m_window;
    TADOConnection* m_connection;
    TADOQuery* m_cards;
    Exchange::ImportOptions m_options;
    std::function<int(const QVector<qint64>& ids)> m_resembling;
    std::function<void()> m_showDuplicates;
};
