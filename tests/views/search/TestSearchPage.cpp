// The Search page: its targets, the history of searches, and closing a
// result tab, with the real server connection and fake peers.
#include <QTest>

#include "DataSaver.h"
#include "FakeWire.h"
#include "SearchPageFixture.h"
#include "Server.h"
#include "TestServer.h"

namespace {

QImage ImageOf(const QIcon& icon)
{
    return icon.pixmap(16, 16).toImage();
}

} // namespace

class TestSearchPage : public QObject
{
    Q_OBJECT

private slots:
    void eachTargetSendsItsSearchAndOpensItsTab();
    void roomEntriesFollowTheRoomsTheUserIsIn();
    void theHistoryKeepsTheTwentyNewestTextsNewestFirst();
    void theHistoryComesBackNewestFirstAfterARestart();
    void blankSearchesAreNotSentNorRecorded();
    void closingATabRemovesEverythingItsSearchMade();
    void resultsNoTabWillShowLeaveTheStore();
};

void TestSearchPage::eachTargetSendsItsSearchAndOpensItsTab()
{
    SearchPageFixture s;
    QVERIFY(s.Start());
    QCOMPARE(s.Targets()->count(), 2);
    QCOMPARE(s.Targets()->itemText(0), QString("All"));
    QCOMPARE(s.Targets()->itemText(1), QString("User List"));

    // A network-wide search reaches every peer through the server.
    QVERIFY(s.Link("alice"));
    SearchResultsForm* all = s.Search("  blue train  ");
    QVERIFY(all);
    QCOMPARE(all->SearchText(), QString("blue train"));
    QVERIFY(s.AnswerNextSearch("alice", {SearchReplyFile("music\\jazz\\blue train.mp3", 1000)}));
    QCOMPARE(s.f->Peer("alice")->searchRequests.first().text, QString("blue train"));
    QTRY_COMPARE(all->searchResults()->topLevelItemCount(), 1);
    QCOMPARE(s.ManualTabs()->tabText(0), QString("blue train"));
    QCOMPARE(ImageOf(s.ManualTabs()->tabIcon(0)), ImageOf(QIcon(":/icons/search_icon")));
    // The new tab comes to the front with its results tree focused.
    QCOMPARE(s.ManualTabs()->currentWidget(), all);
    QTRY_VERIFY(all->searchResults()->hasFocus());

    // The user list: only listed users who are online hear it.
    QVERIFY(s.f->OnlinePeer("bob"));
    d.GetType("user")->GetItem("bob") += d.GetType("in_user_list")->NewItem();
    SearchResultsForm* listed = s.Search("giant steps", "User List");
    QVERIFY(listed);
    QVERIFY(s.f->Peer("bob")->WaitForSearchRequests(1));
    QCOMPARE(s.f->Peer("bob")->searchRequests.last().text, QString("giant steps"));
    QCOMPARE(s.f->Peer("bob")->searchRequests.last().ticket, listed->Ticket());
    QCOMPARE(ImageOf(s.ManualTabs()->tabIcon(1)), ImageOf(QIcon(":/icons/users_icon")));

    // A room: the room's name comes from the target's text.
    s.f->Peer("alice")->SendToServer(14, FakeWire().Str("jazz club").U32(0).Bytes());
    s.f->net.client->EnterRoom("jazz club", false);
    QTRY_COMPARE(s.Targets()->count(), 3);
    QTRY_VERIFY(s.f->net.server->RoomUsers("jazz club").contains("alice"));
    SearchResultsForm* room = s.Search("naima", "Room: jazz club");
    QVERIFY(room);
    QVERIFY(s.f->Peer("alice")->WaitForSearchRequests(2));
    QCOMPARE(s.f->Peer("alice")->searchRequests.last().text, QString("naima"));
    QCOMPARE(s.f->net.server->ReceivedMessages(120).size(), 1);
    QCOMPARE(s.ManualTabs()->tabText(2), QString("naima"));
    QCOMPARE(ImageOf(s.ManualTabs()->tabIcon(2)), ImageOf(QIcon(":/icons/room_icon")));
    QVERIFY(s.AnswerNextSearch("alice", {SearchReplyFile("rooms\\naima.flac", 5)}));
    QTRY_COMPARE(room->searchResults()->topLevelItemCount(), 1);
    QCOMPARE(all->searchResults()->topLevelItemCount(), 1);

    // Each search goes into the history and leaves the box empty.
    QCOMPARE(s.History(), QStringList({"naima", "giant steps", "blue train"}));
    QVERIFY(s.SearchEdit()->lineEdit()->text().isEmpty());
}

void TestSearchPage::roomEntriesFollowTheRoomsTheUserIsIn()
{
    SearchPageFixture s;
    QVERIFY(s.Start());
    s.f->net.client->EnterRoom("first", false);
    s.f->net.client->EnterRoom("second", false);
    QTRY_COMPARE(s.Targets()->count(), 4);
    s.f->net.client->LeaveRoom("first");
    QTRY_COMPARE(s.Targets()->count(), 3);
    QCOMPARE(s.Targets()->itemText(0), QString("All"));
    QCOMPARE(s.Targets()->itemText(1), QString("User List"));
    QCOMPARE(s.Targets()->itemText(2), QString("Room: second"));
}

void TestSearchPage::theHistoryKeepsTheTwentyNewestTextsNewestFirst()
{
    SearchPageFixture s;
    QVERIFY(s.Start());
    QStringList expected;
    for (int i = 1; i <= 21; ++i) {
        s.form->RecordSearch(QString("search %1").arg(i));
        expected.prepend(QString("search %1").arg(i));
        // Distinct times, as a user types them.
        QTest::qWait(2);
    }
    expected.removeLast();
    QCOMPARE(s.History(), expected);
    QCOMPARE(SearchPageFixture::Count("search_record"), 20);
    QVERIFY(!d.GetType("search_record")->HasItem("search 1"));

    // A repeated text moves to the top without a second entry.
    s.form->RecordSearch("search 5");
    expected.removeAll("search 5");
    expected.prepend("search 5");
    QCOMPARE(s.History(), expected);
    QCOMPARE(SearchPageFixture::Count("search_record"), 20);
    QTest::qWait(2);
    s.form->RecordSearch("search 22");
    QCOMPARE(s.History().first(), QString("search 22"));
    QVERIFY(!s.History().contains("search 2"));
    QVERIFY(s.History().contains("search 5"));
}

void TestSearchPage::theHistoryComesBackNewestFirstAfterARestart()
{
    QByteArray saved;
    {
        SearchPageFixture s;
        QVERIFY(s.Start());
        for (const char* text : {"oldest", "middle", "newest"}) {
            s.form->RecordSearch(text);
            QTest::qWait(2);
        }
        saved = s.f->net.saver->Serialize();
    }
    SearchPageFixture s;
    QVERIFY(s.f->net.saver->Apply(saved));
    QVERIFY(s.Start());
    QCOMPARE(s.History(), QStringList({"newest", "middle", "oldest"}));
    QVERIFY(s.SearchEdit()->lineEdit()->text().isEmpty());
}

void TestSearchPage::blankSearchesAreNotSentNorRecorded()
{
    SearchPageFixture s;
    QVERIFY(s.Start());
    s.f->net.server->ClearReceived();
    QVERIFY(!s.Search("   "));
    QCOMPARE(s.SearchEdit()->lineEdit()->text(), QString("   "));
    QVERIFY(s.History().isEmpty());
    s.form->RecordSearch(" \t ");
    QVERIFY(s.History().isEmpty());
    QCOMPARE(SearchPageFixture::Count("search_record"), 0);
    QCOMPARE(SearchPageFixture::Count("search_request"), 0);
    // The server heard nothing either: a search after it is the first.
    QVERIFY(s.Search("real"));
    QTRY_COMPARE(s.f->net.server->Count(26), 1);
}

void TestSearchPage::closingATabRemovesEverythingItsSearchMade()
{
    SearchPageFixture s;
    QVERIFY(s.Start());
    const QList<QByteArray> files{SearchReplyFile("a\\b\\one.mp3", 10), SearchReplyFile("a\\b\\two.mp3", 20),
                                  SearchReplyFile("a\\c\\three.mp3", 30)};
    // One round first, so that what stays (the history, the users, the
    // toolbar's records) exists before the count.
    SearchResultsForm* page = s.Search("kind of blue");
    QVERIFY(page);
    QVERIFY(s.Answer("alice", page->Ticket(), files));
    QVERIFY(s.Answer("bob", page->Ticket(), files));
    s.form->OnTabCloseRequested(0);
    d.RemoveDisconnectedItems();
    const size_t before = d.ItemCount();

    page = s.Search("kind of blue");
    const unsigned int ticket = page->Ticket();
    QVERIFY(s.Answer("alice", ticket, files));
    QVERIFY(s.Answer("bob", ticket, files));
    QTRY_COMPARE(page->searchResults()->topLevelItemCount(), 2);
    QCOMPARE(SearchPageFixture::Count("search_result_node"), 6);
    QCOMPARE(SearchPageFixture::Count("search_results_folder_node"), 4);

    s.form->OnTabCloseRequested(0);
    QCOMPARE(s.ManualTabs()->count(), 0);
    QVERIFY(!d.GetType("search_request")->HasItem(Value(ticket)));
    for (const char* type : {"search_results_widget", "search_results", "search_result", "search_results_user_node",
                             "search_results_folder_node", "search_result_node"})
        QVERIFY2(SearchPageFixture::Count(type) == 0, type);
    QCOMPARE(d.ItemCount(), before);

    // A late answer to the closed ticket is dropped; the next one of an
    // open search still arrives.
    SearchResultsForm* open = s.Search("other");
    QVERIFY(s.Send("alice", ticket, files));
    QVERIFY(s.Answer("alice", open->Ticket(), files));
    QCOMPARE(SearchPageFixture::Count("search_results"), 1);
}

void TestSearchPage::resultsNoTabWillShowLeaveTheStore()
{
    SearchPageFixture s;
    QVERIFY(s.Start());
    // A disabled wish-list search: its ticket has a request but no tab, and
    // none is opened for it.
    d.GetType("wish_list_item")->GetItem("so what");
    const unsigned int ticket = s.f->net.client->FileSearch("so what", "so what");
    QVERIFY(s.Answer("alice", ticket, {SearchReplyFile("x\\so what.mp3", 1), SearchReplyFile("x\\b.mp3", 2)}));
    QCOMPARE(s.WishTabs()->count(), 0);
    QCOMPARE(SearchPageFixture::Count("search_results"), 0);
    QCOMPARE(SearchPageFixture::Count("search_result"), 0);
}

QTEST_MAIN(TestSearchPage)
#include "TestSearchPage.moc"
