#include "qrdialog.h"

#include "core/error.h"
#include "platform/application.h"
#include "platform/filedialog.h"

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QSaveFile>
#include <QVBoxLayout>

namespace QrCode = Recognize::QrCode;

namespace {

// The code on screen about this wide: large enough for a phone held at arm's length.
const int kShownSide = 300;
// A saved or copied code prints sharp at a few centimetres.
const int kSavedModule = 8;

const QString kPngFilter = QStringLiteral("PNG 图片 (*.png)");
const QString kSvgFilter = QStringLiteral("SVG 图片 (*.svg)");

// The card's name as a file name: signs no file system takes become "_".
QString proposedFileName(const Card& card) {
    static const QRegularExpression unsafe(QStringLiteral("[\\\\/:*?\"<>|\\x00-\\x1f]"));
    QString name = card[Field::Name].simplified().replace(unsafe, QStringLiteral("_")).left(60);
    if (name.isEmpty() || name.startsWith(QLatin1Char('.')))
        name.prepend(QStringLiteral("名片"));
    return name + QStringLiteral("_二维码.png");
}

} // namespace

QrDialog::QrDialog(QWidget* parent, const Card& card)
    : QDialog(parent)
    , m_card(card) {
    setObjectName(QStringLiteral("QrDialog"));
    const QString name = card[Field::Name].simplified().left(40);
    setWindowTitle(name.isEmpty() ? QStringLiteral("二维码") : QStringLiteral("二维码 - ") + name);

    auto* hint = new QLabel(QStringLiteral("用手机的相机或扫码软件扫描，可把这张名片存入通讯录。"));
    hint->setWordWrap(true);
    m_picture = new QLabel;
    m_picture->setObjectName(QStringLiteral("QrPicture"));
    m_picture->setAlignment(Qt::AlignCenter);
    m_picture->setMinimumSize(kShownSide + 16, kShownSide + 16);
    m_picture->setStyleSheet(QStringLiteral("background: white;"));
    m_leftOut = new QLabel;
    m_leftOut->setObjectName(QStringLiteral("QrLeftOut"));
    m_leftOut->setWordWrap(true);
    m_leftOut->setStyleSheet(QStringLiteral("color: #a03000;"));

    m_formats = new QComboBox;
    m_formats->setObjectName(QStringLiteral("QrFormat"));
    m_formats->addItem(QStringLiteral("vCard 3.0（推荐）"), int(QrCode::Format::VCard));
    m_formats->addItem(QStringLiteral("MECARD（适合较旧的扫码软件）"), int(QrCode::Format::MeCard));
    auto* formatLabel = new QLabel(QStringLiteral("格式(&F)："));
    formatLabel->setBuddy(m_formats);
    auto* formatRow = new QHBoxLayout;
    formatRow->addWidget(formatLabel);
    formatRow->addWidget(m_formats, 1);

    auto* copyButton = new QPushButton(QStringLiteral("复制图片(&C)"));
    copyButton->setObjectName(QStringLiteral("QrCopy"));
    auto* saveButton = new QPushButton(QStringLiteral("保存(&S)..."));
    saveButton->setObjectName(QStringLiteral("QrSave"));
    auto* closeButton = new QPushButton(QStringLiteral("关闭"));
    closeButton->setObjectName(QStringLiteral("QrClose"));
    closeButton->setDefault(true);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(copyButton);
    buttons->addWidget(saveButton);
    buttons->addStretch(1);
    buttons->addWidget(closeButton);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(hint);
    layout->addWidget(m_picture, 0, Qt::AlignHCenter);
    layout->addWidget(m_leftOut);
    layout->addLayout(formatRow);
    layout->addStretch(1);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    // The longest texts under the code wrap at the code's width, not the screen's.
    m_leftOut->setFixedWidth(kShownSide + 16);
    hint->setFixedWidth(kShownSide + 16);

    setFormat(QrCode::Format::VCard);

    connect(m_formats, qOverload<int>(&QComboBox::activated), this, [this](int index) {
        Platform::guarded(
            [this, index] { setFormat(QrCode::Format(m_formats->itemData(index).toInt())); })();
    });
    connect(copyButton, &QPushButton::clicked, this, Platform::guarded([this] { copyPicture(); }));
    connect(saveButton, &QPushButton::clicked, this, Platform::guarded([this] { save(); }));
    connect(closeButton, &QPushButton::clicked, this, &QDialog::accept);
}

QString QrDialog::leftOutText() const {
    return m_leftOut->text();
}

void QrDialog::setFormat(QrCode::Format format) {
    // Made first: a card that does not fit leaves the code shown as it was.
    QrCode::Code code = QrCode::make(m_card, format);
    m_code = std::move(code);
    m_format = format;
    m_formats->setCurrentIndex(m_formats->findData(int(format)));

    const int modules = m_code.size + 8; // with the quiet zone
    m_picture->setPixmap(QPixmap::fromImage(QrCode::image(m_code, qMax(2, kShownSide / modules))));

    // Which columns stay out because the format has no place for them, which for length.
    QStringList noPlace;
    for (int column : Recognize::QrText::notCarried(format))
        noPlace << columnText(Field(column));
    QStringList notCarried, tooLong;
    for (const QString& column : m_code.leftOut)
        (noPlace.contains(column) ? notCarried : tooLong) << column;
    QStringList lines;
    if (!tooLong.isEmpty())
        lines << QStringLiteral("名片内容太多，一个二维码放不下，没有包含：%1。"
                                "扫码后请在手机上补上这些内容。")
                     .arg(tooLong.join(QStringLiteral("、")));
    if (!notCarried.isEmpty())
        lines << QStringLiteral(
                     "MECARD 格式没有这些栏，二维码中没有包含：%1。需要时请选 vCard 3.0。")
                     .arg(notCarried.join(QStringLiteral("、")));
    m_leftOut->setText(lines.join(QLatin1Char('\n')));
    m_leftOut->setVisible(!lines.isEmpty());
}

void QrDialog::copyPicture() {
    QApplication::clipboard()->setImage(QrCode::image(m_code, kSavedModule));
}

void QrDialog::save() {
    QString filter = kPngFilter;
    QString path =
        Platform::getSaveFileName(this, QStringLiteral("保存二维码"), {kPngFilter, kSvgFilter},
                                  &filter, proposedFileName(m_card));
    if (path.isEmpty())
        return;
    // The extension typed decides; without one, the filter picked.
    QString suffix = QFileInfo(path).suffix().toLower();
    if (suffix != QLatin1String("png") && suffix != QLatin1String("svg")) {
        suffix = filter == kSvgFilter ? QStringLiteral("svg") : QStringLiteral("png");
        path += QLatin1Char('.') + suffix;
    }
    const QByteArray bytes = suffix == QLatin1String("svg") ? QrCode::svg(m_code, kSavedModule)
                                                            : QrCode::png(m_code, kSavedModule);
    // Beside the target first, renamed over it at the end: a failure leaves no half file.
    QSaveFile file(path);
    file.setDirectWriteFallback(false);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit())
        throw EError(QStringLiteral("二维码没有保存：无法写入文件\n%1\n"
                                    "请检查文件夹是否存在、能否写入，以及磁盘空间后重试。\n(%2)")
                         .arg(QDir::toNativeSeparators(path), file.errorString()));
}
