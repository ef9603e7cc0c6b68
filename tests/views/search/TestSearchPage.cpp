// The Search page: its targets, the search history, and what closing a
// result tab takes away, with the real server connection and fake peers.
#include <QMainWindow>
#include <QSignalSpy>

#include "DataSaver.h"
#include "FakeWire.h"
#include "SearchPageFixture.h"
#include "TestServer.h"
#include "TextFit.h"
#include "search/SearchForm.h"
#include "search/SearchResultListItem.h"

namespace {
QImage Image(const QIcon& icon)
{
    return icon.pixmap(16, 16).toImage();
}
} // namespace

class TestSearchPage : public QObject
{
    Q_OBJECT

private slots:
    void eachTargetSendsItsSearchAndOpensItsTab()
    {
        SearchPageFixture s;
        QVERIFY(s.f.Start() && s.Link("alice") && s.f.OnlinePeer("bob"));
        QCOMPARE(s.Entries(s.Targets()), QStringList({"All", "User List"}));

        SearchResultsForm* all = s.Search("  blue train  ");
        QVERIFY(all && s.AnswerNextSearch("alice", {SearchReplyFile("jazz\\blue train.mp3", 1)}));
        QCOMPARE(s.f.Peer("alice")->searchRequests.first().text, QString("blue train"));
        QCOMPARE(all->searchResults()->topLevelItemCount(), 1);
        QCOMPARE(s.ManualTabs()->currentWidget(), all);
        QTRY_VERIFY(all->searchResults()->hasFocus());

        // Only listed users who are online hear a user-list search.
        d.GetType("user")->GetItem("bob") += d.GetType("in_user_list")->NewItem();
        SearchResultsForm* listed = s.Search("giant steps", "User List");
        QVERIFY(listed && s.f.Peer("bob")->WaitForSearchRequests(2));
        QCOMPARE(s.f.Peer("bob")->searchRequests.last().ticket, listed->Ticket());

        // Room entries follow the rooms the user is in; the room's name comes
        // from the target's text.
        s.f.Peer("alice")->SendToServer(14, FakeWire().Str("jazz club").U32(0).Bytes());
        s.f.net.client->EnterRoom("jazz club", false);
        s.f.net.client->EnterRoom("other", false);
        QTRY_COMPARE(s.Targets()->count(), 4);
        s.f.net.client->LeaveRoom("other");
        QTRY_COMPARE(s.Entries(s.Targets()), QStringList({"All", "User List", "Room: jazz club"}));
        QTRY_VERIFY(s.f.net.server->RoomUsers("jazz club").contains("alice"));
        SearchResultsForm* room = s.Search("naima", "Room: jazz club");
        QVERIFY(room && s.AnswerNextSearch("alice", {SearchReplyFile("rooms\\naima.flac", 5)}));
        QCOMPARE(s.f.Peer("alice")->searchRequests.last().text, QString("naima"));
        QCOMPARE(room->searchResults()->topLevelItemCount(), 1);
        QCOMPARE(all->searchResults()->topLevelItemCount(), 1);

        QCOMPARE(s.ManualTabs()->tabText(1), QString("giant steps"));
        const char* icons[] = {":/icons/search_icon", ":/icons/users_icon", ":/icons/room_icon"};
        for (int i = 0; i < 3; ++i)
            QCOMPARE(Image(s.ManualTabs()->tabIcon(i)), Image(QIcon(icons[i])));
        QCOMPARE(s.Entries(s.SearchEdit()), QStringList({"naima", "giant steps", "blue train"}));
        QVERIFY(s.SearchEdit()->lineEdit()->text().isEmpty());
    }

    void theSearchRowShowsItsTextsWholeAtALargeFont()
    {
        // The page as the main window holds it, at the largest application
        // font the user may choose.
        SearchForm page;
        QFont large = page.font();
        large.setPointSize(14);
        page.setFont(large);
        page.resize(1000, 500);
        page.show();
        QVERIFY(QTest::qWaitForWindowExposed(&page));
        const QStringList clipped = TextFit::Clipped(&page);
        QVERIFY2(clipped.isEmpty(), qPrintable(clipped.join("; ")));
    }

    void theHistoryKeepsTheTwentyNewestAcrossARestart()
    {
        QByteArray saved;
        {
            SearchPageFixture s;
            QVERIFY(s.f.Start());
            // Blank text is neither sent nor recorded, and stays in the box.
            QVERIFY(!s.Search("   "));
            QCOMPARE(s.SearchEdit()->lineEdit()->text(), QString("   "));
            for (int i = 1; i <= 21; ++i) {
                s.form->RecordSearch(QString("search %1").arg(i));
                QTest::qWait(2); // distinct times, as a user types them
            }
            s.form->RecordSearch("search 5");
            QCOMPARE(s.SearchEdit()->count(), 20);
            QCOMPARE(s.SearchEdit()->itemText(0), QString("search 5"));
            QCOMPARE(s.SearchEdit()->itemText(1), QString("search 21"));
            QCOMPARE(s.SearchEdit()->itemText(19), QString("search 2"));
            QCOMPARE(SearchPageFixture::Count("search_record"), 20);
            // An entry dropped or moved up leaves no time of its own behind.
            QCOMPARE(SearchPageFixture::Count("search_time"), 20);
            QCOMPARE(SearchPageFixture::Count("search_request"), 0);
            saved = s.f.net.saver->Serialize();
        }
        SearchPageFixture s;
        QVERIFY(s.f.net.saver->Apply(saved));
        QVERIFY(s.f.Start());
        QCOMPARE(s.SearchEdit()->count(), 20);
        QCOMPARE(s.SearchEdit()->itemText(0), QString("search 5"));
        QCOMPARE(s.SearchEdit()->itemText(19), QString("search 2"));
        QVERIFY(s.SearchEdit()->lineEdit()->text().isEmpty());
    }

    void returnSearchesTheTextTypedNotTheHistorysLonger()
    {
        SearchPageFixture s;
        QVERIFY(s.f.Start() && s.Link("alice"));
        s.form->RecordSearch("ordertestrain");
        QLineEdit* edit = s.SearchEdit()->lineEdit();
        edit->clear();
        s.f.Focus(edit);
        QTest::keyClicks(edit, "ordertest");
        QCOMPARE(edit->text(), QString("ordertest"));
        QTest::keyClick(edit, Qt::Key_Return);
        QCOMPARE(s.ManualTabs()->count(), 1);
        QCOMPARE(s.ManualTabs()->tabText(0), QString("ordertest"));
        QVERIFY(s.f.Peer("alice")->WaitForSearchRequests(1));
        QCOMPARE(s.f.Peer("alice")->searchRequests.first().text, QString("ordertest"));
        // The history still offers the longer one, below the box.
        QCOMPARE(s.Entries(s.SearchEdit()), QStringList({"ordertest", "ordertestrain"}));
    }

    void closingATabRemovesEverythingItsSearchMade()
    {
        SearchPageFixture s;
        QVERIFY(s.f.Start());
        const QList<QByteArray> files{SearchReplyFile("a\\b\\one.mp3", 10), SearchReplyFile("a\\b\\two.mp3", 20),
                                      SearchReplyFile("a\\c\\three.mp3", 30)};
        // One round first, so what stays (history, users, the toolbar's
        // records) exists before the count.
        for (int round = 0; round < 2; ++round) {
            const size_t before = d.ItemCount();
            SearchResultsForm* page = s.Search("kind of blue");
            QVERIFY(s.Answer("alice", page->Ticket(), files) && s.Answer("bob", page->Ticket(), files));
            QCOMPARE(SearchPageFixture::Count("search_results_folder_node"), 4);
            const unsigned int ticket = page->Ticket();
            s.form->OnTabCloseRequested(0);
            QCOMPARE(s.ManualTabs()->count(), 0);
            if (round == 0) {
                d.RemoveDisconnectedItems();
                continue;
            }
            QVERIFY(!d.GetType("search_request")->HasItem(Value(ticket)));
            for (const char* type : {"search_results_widget", "search_results", "search_result",
                                     "search_results_user_node", "search_results_folder_node", "search_result_node"})
                QVERIFY2(SearchPageFixture::Count(type) == 0, type);
            QCOMPARE(d.ItemCount(), before);

            // A late answer to the closed ticket is dropped; one to an open
            // search, sent after it, arrives.
            SearchResultsForm* open = s.Search("other");
            QVERIFY(s.Send("alice", ticket, files) && s.Answer("alice", open->Ticket(), files));
            QCOMPARE(SearchPageFixture::Count("search_results"), 1);
        }
    }

    // A closed tab's rows and answers go a slice a turn (here held back,
    // then three a turn). Meanwhile its search takes no more, another tab
    // may close, and an open tab keeps what it shares with them; in the
    // end all that the closed searches made is gone, and so it is when the
    // program ends first.
    void aClosedTabGoesASliceATurnAndWhole()
    {
        SearchPageFixture s;
        QVERIFY(s.f.Start());
        // The server's related searches of a text, which make its item.
        QSignalSpy related(s.f.net.client, &Server::SearchCorrelations);
        auto files = [](const QString& folder, int count) {
            QStringList names;
            for (int i = 0; i < count; ++i)
                names << QString("track %1.mp3").arg(i);
            return SearchPageFixture::Files(folder, names);
        };
        // The history stays; a round first, so the rest that stays exists.
        auto count = [] {
            return d.ItemCount() - SearchPageFixture::Count("search_record") - SearchPageFixture::Count("search_time");
        };
        QVERIFY(s.Answer("alice", s.Search("warm up")->Ticket(), files("a\\b", 2)));
        SearchResultsForm* open = s.Search("open");
        QVERIFY(s.Answer("alice", open->Ticket(), files("a\\b", 3)));
        QTRY_COMPARE(related.count(), 2);
        s.form->OnTabCloseRequested(0);
        d.RemoveDisconnectedItems();
        const size_t withOpen = count();

        s.form->SetSliceSize(0);
        const unsigned int filling = s.Search("filling")->Ticket();
        SearchResultsForm* other = s.Search("other");
        QTRY_COMPARE(related.count(), 4);
        // Closed as the first part of a reply larger than a part shows.
        QObject closer;
        QObject::connect(s.f.net.peer, &PeerMessenger::SearchResults, &closer, [&](ItemPtr results) {
            if (results["search_request"].AsUInt() == filling)
                emit s.ManualTabs()->tabCloseRequested(1);
        });
        QVERIFY(s.Answer("alice", filling, files("a\\b", 1500)));
        QCOMPARE(s.ManualTabs()->count(), 2);
        QVERIFY(s.form->IsClosingTabs());
        QVERIFY(!d.GetType("search_request")->HasItem(Value(filling)));
        // The rest of that reply and a late one are dropped.
        QVERIFY(s.Send("alice", filling, files("c", 2)) && s.Answer("alice", other->Ticket(), files("d", 2)));
        QCOMPARE(SearchPageFixture::Count("search_result"), 3 + 1000 + 2);
        s.form->OnTabCloseRequested(s.ManualTabs()->indexOf(other));

        s.form->SetSliceSize(3);
        QVERIFY(s.form->IsClosingTabs());
        QTRY_VERIFY_WITH_TIMEOUT(!s.form->IsClosingTabs(), 30000);
        QCOMPARE(SearchPageFixture::Count("search_result"), 3);
        QCOMPARE(SearchPageFixture::Count("search_result_node"), 3);
        QCOMPARE(open->searchResults()->topLevelItem(0)->child(0)->text(SearchResultListItem::FolderColumn),
                 QString("b/a"));
        QCOMPARE(count(), withOpen);

        s.form->SetSliceSize(0);
        QVERIFY(s.Answer("alice", s.Search("last")->Ticket(), files("e", 5)));
        s.form->OnTabCloseRequested(1);
        QVERIFY(s.form->IsClosingTabs());
    }
};

QTEST_MAIN(TestSearchPage)
#include "TestSearchPage.moc"
