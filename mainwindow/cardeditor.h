#pragma once

#include "core/card.h"

#include <QString>

#include <array>

#include <functional>
#include <variant>
#include <vector>

class QComboBox;
class QLineEdit;
class QPlainTextEdit;
class QWidget;
class TMaskEdit;

/// A written column of a card and the editor input that shows it.
struct EditorInput {
    Field field;
    const char* column;
    const char* control; ///< the input's object name
};
/// The editor's inputs in field order.
extern const std::array<EditorInput, kFieldCount> kEditorInputs;

/// The card editor's 24 inputs in field-map order, found once by name.
///
/// An input gives back the text it was loaded with for as long as it shows what it showed
/// right after loading, so that a text it cannot show as it is (a line break in a one-line
/// box, eight digits in a postcode box) comes back from a save unchanged.
class CardEditor {
public:
    /// Finds every input of the field map below `form`; raises an error naming the first
    /// one that is missing or of a kind the editor does not know.
    explicit CardEditor(QWidget* form);

    /// Empties every input, in field-map order.
    void clear();
    /// Loads every input from `read(column)`, in field-map order.
    void load(const std::function<QString(const QString& column)>& read);
    /// Hands every input's text to `write(column, text)`, in field-map order.
    void store(const std::function<void(const QString& column, const QString& text)>& write) const;

    /// The text an input gives back, by the input's object name.
    QString text(const QString& control) const;
    /// Loads one input, by its object name.
    void setText(const QString& control, const QString& text);

private:
    using Widget = std::variant<QLineEdit*, TMaskEdit*, QComboBox*, QPlainTextEdit*>;
    struct Input {
        QString column;
        QString control;
        Widget widget;
        QString loaded;
        QString shownAfterLoad;
    };

    std::size_t indexOf(const QString& control) const;
    static QString shown(const Input& input);
    static void load(Input& input, const QString& text);
    static QString value(const Input& input);

    std::vector<Input> m_inputs;
};
