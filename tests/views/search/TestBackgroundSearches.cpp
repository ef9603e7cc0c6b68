// Searches without the user at the keyboard: the wish-list searcher's
// period as the server sets it and the order of its turns, and the log of
// other users' searches.
#include "FakePeer.h"
#include "FakeWire.h"
#include "SearchPageFixture.h"
#include "SharedFoldersManager.h"
#include "TestMessage.h"
#include "TestServer.h"
#include "search/ReceivedSearchesForm.h"
#include "search/WishListSearcher.h"

namespace {

// The texts of the wish-list searches (message 103) the server received.
QStringList SentWishListSearches(TestServer* server)
{
    QStringList texts;
    for (const TestServer::Received& message : server->ReceivedMessages(103)) {
        TestMessage in(message.body);
        quint32 ticket = 0;
        QString text;
        if (in.ReadU32(ticket) && in.ReadStr(text))
            texts << text;
    }
    return texts;
}

} // namespace

class TestBackgroundSearches : public QObject
{
    Q_OBJECT

private slots:
    void theSearcherKeepsTheServersPeriodAndTurnsInTextOrder()
    {
        ViewFixture f;
        WishListSearcher searcher;
        f.net.server->SetWishListInterval(600);
        QVERIFY(!searcher.IsRunning());
        QVERIFY(f.Start());
        QTRY_VERIFY(searcher.IsRunning());
        QCOMPARE(searcher.Period(), 600000);
        // No period at all would flood the server: the last one stays.
        searcher.OnWishListWait(0);
        QVERIFY(searcher.IsRunning() && searcher.Period() == 600000);
        searcher.OnWishListWait(4000000000u);
        QCOMPARE(searcher.Period(), 2147483000);

        for (const char* text : {"b", "B", "a"})
            d.GetType("wish_list_item")->GetItem(text) += d.GetType("wish_list_item_enabled")->GetGlobalNullItem();
        d.GetType("wish_list_item")->GetItem("0 disabled");
        for (int i = 0; i < 4; ++i)
            searcher.OnSearchTimerTimeout();
        QTRY_COMPARE(SentWishListSearches(f.net.server), QStringList({"B", "a", "b", "B"}));
        QCOMPARE(GetRuntimeSetting("wish_list_search_index"), QString("1"));
        // Searches removed meanwhile: the turn wraps round.
        SetRuntimeSetting("wish_list_search_index", "5");
        searcher.OnSearchTimerTimeout();
        QTRY_COMPARE(SentWishListSearches(f.net.server).size(), 5);
        QCOMPARE(SentWishListSearches(f.net.server).last(), QString("b"));
        QCOMPARE(GetRuntimeSetting("wish_list_search_index"), QString("0"));
        // Nothing enabled: nothing sent, and the turn stays.
        d.GetType("wish_list_item_enabled")->GetGlobalNullItem().Remove();
        SetRuntimeSetting("wish_list_search_index", "2");
        searcher.OnSearchTimerTimeout();
        QCOMPARE(GetRuntimeSetting("wish_list_search_index"), QString("2"));
    }

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
        QTRY_COMPARE(list->topLevelItemCount(), 1);
        QCOMPARE(list->topLevelItem(0)->text(0), QString("<b>rare</b>"));

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
        QCOMPARE(list->topLevelItem(0)->text(0) + list->topLevelItem(1)->text(0), QString("seensearch 500"));
        QVERIFY(s.f.ToolbarAction("Pause"));
    }
};

QTEST_MAIN(TestBackgroundSearches)
#include "TestBackgroundSearches.moc"
