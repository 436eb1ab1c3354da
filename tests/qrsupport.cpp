#include "qrsupport.h"

#include <QPainter>
#include <QRegularExpression>
#include <QTest>
#include <QXmlStreamReader>

namespace QrSupport {

Card card(const QStringList& columnsAndValues) {
    Card c;
    for (int i = 0; i + 1 < columnsAndValues.size(); i += 2)
        c.setValue(columnsAndValues[i], columnsAndValues[i + 1]);
    return c;
}

// Every sign the formats escape, in every column a code carries.
Card hardCard() {
    return card({"姓名",     "欧阳😀娜娜",
                 "单位",     "甲;乙:丙,丁\\有限公司",
                 "部门",     "研发部,一组",
                 "职务",     "总监; CTO",
                 "工作电话", "+86 21 6888 1234",
                 "手机",     "138 0013 8000",
                 "家庭电话", "(010) 6253-1234",
                 "传真",     "021-6888 1235 转 8",
                 "E-mail",   "na.na+qr@例子.中国",
                 "主页",     "https://例子.中国/a;b?c=1,2",
                 "工作地址", "上海市浦东新区\n世纪大道 100 号 (东座) 8:30",
                 "工作邮编", "200120",
                 "备注",     "不写进码"});
}

// The columns a code of the format carries and the card fills.
QList<int> expectedColumns(const Card& c, Recognize::QrCode::Format format) {
    QList<int> columns;
    for (int i : Recognize::QrText::carriedColumns()) {
        if (!c.values[size_t(i)].isEmpty() && !Recognize::QrText::notCarried(format).contains(i))
            columns << i;
    }
    return columns;
}

void compareFields(const Recognize::QrCode::Found& found, const Card& c,
                   const QList<int>& columns) {
    QCOMPARE(found.columns, columns);
    for (int i : columns)
        QCOMPARE(found.card.values[size_t(i)], c.values[size_t(i)]);
}

// The modules an SVG we wrote paints, drawn again as a picture.
QImage paintedSvg(const QByteArray& svg) {
    QXmlStreamReader xml(svg);
    int side = 0;
    QString path;
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isStartElement() && xml.name() == QLatin1String("svg"))
            side = xml.attributes().value("viewBox").toString().section(' ', 2, 2).toInt();
        if (xml.isStartElement() && xml.name() == QLatin1String("path"))
            path = xml.attributes().value("d").toString();
    }
    if (xml.hasError() || side <= 0)
        return QImage();
    QImage image(side * 4, side * 4, QImage::Format_Grayscale8);
    image.fill(255);
    QPainter painter(&image);
    static const QRegularExpression run(QStringLiteral("M(\\d+),(\\d+)h(\\d+)v1h-\\d+z"));
    for (auto it = run.globalMatch(path); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        painter.fillRect(m.captured(1).toInt() * 4, m.captured(2).toInt() * 4,
                         m.captured(3).toInt() * 4, 4, Qt::black);
    }
    return image;
}

} // namespace QrSupport
