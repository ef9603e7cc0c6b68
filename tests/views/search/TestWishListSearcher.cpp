// The wish-list searcher's period as the server sets it, and the order in
// which its turns send the enabled searches.
#include <QTest>

#include "Data.h"
#include "Settings.h"
#include "TestMessage.h"
#include "TestServer.h"
#include "ViewFixture.h"
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

void Store(const QString& text, bool enabled)
{
    ItemPtr item = d.GetType("wish_list_item")->GetItem(text);
    if (enabled)
        item += d.GetType("wish_list_item_enabled")->GetGlobalNullItem();
}

} // namespace

class TestWishListSearcher : public QObject
{
    Q_OBJECT

private slots:
    void theServerSetsThePeriodWithinBounds()
    {
        ViewFixture f;
        WishListSearcher searcher;
        f.net.server->SetWishListInterval(600);
        QVERIFY(!searcher.IsRunning());
        QVERIFY(f.Start());
        QTRY_VERIFY(searcher.IsRunning());
        QCOMPARE(searcher.Period(), 600000);
        QCOMPARE(GetRuntimeSetting("wish_list_wait"), QString("600"));
        // No period at all would flood the server: the last one stays.
        searcher.OnWishListWait(0);
        QVERIFY(searcher.IsRunning());
        QCOMPARE(searcher.Period(), 600000);
        searcher.OnWishListWait(4000000000u);
        QCOMPARE(searcher.Period(), 2147483000);
        QCOMPARE(GetRuntimeSetting("wish_list_wait"), QString("4000000000"));
    }

    void turnsSendTheEnabledSearchesInTextOrder()
    {
        ViewFixture f;
        WishListSearcher searcher;
        QVERIFY(f.Start());
        Store("b", true);
        Store("B", true);
        Store("a", true);
        Store("0 disabled", false);
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
        QCOMPARE(d.GetType("search_request")->Count(), size_t(5));
    }
};

QTEST_MAIN(TestWishListSearcher)
#include "TestWishListSearcher.moc"
