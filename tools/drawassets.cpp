// Redraws the PNG artwork under assets/.
//
//   g++ -std=c++17 -fPIC tools/drawassets.cpp $(pkg-config --cflags --libs Qt6Gui) -o
//   /tmp/drawassets QT_QPA_PLATFORM=offscreen /tmp/drawassets assets
//
// Everything is drawn with QPainter so the pictures can be tweaked and regenerated.

#include <QColor>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QTextStream>
#include <QtMath>

#include <cstdio>

namespace {

struct Leaf {
    QPointF base; // where the stalk meets the leaf
    qreal angle;  // degrees, 0 = pointing right, clockwise (y grows down)
    qreal length;
    qreal width;
    QColor color;
};

QPainterPath leafOutline(qreal len, qreal w) {
    // Leaf along +x from (0,0) to (len,0); slightly asymmetric so a cluster looks natural.
    QPainterPath p;
    p.moveTo(0, 0);
    p.cubicTo(len * 0.25, -w * 0.62, len * 0.70, -w * 0.55, len, 0);
    p.cubicTo(len * 0.72, w * 0.50, len * 0.28, w * 0.58, 0, 0);
    p.closeSubpath();
    return p;
}

void drawLeaf(QPainter& p, const Leaf& leaf) {
    p.save();
    p.translate(leaf.base);
    p.rotate(leaf.angle);

    const qreal len = leaf.length;
    const qreal w = leaf.width;

    // short stalk behind the blade
    QPen stalk(leaf.color.darker(150), qMax<qreal>(1.0, w * 0.08), Qt::SolidLine, Qt::RoundCap);
    p.setPen(stalk);
    p.drawLine(QPointF(-len * 0.12, 0), QPointF(len * 0.05, 0));

    QPainterPath blade = leafOutline(len, w);

    // lighter towards one edge gives the blade a little curvature
    QLinearGradient g(0, -w * 0.5, 0, w * 0.5);
    g.setColorAt(0.0, leaf.color.lighter(125));
    g.setColorAt(0.55, leaf.color);
    g.setColorAt(1.0, leaf.color.darker(118));
    p.setBrush(g);
    p.setPen(QPen(leaf.color.darker(145), 0.9));
    p.drawPath(blade);

    // veins stay inside the blade
    p.setClipPath(blade);
    QColor vein = leaf.color.darker(140);
    vein.setAlpha(200);
    p.setPen(QPen(vein, qMax<qreal>(0.8, w * 0.06), Qt::SolidLine, Qt::RoundCap));
    QPainterPath mid;
    mid.moveTo(0, 0);
    mid.quadTo(len * 0.5, -w * 0.04, len * 0.96, 0);
    p.setBrush(Qt::NoBrush);
    p.drawPath(mid);

    vein.setAlpha(150);
    p.setPen(QPen(vein, qMax<qreal>(0.6, w * 0.035), Qt::SolidLine, Qt::RoundCap));
    const int pairs = len > 40 ? 5 : (len > 22 ? 4 : 3);
    for (int i = 1; i <= pairs; ++i) {
        const qreal t = qreal(i) / (pairs + 1);
        const qreal x = len * (0.08 + 0.78 * t);
        const qreal reach = w * 0.42 * (1.0 - 0.55 * t) + w * 0.05;
        const qreal fwd = len * 0.13;
        QPainterPath v;
        v.moveTo(x, 0);
        v.quadTo(x + fwd * 0.4, -reach * 0.55, x + fwd, -reach);
        v.moveTo(x, 0);
        v.quadTo(x + fwd * 0.4, reach * 0.55, x + fwd, reach);
        p.drawPath(v);
    }
    p.setClipping(false);

    // soft highlight on the upper half
    QPainterPath shine;
    shine.moveTo(len * 0.15, -w * 0.12);
    shine.quadTo(len * 0.45, -w * 0.40, len * 0.75, -w * 0.16);
    QColor hi(255, 255, 255, 60);
    p.setPen(QPen(hi, qMax<qreal>(0.8, w * 0.07), Qt::SolidLine, Qt::RoundCap));
    p.drawPath(shine);

    p.restore();
}

void drawLeaves(QPainter& p, const QList<Leaf>& leaves) {
    for (const Leaf& l : leaves)
        drawLeaf(p, l);
}

// Green shades shared by all pictures so they feel like one set.
const QColor kDeep(46, 125, 50);
const QColor kMid(76, 160, 60);
const QColor kFresh(112, 186, 72);
const QColor kLime(150, 205, 90);
const QColor kOlive(96, 140, 48);

void drawVine(QPainter& p, const QPainterPath& path, qreal width) {
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(88, 130, 52), width, Qt::SolidLine, Qt::RoundCap));
    p.drawPath(path);
}

QImage drawLogin() {
    QImage img(250, 150, QImage::Format_RGB32);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);

    QLinearGradient bg(0, 0, 250, 150);
    bg.setColorAt(0.0, QColor(0xEA, 0xF5, 0xDC));
    bg.setColorAt(1.0, QColor(0xDD, 0xEF, 0xCB));
    p.fillRect(img.rect(), bg);

    // a faint glow behind the cluster, kept subtle so the form area stays calm
    QRadialGradient glow(QPointF(222, 128), 70);
    glow.setColorAt(0.0, QColor(200, 232, 170, 140));
    glow.setColorAt(1.0, QColor(200, 232, 170, 0));
    p.fillRect(img.rect(), glow);

    // The stems spring from just inside the lower-right corner; the rounded
    // dialog mask cuts about 25 px off each corner, so the roots hide there.
    QPainterPath stem;
    stem.moveTo(246, 150);
    stem.cubicTo(232, 136, 214, 126, 196, 124);
    drawVine(p, stem, 1.6);
    QPainterPath stem2;
    stem2.moveTo(248, 146);
    stem2.cubicTo(240, 128, 236, 112, 238, 96);
    drawVine(p, stem2, 1.4);

    drawLeaves(p, {
                      {QPointF(238, 100), -100, 30, 13, kFresh},
                      {QPointF(236, 112), -140, 34, 15, kMid},
                      {QPointF(240, 120), -60, 24, 11, kLime},
                      {QPointF(196, 124), -165, 26, 12, kLime},
                      {QPointF(212, 127), -120, 30, 14, kOlive},
                      {QPointF(214, 128), 160, 28, 12, kFresh},
                      {QPointF(226, 132), -150, 38, 17, kDeep},
                      {QPointF(228, 134), 175, 36, 15, kMid},
                      {QPointF(238, 138), -175, 26, 12, kFresh},
                      {QPointF(224, 140), 150, 22, 10, kLime},
                  });

    return img;
}

QImage drawDelete() {
    QImage img(250, 150, QImage::Format_RGB32);
    img.fill(QColor(0xE7, 0xFB, 0xE0));
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);

    // One sprig climbing out of the corner with alternate leaves, and a short
    // one trailing along the bottom; both keep clear of the buttons (x < 195).
    QPainterPath stem;
    stem.moveTo(250, 148);
    stem.cubicTo(238, 136, 228, 118, 222, 98);
    drawVine(p, stem, 1.5);
    QPainterPath low;
    low.moveTo(240, 146);
    low.cubicTo(222, 140, 206, 141, 190, 137);
    drawVine(p, low, 1.3);

    drawLeaves(p, {
                      // bottom sprig
                      {QPointF(190, 137), -172, 20, 9, kLime},
                      {QPointF(204, 140), -130, 20, 9, kFresh},
                      {QPointF(216, 141), 168, 22, 9, kMid},
                      {QPointF(226, 142), -115, 18, 8, kLime},
                      // climbing sprig, leaves alternating sides
                      {QPointF(242, 140), -20, 22, 10, kFresh},
                      {QPointF(237, 131), -150, 26, 12, kDeep},
                      {QPointF(232, 122), -30, 22, 10, kMid},
                      {QPointF(228, 113), -160, 24, 11, kFresh},
                      {QPointF(225, 105), -45, 18, 8, kLime},
                      {QPointF(222, 98), -105, 22, 10, kMid},
                  });
    return img;
}

// A small smiling winged figure centred on c; size is the head diameter.
void drawCherub(QPainter& p, QPointF c, qreal s, qreal tilt) {
    p.save();
    p.translate(c);
    p.rotate(tilt);

    const QColor skin(255, 224, 196);
    const QColor skinEdge(214, 160, 124);
    const QColor hair(236, 190, 90);

    // wings first so the body overlaps them; scalloped trailing edge
    auto wing = [&](qreal dir) {
        QPainterPath w;
        const qreal x0 = dir * s * 0.20, y0 = s * 0.70;
        w.moveTo(x0, y0);
        w.cubicTo(dir * s * 0.70, s * 0.05, dir * s * 1.45, s * 0.05, dir * s * 1.40, s * 0.45);
        w.quadTo(dir * s * 1.38, s * 0.68, dir * s * 1.15, s * 0.68);
        w.quadTo(dir * s * 1.12, s * 0.90, dir * s * 0.88, s * 0.88);
        w.quadTo(dir * s * 0.80, s * 1.05, dir * s * 0.55, s * 1.00);
        w.quadTo(dir * s * 0.40, s * 0.98, x0, y0 + s * 0.18);
        w.closeSubpath();
        QLinearGradient g(x0, y0, dir * s * 1.4, s * 0.3);
        g.setColorAt(0.0, QColor(255, 255, 255));
        g.setColorAt(1.0, QColor(210, 232, 250));
        p.setBrush(g);
        p.setPen(QPen(QColor(150, 182, 210), 0.8));
        p.drawPath(w);
        p.setBrush(Qt::NoBrush);
        p.setPen(QPen(QColor(176, 202, 226), 0.6));
        p.drawLine(QPointF(x0 + dir * s * 0.1, y0), QPointF(dir * s * 1.12, s * 0.62));
        p.drawLine(QPointF(x0 + dir * s * 0.1, y0 + s * 0.05), QPointF(dir * s * 0.86, s * 0.84));
    };
    wing(-1);
    wing(1);

    // feet peeking under the hem
    p.setPen(QPen(skinEdge, 0.6));
    p.setBrush(skin);
    p.drawEllipse(QPointF(-s * 0.15, s * 1.42), s * 0.10, s * 0.07);
    p.drawEllipse(QPointF(s * 0.15, s * 1.42), s * 0.10, s * 0.07);

    // a little bell-shaped gown with a wavy hem
    QPainterPath body;
    body.moveTo(-s * 0.20, s * 0.50);
    body.cubicTo(-s * 0.30, s * 0.85, -s * 0.50, s * 1.15, -s * 0.52, s * 1.36);
    body.quadTo(-s * 0.39, s * 1.44, -s * 0.26, s * 1.36);
    body.quadTo(-s * 0.13, s * 1.44, 0, s * 1.36);
    body.quadTo(s * 0.13, s * 1.44, s * 0.26, s * 1.36);
    body.quadTo(s * 0.39, s * 1.44, s * 0.52, s * 1.36);
    body.cubicTo(s * 0.50, s * 1.15, s * 0.30, s * 0.85, s * 0.20, s * 0.50);
    body.closeSubpath();
    QLinearGradient bg(0, s * 0.5, 0, s * 1.45);
    bg.setColorAt(0.0, QColor(255, 246, 250));
    bg.setColorAt(1.0, QColor(250, 206, 224));
    p.setBrush(bg);
    p.setPen(QPen(QColor(210, 150, 176), 0.8));
    p.drawPath(body);

    // arms
    p.setPen(QPen(skinEdge, 0.7));
    p.setBrush(skin);
    p.drawEllipse(QPointF(-s * 0.30, s * 0.80), s * 0.09, s * 0.15);
    p.drawEllipse(QPointF(s * 0.30, s * 0.80), s * 0.09, s * 0.15);

    // head
    QRadialGradient hg(QPointF(-s * 0.12, -s * 0.12), s * 0.65);
    hg.setColorAt(0.0, QColor(255, 238, 220));
    hg.setColorAt(1.0, skin);
    p.setBrush(hg);
    p.setPen(QPen(skinEdge, 0.8));
    p.drawEllipse(QPointF(0, 0), s * 0.5, s * 0.5);

    // curly fringe
    p.setPen(QPen(hair.darker(125), 0.6));
    p.setBrush(hair);
    p.drawEllipse(QPointF(-s * 0.22, -s * 0.38), s * 0.16, s * 0.13);
    p.drawEllipse(QPointF(0, -s * 0.45), s * 0.18, s * 0.12);
    p.drawEllipse(QPointF(s * 0.22, -s * 0.38), s * 0.16, s * 0.13);

    // halo
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(240, 200, 70), 1.1));
    p.drawEllipse(QPointF(0, -s * 0.72), s * 0.30, s * 0.08);

    // face: closed happy eyes, rosy cheeks, smile
    p.setPen(QPen(QColor(90, 60, 50), qMax<qreal>(0.8, s * 0.06), Qt::SolidLine, Qt::RoundCap));
    p.drawArc(QRectF(-s * 0.25, -s * 0.08, s * 0.16, s * 0.12), 0, 180 * 16);
    p.drawArc(QRectF(s * 0.09, -s * 0.08, s * 0.16, s * 0.12), 0, 180 * 16);
    p.drawArc(QRectF(-s * 0.14, s * 0.04, s * 0.28, s * 0.22), 200 * 16, 140 * 16);

    p.setPen(Qt::NoPen);
    p.setBrush(QColor(255, 150, 150, 110));
    p.drawEllipse(QPointF(-s * 0.30, s * 0.14), s * 0.09, s * 0.06);
    p.drawEllipse(QPointF(s * 0.30, s * 0.14), s * 0.09, s * 0.06);

    p.restore();
}

QImage drawPanel() {
    QImage img(135, 412, QImage::Format_RGB32);
    img.fill(QColor(0xED, 0xF9, 0xE6));
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);

    // the scene only starts below the buttons; fade in a slightly deeper green
    QLinearGradient floor(0, 318, 0, 412);
    floor.setColorAt(0.0, QColor(0xED, 0xF9, 0xE6));
    floor.setColorAt(1.0, QColor(0xDC, 0xF0, 0xCE));
    p.fillRect(QRectF(0, 318, 135, 94), floor);

    // ground vine across the bottom (x < 15 is hidden off-panel)
    QPainterPath vine;
    vine.moveTo(8, 404);
    vine.cubicTo(40, 392, 80, 410, 132, 394);
    drawVine(p, vine, 1.6);

    drawLeaves(p, {
                      {QPointF(24, 400), -120, 24, 11, kFresh},
                      {QPointF(28, 400), -30, 22, 10, kLime},
                      {QPointF(48, 401), -150, 20, 9, kMid},
                      {QPointF(58, 402), -70, 26, 12, kDeep},
                      {QPointF(74, 404), -110, 22, 10, kLime},
                      {QPointF(86, 404), -40, 24, 11, kFresh},
                      {QPointF(104, 400), -95, 28, 12, kMid},
                      {QPointF(112, 399), -25, 22, 10, kOlive},
                      {QPointF(126, 396), -130, 26, 12, kDeep},
                      {QPointF(128, 396), -70, 18, 8, kLime},
                  });

    drawCherub(p, QPointF(46, 336), 20, 8);
    drawCherub(p, QPointF(100, 342), 18, -8);

    // a few sparkles between them
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(255, 214, 90));
    auto star = [&](QPointF c, qreal r) {
        QPainterPath s;
        for (int i = 0; i < 8; ++i) {
            const qreal a = M_PI / 4 * i - M_PI / 2;
            const qreal rr = (i % 2) ? r * 0.38 : r;
            QPointF pt = c + QPointF(qCos(a) * rr, qSin(a) * rr);
            if (i == 0)
                s.moveTo(pt);
            else
                s.lineTo(pt);
        }
        s.closeSubpath();
        p.drawPath(s);
    };
    star(QPointF(74, 326), 4);
    star(QPointF(124, 330), 3);
    star(QPointF(24, 318), 2.5);

    return img;
}

QImage drawIcon() {
    QImage img(64, 64, QImage::Format_ARGB32);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);

    const QColor light(176, 196, 222);
    const QColor dark(84, 108, 140);
    const QColor edge(58, 78, 106);

    // shoulders
    QPainterPath sh;
    sh.moveTo(6, 62);
    sh.cubicTo(6, 46, 16, 38, 32, 38);
    sh.cubicTo(48, 38, 58, 46, 58, 62);
    sh.closeSubpath();
    QLinearGradient sg(0, 38, 0, 62);
    sg.setColorAt(0.0, light);
    sg.setColorAt(1.0, dark);
    p.setBrush(sg);
    p.setPen(QPen(edge, 1.5));
    p.drawPath(sh);

    // head
    QRadialGradient hg(QPointF(27, 16), 18);
    hg.setColorAt(0.0, QColor(214, 226, 240));
    hg.setColorAt(0.6, light);
    hg.setColorAt(1.0, dark);
    p.setBrush(hg);
    p.drawEllipse(QPointF(32, 22), 12.5, 13.5);

    return img;
}

QImage drawArrow(bool right) {
    QImage img(20, 20, QImage::Format_RGB32);
    img.fill(Qt::white);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);

    // The program keys out pure white, so the disc must not bleed grey:
    // its edge only blends blue into white over one pixel.
    QRadialGradient g(QPointF(8.5, 7.5), 11);
    g.setColorAt(0.0, QColor(96, 160, 240));
    g.setColorAt(1.0, QColor(24, 84, 196));
    p.setPen(Qt::NoPen);
    p.setBrush(g);
    p.drawEllipse(QPointF(10, 10), 9.0, 9.0);

    QPainterPath a;
    // drawn pointing right, mirrored for left
    a.moveTo(4.5, 8.0);
    a.lineTo(10.0, 8.0);
    a.lineTo(10.0, 4.5);
    a.lineTo(15.5, 10.0);
    a.lineTo(10.0, 15.5);
    a.lineTo(10.0, 12.0);
    a.lineTo(4.5, 12.0);
    a.closeSubpath();
    if (!right) {
        QTransform t;
        t.translate(20, 0);
        t.scale(-1, 1);
        a = t.map(a);
    }
    p.setBrush(Qt::white);
    p.drawPath(a);
    return img;
}

bool save(const QImage& img, const QDir& dir, const QString& name) {
    const QString path = dir.filePath(name);
    if (!img.save(path, "PNG")) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return false;
    }
    std::printf("%s\n", qPrintable(path));
    return true;
}

bool writeQrc(const QDir& dir, const QStringList& files) {
    QFile f(dir.filePath("assets.qrc"));
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text))
        return false;
    QTextStream out(&f);
    out << "<!DOCTYPE RCC>\n<RCC version=\"1.0\">\n    <qresource prefix=\"/images\">\n";
    for (const QString& n : files)
        out << "        <file>" << n << "</file>\n";
    out << "    </qresource>\n</RCC>\n";
    return true;
}

} // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s OUTPUT_DIR\n", argv[0]);
        return 2;
    }
    QDir dir(QString::fromLocal8Bit(argv[1]));
    if (!dir.exists() && !QDir().mkpath(dir.path())) {
        std::fprintf(stderr, "cannot create %s\n", argv[1]);
        return 1;
    }

    // icon.png keeps its alpha; the backgrounds are flattened to opaque 24-bit
    auto opaque = [](const QImage& i) { return i.convertToFormat(QImage::Format_RGB888); };

    bool ok = true;
    ok &= save(opaque(drawLogin()), dir, "login.png");
    ok &= save(opaque(drawDelete()), dir, "delete.png");
    ok &= save(opaque(drawPanel()), dir, "panel.png");
    ok &= save(drawIcon(), dir, "icon.png");
    ok &= save(opaque(drawArrow(true)), dir, "arrow_right.png");
    ok &= save(opaque(drawArrow(false)), dir, "arrow_left.png");
    ok &= writeQrc(dir, {"login.png", "delete.png", "panel.png", "icon.png", "arrow_right.png",
                         "arrow_left.png"});
    return ok ? 0 : 1;
}
