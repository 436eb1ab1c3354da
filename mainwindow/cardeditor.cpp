#include "cardeditor.h"

#include "controls.h"

#include "core/error.h"
#include "data/fieldmap.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QInputMethodEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTextDocument>

namespace {

template <class... F> struct Overloaded : F... { using F::operator()...; };
template <class... F> Overloaded(F...) -> Overloaded<F...>;

// Longer texts are shown shortened and cannot be changed in the editor: laying out
// megabytes freezes the window. The whole text is written back as it was loaded.
const int kLongestEditable = 100000;

QString shortenedText(const QString& text) {
    qsizetype keep = kLongestEditable;
    if (text.at(keep - 1).isHighSurrogate())
        --keep;
    return text.left(keep) + QChar(0x2026);
}

EError missingInput(const QString& control) {
    return EError(
        QStringLiteral("名片编辑区缺少输入框 %1，程序文件不完整，请重新安装本程序。").arg(control));
}

} // namespace

constexpr std::array<EditorInput, kFieldCount> kEditorInputList = {{
    {Field::Name, columnName(Field::Name), "Edit1"},
    {Field::Company, columnName(Field::Company), "Edit2"},
    {Field::Department, columnName(Field::Department), "Edit3"},
    {Field::Position, columnName(Field::Position), "Edit4"},
    {Field::Title, columnName(Field::Title), "Edit5"},
    {Field::Birthday, columnName(Field::Birthday), "Edit16"},
    {Field::Major, columnName(Field::Major), "Edit6"},
    {Field::Education, columnName(Field::Education), "ComboBox1"},
    {Field::School, columnName(Field::School), "Edit7"},
    {Field::GraduationDate, columnName(Field::GraduationDate), "Edit18"},
    {Field::WorkPhone, columnName(Field::WorkPhone), "Edit8"},
    {Field::Extension, columnName(Field::Extension), "Edit9"},
    {Field::Mobile, columnName(Field::Mobile), "Edit19"},
    {Field::HomePhone, columnName(Field::HomePhone), "Edit10"},
    {Field::Fax, columnName(Field::Fax), "Edit20"},
    {Field::Oicq, columnName(Field::Oicq), "Edit11"},
    {Field::Msn, columnName(Field::Msn), "Edit12"},
    {Field::Email, columnName(Field::Email), "Edit13"},
    {Field::Homepage, columnName(Field::Homepage), "Edit14"},
    {Field::WorkAddress, columnName(Field::WorkAddress), "Edit15"},
    {Field::WorkPostcode, columnName(Field::WorkPostcode), "MaskEdit4"},
    {Field::HomeAddress, columnName(Field::HomeAddress), "Edit17"},
    {Field::HomePostcode, columnName(Field::HomePostcode), "MaskEdit5"},
    {Field::Notes, columnName(Field::Notes), "Memo1"},
}};
// Constant, so that code run before main may read it.
const std::array<EditorInput, kFieldCount> kEditorInputs = kEditorInputList;

CardEditor::CardEditor(QWidget* form) {
    m_inputs.reserve(kEditorInputs.size());
    for (const EditorInput& field : kEditorInputs) {
        Input input;
        input.column = QString::fromUtf8(field.column);
        input.control = QString::fromLatin1(field.control);
        QWidget* widget = form->findChild<QWidget*>(input.control);
        if (auto* mask = qobject_cast<TMaskEdit*>(widget))
            input.widget = mask;
        else if (auto* edit = qobject_cast<QLineEdit*>(widget))
            input.widget = edit;
        else if (auto* combo = qobject_cast<QComboBox*>(widget))
            input.widget = combo;
        else if (auto* memo = qobject_cast<QPlainTextEdit*>(widget))
            input.widget = memo;
        else
            throw missingInput(input.control);
        m_inputs.push_back(input);
    }
}

QString CardEditor::shown(const Input& input) {
    return std::visit(Overloaded{[](QLineEdit* w) { return w->text(); },
                                 [](TMaskEdit* w) { return w->value(); },
                                 [](QComboBox* w) { return w->currentText(); },
                                 [](QPlainTextEdit* w) {
                                     // The plain-text reading turns no-break spaces into
                                     // blanks; the raw one keeps them.
                                     QString text = w->document()->toRawText();
                                     text.replace(QChar::ParagraphSeparator, QLatin1Char('\n'));
                                     return text;
                                 }},
                      input.widget);
}

void CardEditor::load(Input& input, const QString& text) {
    const bool shortened = text.size() > kLongestEditable;
    const QString shownText = shortened ? shortenedText(text) : text;
    const QString tip = shortened
                            ? QStringLiteral("这一栏有 %1 个字符，太长了，这里只显示开头部分，"
                                             "不能在这里修改；保存时原样保留。")
                                  .arg(text.size())
                            : QString();
    // Marks of a card read from a picture belong to that card alone.
    auto unmark = [](QLineEdit* w) {
        QInputMethodEvent clear;
        QCoreApplication::sendEvent(w, &clear);
    };
    std::visit(Overloaded{[&](QLineEdit* w) {
                              unmark(w);
                              w->setReadOnly(shortened);
                              w->setToolTip(tip);
                              w->setText(shownText);
                              // A long text shows its start, as a filled-in form does.
                              w->setCursorPosition(0);
                          },
                          [&](TMaskEdit* w) {
                              unmark(w);
                              w->setValue(text);
                              w->setCursorPosition(0);
                          },
                          [&](QComboBox* w) {
                              w->lineEdit()->setReadOnly(shortened);
                              w->setToolTip(tip);
                              w->setEditText(shownText);
                              w->lineEdit()->setCursorPosition(0);
                          },
                          [&](QPlainTextEdit* w) {
                              w->setExtraSelections({});
                              w->setReadOnly(shortened);
                              w->setToolTip(tip);
                              w->setPlainText(shownText);
                          }},
               input.widget);
    input.shownAfterLoad = shown(input);
    // An empty text reads back as the input shows it: six blanks in a postcode box.
    input.loaded = text.isEmpty() ? input.shownAfterLoad : text;
}

QString CardEditor::value(const Input& input) {
    const QString now = shown(input);
    return now == input.shownAfterLoad ? input.loaded : now;
}

std::size_t CardEditor::indexOf(const QString& control) const {
    for (std::size_t i = 0; i < m_inputs.size(); ++i) {
        if (m_inputs[i].control == control)
            return i;
    }
    throw missingInput(control);
}

void CardEditor::clear() {
    for (Input& input : m_inputs)
        load(input, QString());
}

void CardEditor::load(const std::function<QString(const QString&)>& read) {
    // Input by input, so that what was read before an error stays shown.
    for (Input& input : m_inputs)
        load(input, read(input.column));
}

void CardEditor::store(const std::function<void(const QString&, const QString&)>& write) const {
    for (const Input& input : m_inputs)
        write(input.column, value(input));
}

QString CardEditor::text(const QString& control) const {
    return value(m_inputs[indexOf(control)]);
}

void CardEditor::setText(const QString& control, const QString& text) {
    load(m_inputs[indexOf(control)], text);
}
