#pragma once

#include "core/card.h"
#include "recognize/qrcode.h"

#include <QDialog>

class QComboBox;
class QLabel;
class QPushButton;

/// One card as a QR code to scan with a phone: vCard 3.0, or MECARD for older scanners;
/// the picture copied or saved as PNG or SVG. Says which columns the code does not carry.
class QrDialog : public QDialog {
    Q_OBJECT
public:
    /// Raises the error that says why when not even the card's name fits in a code.
    QrDialog(QWidget* parent, const Card& card);

    /// The code shown.
    const Recognize::QrCode::Code& code() const { return m_code; }
    /// The text under the code that names the columns it does not carry; empty when none.
    QString leftOutText() const;

    /// Draws the card's code in the format chosen.
    void setFormat(Recognize::QrCode::Format format);
    /// Puts the code's picture on the clipboard.
    void copyPicture();
    /// Asks for a file and writes the code there, as SVG or PNG by its extension.
    void save();

private:
    Card m_card;
    Recognize::QrCode::Format m_format = Recognize::QrCode::Format::VCard;
    Recognize::QrCode::Code m_code;
    QComboBox* m_formats;
    QLabel* m_picture;
    QLabel* m_leftOut;
};
