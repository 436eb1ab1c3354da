// How the window looks beyond its form: the operations buttons' pressed look, and editor
// captions fitted to the font they get.
#include "VELMORA.h"

#include "controls.h"

// ---- Pressed look --------------------------------------------------------------------------

namespace {

// Red while held down, black again when let go, wherever the pointer is then.
void showPressed(TSpeedButton* button, bool pressed) {
    button->setFontColor(pressed ? Qt::red : Qt::black);
}

} // namespace

void TFrmMain::SpeedButton1MouseDown() {
    showPressed(SpeedButton1, true);
}
void TFrmMain::SpeedButton1MouseUp() {
    showPressed(SpeedButton1, false);
}
void TFrmMain::SpeedButton2MouseDown() {
    showPressed(SpeedButton2, true);
}
void TFrmMain::SpeedButton2MouseUp() {
    showPressed(SpeedButton2, false);
}
void TFrmMain::SpeedButton3MouseDown() {
    showPressed(SpeedButton3, true);
}
void TFrmMain::SpeedButton3MouseUp() {
    showPressed(SpeedButton3, false);
}
void TFrmMain::SpeedButton4MouseDown() {
    showPressed(SpeedButton4, true);
}
void TFrmMain::SpeedButton4MouseUp() {
    showPressed(SpeedButton4, false);
}
void TFrmMain::SpeedButton5MouseDown() {
    showPressed(SpeedButton5, true);
}
void TFrmMain::SpeedButton5MouseUp() {
    showPressed(SpeedButton5, false);
}

// ---- Editor captions -----------------------------------------------------------------------

void TFrmMain::fitEditorLabels() {
    // Captions are wider in some fonts than the places they were given: a caption grows to
    // show whole, and an input that would cover a stroke of it starts where the caption ends,
    // keeping its right edge.
    for (QWidget* page : {TabSheet1, TabSheet2}) {
        const QList<QWidget*> controls =
            page->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly);
        for (QWidget* control : controls) {
            auto* label = qobject_cast<QLabel*>(control);
            if (!label)
                continue;
            const QFontMetrics metrics = label->fontMetrics();
            const int end = label->x() + metrics.horizontalAdvance(label->text());
            const int inkEnd = label->x() + metrics.tightBoundingRect(label->text()).right();
            label->resize(qMax(label->width(), end - label->x()), label->height());
            for (QWidget* input : controls) {
                const QRect r = input->geometry();
                if (input != label && r.x() > label->x() && r.x() <= inkEnd && r.right() > end &&
                    r.top() <= label->geometry().bottom() && r.bottom() >= label->y())
                    input->setGeometry(QRect(QPoint(end, r.y()), r.bottomRight()));
            }
        }
    }
}
