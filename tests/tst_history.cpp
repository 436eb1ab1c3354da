// Every change to the cards can be taken back, and only when nothing later depends on it.
#include "testsupport.h"

#include "data/adoconnection.h"
#include "data/adoquery.h"
#include "data/backup.h"
#include "data/cardstore.h"
#include "data/carduid.h"
#include "data/connectionstring.h"
#include "data/dberror.h"
#include "data/history.h"
#include "data/sqlite.h"
#include "duplicates/follow.h"
#include "duplicates/merge.h"
#include "exchange/transfer.h"
#include "quickfind/cardindex.h"
#include "quickfind/quickfind.h"
#include "sync/syncstore.h"

#include <QProcess>
#include <QRegularExpression>
#include <QTest>

#include <csignal>
#include <memory>

namespace {

QStringList cards(const QString& file) {
    return TestSupport::query(file, "select * from zl order by ID");
}

QStringList operations(const QString& file) {
    return TestSupport::query(file, "select op, description from card_history order by op");
}

// A tool run: its exit code, what it printed and what it complained of.
struct Run {
    int code;
    QString out;
    QString err;
};

Run tool(const QString& database, const QStringList& args) {
    QProcess p;
    p.start(QStringLiteral(QUEMBE_CARDS_TOOL), QStringList{"--database", database} + args);
    p.waitForFinished(60000);
    return {p.exitCode(), QString::fromUtf8(p.readAllStandardOutput()),
            QString::fromUtf8(p.readAllStandardError())};
}

} // namespace

class TestHistory : public QObject {
    Q_OBJECT

private slots:
    void init() {
        m_folder = std::make_unique<TestSupport::ProgramFolder>();
        m_connection = std::make_unique<TADOConnection>();
        m_connection->ConnectionString = QString::fromUtf8(kStoredConnectionString);
        m_connection->Open();
        m_cards = std::make_unique<TADOQuery>(QStringLiteral("ADOQuery1"));
        m_cards->setConnection(m_connection.get());
        m_cards->SQL.Add("select *");
        m_cards->SQL.Add("from zl");
        m_cards->WriteHook = CardIndex::rowWritten;
        History::recordWrites(m_cards.get());
        m_cards->Open();
    }

    void cleanup() {
        m_cards.reset();
        m_connection.reset();
        m_folder.reset();
    }

    // What the list writes, undone one by one, and the undo undone.
    void addModifyDeleteUndone() {
        const qint64 zhao = add({{"姓名", "赵六"}, {"手机", "13800000001"}});
        const qint64 wang = add({{"姓名", "王五"}, {"单位", "甲公司"}});
        const qint64 li = add({{"姓名", "李四"}, {"E-mail", "ls@a.cn"}});
        const QString liUid = CardUid::ensure(db(), li);
        const QStringList threeCards = cards(file());

        QVERIFY(m_cards->Locate(wang));
        m_cards->Edit();
        m_cards->SetFieldAsString(TestSupport::col("单位"), "乙公司");
        m_cards->Post();
        QVERIFY(m_cards->Locate(li));
        m_cards->Delete();
        QCOMPARE(operations(file()), (QStringList{"1|添加 赵六", "2|添加 王五", "3|添加 李四",
                                                  "4|修改 王五", "5|删除 李四"}));

        // The deleted card comes back under its ID, with its UID, found again.
        QCOMPARE(History::deletedCards(db()).size(), 1);
        QCOMPARE(History::deletedCards(db()).first().name, QStringLiteral("李四"));
        QCOMPARE(undo(5), qint64(6));
        QCOMPARE(CardUid::uidOf(db(), li), liUid);
        QCOMPARE(QuickFind::find(db(), "李四"), QVector<qint64>{li});
        QVERIFY(History::deletedCards(db()).isEmpty());
        undo(4);
        QCOMPARE(cards(file()), threeCards);

        // Undoing the add of 赵六 deletes the card, and the undo of that brings it back.
        const qint64 removal = undo(1);
        QCOMPARE(
            TestSupport::query(file(), "select count(*) from zl where ID=" + QString::number(zhao)),
            QStringList{"0"});
        QVERIFY(QuickFind::find(db(), "13800000001").isEmpty());
        QCOMPARE(History::recent(db()).first().description, QStringLiteral("撤销：添加 赵六"));
        undo(removal);
        QCOMPARE(cards(file()), threeCards);
        QCOMPARE(QuickFind::find(db(), "13800000001"), QVector<qint64>{zhao});
    }

    // An import, a merge and a sync are one operation each, undone as a whole.
    void importMergeAndSyncUndone() {
        add({{"姓名", "张三"}, {"手机", "13812345678"}, {"部门", "销售部"}});
        const QStringList before = cards(file());
        const QString vcf = m_folder->path() + "联系人.vcf";
        QByteArray text;
        for (int i = 0; i < 1204; ++i)
            text += "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:客户" + QByteArray::number(i) + "\r\nN:客户" +
                    QByteArray::number(i) + ";;;;\r\nEND:VCARD\r\n";
        TestSupport::writeFile(vcf, text);
        const auto imported = Exchange::importFiles(database(), {vcf}, CardIndex::cardsAdded);
        QCOMPARE(imported.ids.size(), 1204);
        QCOMPARE(History::recent(db()).first().description,
                 QStringLiteral("导入 联系人.vcf：添加 1,204 张名片"));
        // The IDs it added, not copies of the cards.
        QCOMPARE(TestSupport::query(file(), "select count(*) from card_history_rows where op=2"),
                 QStringList{"0"});
        QVERIFY(TestSupport::query(file(), "select length(added) from card_history where op=2")
                    .first()
                    .toInt() < 16);
        // Stopped half way, the undo leaves every card where it was.
        QCOMPARE(History::undo(db(), file(), 2, Duplicates::followRow, 0,
                               [](qint64 done, qint64) { return done < 600; }),
                 qint64(0));
        QCOMPARE(TestSupport::query(file(), "select count(*) from zl"), QStringList{"1205"});
        undo(2);
        QCOMPARE(cards(file()), before);
        QVERIFY(QuickFind::find(db(), "客户1").isEmpty());

        const qint64 second = add({{"姓名", "張三"}, {"手机", "+86 138-1234-5678"}});
        const QStringList twoCards = cards(file());
        Duplicates::mergeCards(db(), {1, second});
        QCOMPARE(History::recent(db()).first().description,
                 QStringLiteral("合并 張三 的 2 张名片"));
        QCOMPARE(TestSupport::query(file(), "select count(*) from zl"), QStringList{"1"});
        undo(History::recent(db()).first().number);
        QCOMPARE(cards(file()), twoCards);

        // The sync store's writes inside the engine's operation.
        Sync::SyncStore store(database());
        {
            History::Operation operation(db(), QString());
            operation.setDescriber([](const History::Operation::Counts& c) {
                return QStringLiteral("同步：收到 %1 张，删除 %2 张")
                    .arg(c.added + c.changed)
                    .arg(c.deleted);
            });
            Card theirs;
            theirs[Field::Name] = "钱七";
            store.addCard(theirs, "urn:uuid:qian", {});
            store.transaction([&] { store.writeCard(1, theirs); });
            store.transaction([&] { store.deleteCard(second); });
        }
        QCOMPARE(History::recent(db()).first().description,
                 QStringLiteral("同步：收到 2 张，删除 1 张"));
        undo(History::recent(db()).first().number);
        QCOMPARE(cards(file()), twoCards);
    }

    // A later change to the same card keeps an undo from going back over it, and says which.
    void undoRefusedAfterALaterChange() {
        const qint64 wang = add({{"姓名", "王五"}});
        edit(wang, "单位", "甲公司");
        edit(wang, "单位", "乙公司");
        add({{"姓名", "无关"}});
        const QStringList before = cards(file());
        const QStringList recorded = operations(file());
        QString message;
        try {
            undo(2);
        } catch (const EDatabaseError& e) {
            message = e.message();
        }
        QVERIFY2(message.contains("王五") && message.contains("操作 3") &&
                     message.contains("修改 王五"),
                 qPrintable(message));
        QCOMPARE(History::undoProblem(db(), 2), message);
        QCOMPARE(cards(file()), before);
        QCOMPARE(operations(file()), recorded);

        // Undone newest first, each step is allowed; then the first undo cannot be repeated.
        undo(3);
        QVERIFY(History::undoProblem(db(), 2).isEmpty());
        undo(2);
        QCOMPARE(TestSupport::query(file(), "select 单位 from zl where ID=1"), QStringList{""});
        QVERIFY(History::undoProblem(db(), 2).contains("已经撤销过了"));
        QVERIFY(History::undoProblem(db(), 99).contains("没有编号为 99"));
    }

    // Another program's write is not in the history: an undo that would go back over it is
    // refused, naming the card, and an operation recorded before the check still undoes.
    void undoRefusedAfterAnotherProgramsWrite() {
        const qint64 wang = add({{"姓名", "王五"}});
        edit(wang, "单位", "甲公司");
        TestSupport::OtherWriter other(file());
        QVERIFY(other.ok());
        QCOMPARE(other.exec("UPDATE zl SET 职务='经理' WHERE ID=1; COMMIT"), SQLITE_OK);
        const QStringList before = cards(file());
        const QString problem = History::undoProblem(db(), 2);
        QVERIFY2(problem.contains("王五") && problem.contains("另一个程序"), qPrintable(problem));
        QVERIFY_THROWS_EXCEPTION(EDatabaseError, undo(2));
        QCOMPARE(cards(file()), before);

        // A change of ours after it is undone; that brings back what the other program left.
        edit(wang, "部门", "销售部");
        QVERIFY(History::undoProblem(db(), 2).contains("操作 3"));
        undo(3);
        QVERIFY(History::undoProblem(db(), 2).contains("另一个程序"));

        // An import whose card the other program changed; and one it did not touch.
        const QString vcf = m_folder->path() + "in.vcf";
        TestSupport::writeFile(vcf, "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:甲\r\nEND:VCARD\r\n"
                                    "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:乙\r\nEND:VCARD\r\n");
        Exchange::importFiles(database(), {vcf}, CardIndex::cardsAdded);
        const qint64 imported = History::recent(db()).first().number;
        QCOMPARE(other.exec("BEGIN; UPDATE zl SET 单位='X' WHERE 姓名='乙'; COMMIT"), SQLITE_OK);
        QVERIFY(History::undoProblem(db(), imported).contains("名片“乙”"));
        TestSupport::writeFile(vcf, "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:丙\r\nEND:VCARD\r\n");
        Exchange::importFiles(database(), {vcf}, CardIndex::cardsAdded);
        QVERIFY(History::undoProblem(db(), imported + 1).isEmpty());

        // Recorded by an older program, without what it left: undone as before.
        TestSupport::exec(file(), "drop table card_history_left");
        undo(2);
        QCOMPARE(TestSupport::query(file(), "select 单位 from zl where ID=1"), QStringList{""});
        edit(wang, "单位", "丁公司");
        QCOMPARE(TestSupport::query(file(), "select count(*) from card_history_left where "
                                            "op=(select max(op) from card_history)"),
                 QStringList{"1"});
    }

    // Old operations go once they are both old and beyond the count; a save costs little room.
    void limitsAndSize() {
        for (int i = 0; i < 5; ++i)
            add({{"姓名", QString("客户%1").arg(i).toUtf8().constData()}});
        TestSupport::exec(file(), "update card_history set time=time-100*86400 where op<=3");
        History::trim(db());
        QCOMPARE(History::recent(db()).size(), 5); // fewer than 100,000: all kept
        History::setLimits(db(), file(), {90, 1});
        QCOMPARE(operations(file()), (QStringList{"4|添加 客户3", "5|添加 客户4"}));
        History::setLimits(db(), file(), {0, 1});
        QCOMPARE(operations(file()), QStringList{"5|添加 客户4"});
        History::setLimits(db(), file(), {1000, 10000000});
        QCOMPARE(History::limits(db()).days, 90);
        QCOMPARE(History::limits(db()).count, 100000);
        // A backup that holds the history is one of ours.
        QVERIFY(QFile::copy(file(), m_folder->backup()));
        QString reason;
        QVERIFY2(isRestorableBackup(m_folder->backup(), QString::fromUtf8(kStoredConnectionString),
                                    &reason),
                 qPrintable(reason));

        const qint64 id = add({{"姓名", "欧阳明月"},
                               {"单位", "北京星河科技有限公司"},
                               {"职务", "销售经理"},
                               {"工作电话", "010-65521234"},
                               {"手机", "13812345678"},
                               {"E-mail", "ouyang@xinghe.com.cn"},
                               {"工作地址", "北京市朝阳区建国路88号SOHO现代城A座1201"},
                               {"工作邮编", "100022"}});
        edit(id, "部门", "华北区");
        QStringList lengths;
        for (const auto& f : kFieldMap)
            lengths << QStringLiteral("length(cast(coalesce(%1,'') as blob))")
                           .arg(Sqlite::quoted(QString::fromUtf8(f.column)));
        // Its texts and a byte for each column's type, as the file keeps them.
        const int cardSize =
            TestSupport::query(file(), "select 24+" + lengths.join('+') +
                                           " from zl where ID=" + QString::number(id))
                .first()
                .toInt();
        // The operation's own row (its numbers and words) and the card before it.
        const int historySize =
            TestSupport::query(file(), "select 24+length(cast(description as blob))+(select "
                                       "sum(12+length(card)) from card_history_rows r where "
                                       "r.op=h.op)+(select 16*count(*) from card_history_left l "
                                       "where l.op=h.op) from card_history h order by op desc "
                                       "limit 1")
                .first()
                .toInt();
        QVERIFY2(historySize <= cardSize * 3 / 2,
                 qPrintable(QString("%1 > 1.5 × %2").arg(historySize).arg(cardSize)));
    }

#ifdef Q_OS_UNIX
    void killedDuringAnUndoUndoesNothing() {
        QVector<Card> many(200);
        for (int i = 0; i < many.size(); ++i)
            many[i][Field::Name] = QString("客户%1").arg(i);
        {
            History::Operation operation(db(), "导入");
            int next = 0;
            CardStore::addCards(
                database(),
                [&](Card* c) {
                    if (next == many.size())
                        return false;
                    *c = many[next++];
                    return true;
                },
                {}, {}, CardIndex::cardsAdded);
        }
        m_cards.reset();
        m_connection.reset();
        const QStringList before = cards(file());
        const QStringList recorded = operations(file());
        // The child dies half way through deleting the imported cards again.
        const QString said = TestSupport::inChild([&] {
            Sqlite::Database child;
            child.open(file(), Sqlite::OpenMode::ReadWrite);
            sqlite3_create_function(
                child.get(), "die", 0, SQLITE_UTF8, nullptr,
                [](sqlite3_context*, int, sqlite3_value**) { ::raise(SIGKILL); }, nullptr, nullptr);
            child.exec("CREATE TEMP TRIGGER die AFTER DELETE ON main.zl WHEN old.ID=100 "
                       "BEGIN SELECT die(); END");
            History::undo(child.get(), file(), 1, Duplicates::followRow);
            return QStringLiteral("not killed");
        });
        QCOMPARE(said, QString());
        QCOMPARE(TestSupport::query(file(), "pragma integrity_check"), QStringList{"ok"});
        QCOMPARE(cards(file()), before);
        QCOMPARE(operations(file()), recorded);
        Sqlite::Database again;
        QCOMPARE(again.open(file(), Sqlite::OpenMode::ReadWrite), SQLITE_OK);
        QCOMPARE(History::undo(again.get(), file(), 1, Duplicates::followRow), qint64(2));
        QCOMPARE(TestSupport::query(file(), "select count(*) from zl"), QStringList{"0"});
    }
#endif

    void commandListsAndUndoes() {
        add({{"姓名", "李四"}});
        QVERIFY(m_cards->Locate(1));
        m_cards->Delete();
        m_cards.reset();
        m_connection.reset();

        Run r = tool(file(), {"history"});
        QCOMPARE(r.code, 0);
        const QStringList lines = r.out.split('\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 2);
        QVERIFY2(QRegularExpression("^2\\t\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\t删除 李四$")
                     .match(lines[0])
                     .hasMatch(),
                 qPrintable(lines[0]));
        QVERIFY(lines[1].startsWith("1\t") && lines[1].endsWith("\t添加 李四"));

        QCOMPARE(tool(file(), {"undo", "2"}).code, 0);
        QCOMPARE(TestSupport::query(file(), "select 姓名 from zl"), QStringList{"李四"});
        r = tool(file(), {"undo", "2"});
        QCOMPARE(r.code, 1);
        QVERIFY2(r.err.contains("已经撤销过了"), qPrintable(r.err));
        QCOMPARE(tool(file(), {"undo", "zwei"}).code, 2);
        QCOMPARE(tool(file(), {"undo"}).code, 2);
        QCOMPARE(tool(file(), {"history", "--keep-days"}).code, 2);
        r = tool(file(), {"history", "--keep-days", "0", "--keep-count", "1"});
        QCOMPARE(r.out.count('\n'), 1);
        QVERIFY(r.out.startsWith("3\t"));
    }

private:
    const Sqlite::Database& database() const {
        return m_connection->database();
    }
    sqlite3* db() const {
        return m_connection ? m_connection->handle() : nullptr;
    }
    QString file() const {
        return m_folder->database();
    }

    qint64 add(std::initializer_list<std::pair<const char*, const char*>> fields) {
        m_cards->Insert();
        for (const auto& [column, value] : fields)
            m_cards->SetFieldAsString(QString::fromUtf8(column), QString::fromUtf8(value));
        m_cards->Post();
        return m_cards->CurrentId();
    }

    void edit(qint64 id, const char* column, const char* value) {
        QVERIFY(m_cards->Locate(id));
        m_cards->Edit();
        m_cards->SetFieldAsString(QString::fromUtf8(column), QString::fromUtf8(value));
        m_cards->Post();
    }

    qint64 undo(qint64 number) {
        const qint64 done = History::undo(db(), file(), number, Duplicates::followRow);
        // The list shows what the file holds again.
        m_cards->Close();
        m_cards->Open();
        return done;
    }

    std::unique_ptr<TestSupport::ProgramFolder> m_folder;
    std::unique_ptr<TADOConnection> m_connection;
    std::unique_ptr<TADOQuery> m_cards;
};

QTEST_MAIN(TestHistory)
#include "tst_history.moc"
