// The floor for the program's start: a plain Qt Widgets program that opens one window with a
// table of 20 rows and nothing else. quembe-bench starts it with the same probe as the
// program, and the program's start -> grid painted is set against its start -> table painted.
#include <QApplication>
#include <QHeaderView>
#include <QMainWindow>
#include <QStandardItemModel>
#include <QTableView>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const QStringList heads = {QStringLiteral("姓名"), QStringLiteral("单位"),
                               QStringLiteral("职务"), QStringLiteral("手机"),
                               QStringLiteral("E-mail")};
    QStandardItemModel model(20, int(heads.size()));
    model.setHorizontalHeaderLabels(heads);
    for (int row = 0; row < model.rowCount(); ++row) {
        const QStringList values = {QStringLiteral("张伟%1").arg(row),
                                    QStringLiteral("北京信息技术有限公司"), QStringLiteral("经理"),
                                    QStringLiteral("1380013%1").arg(row, 4, 10, QLatin1Char('0')),
                                    QStringLiteral("zhangwei%1@example.com").arg(row)};
        for (int column = 0; column < values.size(); ++column)
            model.setItem(row, column, new QStandardItem(values[column]));
    }
    QMainWindow window;
    auto* table = new QTableView(&window);
    // The name the probe knows the program's grid by: its first paint with rows is noted.
    table->setObjectName(QStringLiteral("DBGrid1"));
    table->setModel(&model);
    table->verticalHeader()->setDefaultSectionSize(table->fontMetrics().height() + 4);
    window.setCentralWidget(table);
    window.resize(800, 600);
    window.show();
    return app.exec();
}
