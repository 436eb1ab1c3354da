// How the window looks beyond its form: the operations buttons' pressed look, and editor
// captions fitted to the font they get.
#include "VELMORA.h"

#include "controls.h"

// ---- Pressed look --------------------------------------------------------------------------

void TFrmMain::SpeedButton1MouseDown() {
    SpeedButton1->setFontColor(Qt::red);
}
void TFrmMain::SpeedButton1MouseUp() {
    SpeedButton1->setFontColor(Qt::black);
}
void TFrmMain::SpeedButton2MouseDown() {
    SpeedButton2->setFontColor(Qt::red);
}
void TFrmMain::SpeedButton2MouseUp() {
    SpeedButton2->setFontColor(Qt::black);
}
void TFrmMain::SpeedButton3MouseDown() {
    SpeedButton3->setFontColor(Qt::red);
}
void TFrmMain::SpeedButton3MouseUp() {
    SpeedButton3->setFontColor(Qt::black);
}
void TFrmMain::SpeedButton4MouseDown() {
    SpeedButton4->setFontColor(Qt::red);
}
void TFrmMain::SpeedButton4MouseUp() {
    SpeedButton4->setFontColor(Qt::black);
}
void TFrmMain::SpeedButton5MouseDown() {
    SpeedButton5->setFontColor(Qt::red);
}
void TFrmMain::SpeedButton5MouseUp() {
    SpeedButton5->setFontColor(Qt::black);
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
