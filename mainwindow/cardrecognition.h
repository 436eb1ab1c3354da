#pragma once

#include <QByteArray>
#include <QObject>
#include <QPixmap>
#include <QStringList>

#include <functional>
#include <memory>

struct Card;
class QFrame;
class QImage;
class QLabel;
class QPushButton;
class TADOQuery;
class TFrmMain;
namespace Recognize {
class PictureReader;
}

/// A card from a photo or scan: read on this machine, then handed to the window's editor
/// to be checked and saved by the user, its picture shown beside the editor and stored
/// with the card. Several pictures are checked one after another (确定 / 跳过).
class CardRecognition : public QObject {
    Q_OBJECT
public:
    /// Its dialogs open over `window`, which owns it; `openInEditor` shows a card read in
    /// the add editor, unsaved, and says whether it did. The picture is stored with the
    /// card `cards` adds next, in the same transaction.
    CardRecognition(TFrmMain* window, TADOQuery* cards,
                    std::function<bool(const Card&)> openInEditor);
    ~CardRecognition() override;

    /// The editor's card was saved: while several pictures are being checked, the next one
    /// opens (or the summary shows) and true is returned; false leaves it to the window.
    bool cardSaved();

public slots:
    /// Asks for picture files and reads the card on each.
    void readPictureFile();
    /// Reads the card on the picture the clipboard holds.
    void readClipboardPicture();
    /// Passes over the card being checked: the next picture opens.
    void skip();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    enum class Outcome { Opened, NoText, Here, Cancelled };
    Outcome readPicture(const QImage& image, const QString& file = QString());
    void readNext();
    void finishReview();
    void showChecking(const QByteArray& picture);
    void stopChecking();
    void placePanel();

    TFrmMain* m_window;
    TADOQuery* m_cards;
    std::function<bool(const Card&)> m_openInEditor;
    // Loaded on first use and kept: loading the models takes about a second.
    std::unique_ptr<Recognize::PictureReader> m_reader;
    // The picture of the card in the editor, stored when that card is added.
    QByteArray m_picture;
    QPixmap m_pixmap;
    // The pictures still to be checked, and what became of those checked.
    QStringList m_queue;
    int m_total = 0;
    int m_added = 0;
    int m_skipped = 0;
    int m_unread = 0;
    QFrame* m_panel;
    QLabel* m_shown;
    QLabel* m_count;
    QPushButton* m_ok;
    QPushButton* m_skip;
};
