#pragma once

#include <QObject>

#include <functional>
#include <memory>

struct Card;
class QImage;
class QWidget;
namespace Recognize {
class PictureReader;
}

/// A card from a photo or scan: read on this machine, then handed to the window's editor
/// to be checked and saved by the user.
class CardRecognition : public QObject {
    Q_OBJECT
public:
    /// Its dialogs open over `window`, which owns it; `openInEditor` shows a card read in
    /// the add editor, unsaved.
    CardRecognition(QWidget* window, std::function<void(const Card&)> openInEditor);
    ~CardRecognition() override;

public slots:
    /// Asks for a picture file and reads the card on it.
    void readPictureFile();
    /// Reads the card on the picture the clipboard holds.
    void readClipboardPicture();

private:
    void readPicture(const QImage& image);

    QWidget* m_window;
    std::function<void(const Card&)> m_openInEditor;
    // Loaded on first use and kept: loading the models takes about a second.
    std::unique_ptr<Recognize::PictureReader> m_reader;
};
