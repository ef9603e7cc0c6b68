// The received-searches log: newest first up to its cap, the match mark,
// pausing from the toolbar.
#include "FakePeer.h"
#include "FakeWire.h"
#include "SearchPageFixture.h"
#include "SharedFoldersManager.h"
#include "search/ReceivedSearchesForm.h"

namespace {

QStringList Column(QTreeWidget* list, int column)
{
    QStringList texts;
    for (int i = 0; i < list->topLevelItemCount(); ++i)
        texts << list->topLevelItem(i)->text(column);
    return texts;
}

} // namespace

class TestReceivedSearches : public QObject
{
    Q_OBJECT

private slots:
    void receivedSearchesListTheNewestAndPause()
    {
        SearchPageFixture s;
        QVERIFY(s.f.Start());
        ReceivedSearchesForm* log = receivedSearchesForm;
        QVERIFY(log && log->parentWidget());
        auto* list = log->findChild<QTreeWidget*>("searchList");
        FakePeer* alice = s.f.net.AddPeer("alice");
        QVERIFY(alice);
        alice->SendToServer(42, FakeWire().Str("me").U32(7).Str("<b>rare</b>").Bytes());
        QTRY_COMPARE(Column(list, 0), QStringList({"<b>rare</b>"}));
        QVERIFY(list->topLevelItem(0)->text(1).isEmpty());

        for (int i = 1; i <= ReceivedSearchesForm::Capacity; ++i)
            emit s.f.shares->SearchProcessed(QString("search %1").arg(i), i % 2 == 0);
        QCOMPARE(list->topLevelItemCount(), ReceivedSearchesForm::Capacity);
        QCOMPARE(list->topLevelItem(0)->text(0), QString("search 500"));
        QCOMPARE(list->topLevelItem(0)->text(1), QString("Match"));
        QCOMPARE(list->topLevelItem(0)->foreground(1).color(), QColor("#005500"));
        QVERIFY(list->topLevelItem(1)->text(1).isEmpty());
        QCOMPARE(list->topLevelItem(499)->text(0), QString("search 1"));

        // Pausing: only this log's own action, and nothing is kept meanwhile.
        log->OnActionTriggered(list, "pause_unpause");
        QVERIFY(!log->IsPaused());
        QVERIFY(s.f.Focus(list));
        s.f.ToolbarAction("Pause")->trigger();
        QVERIFY(log->IsPaused() && s.f.ToolbarAction("Resume"));
        emit s.f.shares->SearchProcessed("missed", true);
        s.f.ToolbarAction("Resume")->trigger();
        emit s.f.shares->SearchProcessed("seen", false);
        QCOMPARE(Column(list, 0).mid(0, 2), QStringList({"seen", "search 500"}));
        QVERIFY(s.f.ToolbarAction("Pause"));
    }
};

QTEST_MAIN(TestReceivedSearches)
#include "TestReceivedSearches.moc"
