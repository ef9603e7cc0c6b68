// A room's wall, following the server's whole and single updates, with
// writers' names and texts as plain text and bounded, and posting to it;
// and the dialog that creates or enters a room.
#include <QCheckBox>
#include <QPointer>
#include <QPushButton>
#include <QStyledItemDelegate>
#include <QToolTip>

#include "RoomsSetup.h"
#include "common/PeerText.h"
#include "rooms/CreateRoomDialog.h"
#include "rooms/RoomWallForm.h"

class TestRoomWallForm : public QObject
{
    Q_OBJECT

private:
    RoomsSetup s;
    RoomWallForm* m_wall = nullptr;

    bool WallOfLobby(const QList<TestServer::WallMessage>& messages)
    {
        s.Make();
        if (!s.Start())
            return false;
        s.Server()->AddRoom("lobby");
        s.Server()->SetRoomWall("lobby", messages);
        RoomForm* page = s.Enter("lobby");
        if (!page || !s.Trigger(RoomsSetup::Edit(page), "Room Wall"))
            return false;
        m_wall = qobject_cast<RoomWallForm*>(s.Tabs()->currentWidget());
        return m_wall != nullptr;
    }

    QStringList Shown() const { return m_wall->Shown(); }
    QTreeWidget* WallList() const { return m_wall->findChild<QTreeWidget*>("wallList"); }
    // What the list draws in a cell, through its delegate.
    QString Drawn(int row, int column) const
    {
        const QModelIndex index = WallList()->model()->index(row, column);
        auto* delegate = qobject_cast<QStyledItemDelegate*>(WallList()->itemDelegate(index));
        return delegate ? delegate->displayText(index.data(), QLocale()) : QString();
    }

private slots:
    void cleanup() { s.Stop(); }

    void theWallShowsTheHighestPositionFirstInAlternatingRows()
    {
        QVERIFY(WallOfLobby({{"a", "one"}, {"b", "two"}, {"c", "three"}}));
        // The wall follows the join's answer, in the same turn or a later one.
        QTRY_COMPARE(Shown(), (QStringList{"three -c", "two -b", "one -a"}));
        // White, grey, white: the list's own alternation, from white.
        QVERIFY(WallList()->alternatingRowColors());
        QCOMPARE(WallList()->palette().color(QPalette::Base), QColor("#ffffff"));
        QCOMPARE(WallList()->palette().color(QPalette::AlternateBase), QColor("#d3d3d3"));
        QVERIFY(WallList()->topLevelItem(0)->font(0).bold());
        QCOMPARE(WallList()->topLevelItem(0)->foreground(1).color(), QColor("#0033ff"));
    }

    void theWallFollowsSingleAndWholeUpdates()
    {
        QVERIFY(WallOfLobby({{"a", "one"}, {"b", "two"}}));
        s.Server()->PostToWall("lobby", "c", "three");
        QTRY_COMPARE(Shown(), (QStringList{"three -c", "two -b", "one -a"}));
        // A writer's new message takes the place of the old one.
        s.Server()->PostToWall("lobby", "a", "uno");
        QTRY_COMPARE(Shown(), (QStringList{"uno -a", "three -c", "two -b"}));
        s.Server()->PostToWall("lobby", "c", "");
        QTRY_COMPARE(Shown(), (QStringList{"uno -a", "two -b"}));

        s.Server()->SetRoomWall("lobby", {{"z", "all new"}});
        s.Server()->SendRoomWall("lobby");
        QTRY_COMPARE(Shown(), QStringList{"all new -z"});
        s.Server()->SetRoomWall("lobby", {});
        s.Server()->SendRoomWall("lobby");
        QTRY_COMPARE(Shown(), QStringList());
    }

    void writersAndTextsArePlainText()
    {
        const QString name = "<a href=\"file:///etc/passwd\">admin</a>";
        const QString text = "<img src=\"file:///etc/hostname\"> 1 < 2  & more\nand a second line";
        QVERIFY(WallOfLobby({{name, text}}));
        QTRY_COMPARE(Shown(), QStringList{text + " -" + name});
        // Drawn on one line with the break visible, in its own direction.
        QCOMPARE(Drawn(0, 0), PeerText::Line(text));
        QVERIFY(!Drawn(0, 0).contains('\n'));
        QCOMPARE(Drawn(0, 1), PeerText::Line("-" + name));
    }

    void aHugeMessageOrNameShowsAsMuchAsAChatLine()
    {
        QVERIFY(WallOfLobby({{"a", "one"}}));
        const QString huge = QString(1024 * 1024 - 1, 'w') + "!";
        const QString name = QString(300, 'n');
        s.Server()->PostToWall("lobby", name, huge);
        QTRY_COMPARE(Shown().size(), 2);
        const QString text = WallList()->topLevelItem(0)->text(0);
        QCOMPARE(
            text,
            QString(PeerText::LineCap, 'w') +
                QString(" %1 (%2 more characters not shown)").arg(QChar(0x2026)).arg(huge.size() - PeerText::LineCap));
        QCOMPARE(WallList()->topLevelItem(0)->text(1), "-" + PeerText::Bounded(name, PeerText::NameCap));
        QCOMPARE(Shown().last(), QString("one -a"));
    }

    void aFloodOfMessagesMovesOnlyTheirOwnRows()
    {
        QVERIFY(WallOfLobby({{"a", "one"}, {"b", "two"}}));
        // Rows stay the same objects as others come and go: nothing is
        // rebuilt for one message.
        QTreeWidgetItem* two = WallList()->topLevelItem(0);
        QTreeWidgetItem* one = WallList()->topLevelItem(1);
        const int flood = 300;
        QByteArray burst;
        for (int i = 0; i < flood; ++i)
            burst += TestMessage::Frame(
                114, TestMessage().Str("lobby").Str(QString("w%1").arg(i)).Str(QString("news %1").arg(i)).Body());
        // One writer's message replaces its earlier one in the same burst.
        burst += TestMessage::Frame(114, TestMessage().Str("lobby").Str("w0").Str("news again").Body());
        QVERIFY(s.Server()->SendRaw("me", burst));
        // The burst is handled in order over several turns: its last
        // message shown means all of it is.
        QTRY_COMPARE_WITH_TIMEOUT(Shown().value(0), QString("news again -w0"), 30000);
        QCOMPARE(WallList()->topLevelItemCount(), flood + 2);
        QCOMPARE(Shown().at(1), QString("news %1 -w%1").arg(flood - 1));
        QCOMPARE(WallList()->topLevelItem(flood), two);
        QCOMPARE(WallList()->topLevelItem(flood + 1), one);
        QVERIFY(!Shown().contains("news 0 -w0"));
    }

    void postingSendsTheTrimmedTextAndNothingForBlanks()
    {
        QVERIFY(WallOfLobby({}));
        QCOMPARE(Shown(), QStringList());
        auto* line = m_wall->findChild<QLineEdit*>("lineEdit");
        line->setText("   ");
        QTest::keyClick(line, Qt::Key_Return);
        QCOMPARE(line->text(), QString("   "));
        line->setText("  my news  ");
        QTest::keyClick(line, Qt::Key_Return);
        QCOMPARE(line->text(), QString());
        QTRY_COMPARE(Shown(), QStringList{"my news -me"});
        QCOMPARE(s.SentNames(116), QStringList{"lobby"});
        TestMessage sent(s.Server()->ReceivedMessages(116).first().body);
        QString room, posted;
        QVERIFY(sent.ReadStr(room) && sent.ReadStr(posted));
        QCOMPARE(posted, QString("my news"));
    }

    void aPostTypedOutOfTheServerIsKeptAndSaidNotToBeSent()
    {
        QVERIFY(WallOfLobby({}));
        QSignalSpy lost(s.fixture->net.client, &Server::Disconnected);
        s.Server()->Cut("me");
        QVERIFY(lost.wait(30000));
        auto* line = m_wall->findChild<QLineEdit*>("lineEdit");
        line->setText("my news");
        QTest::keyClick(line, Qt::Key_Return);
        QCOMPARE(line->text(), QString("my news"));
        QTRY_COMPARE(QToolTip::text(), QString("Not sent: not connected to the server."));

        QSignalSpy back(s.fixture->net.client, &Server::Connected);
        s.fixture->Tick();
        QVERIFY(back.wait(30000));
        QTest::keyClick(line, Qt::Key_Return);
        QCOMPARE(line->text(), QString());
        QTRY_COMPARE(s.SentNames(116), QStringList{"lobby"});
    }

    void theCreateDialogEntersTheTrimmedNameOnce()
    {
        s.Make();
        QVERIFY(s.Start());
        QVERIFY(s.Trigger(s.List(), "Create Room"));
        QPointer<CreateRoomDialog> dialog = createRoomDialog;
        QVERIFY(dialog);
        auto* name = dialog->findChild<QLineEdit*>("roomNameEdit");
        auto* button = dialog->findChild<QPushButton*>("createRoomButton");
        name->setText("   ");
        button->click();
        QVERIFY(dialog->isVisible());
        QCOMPARE(createRoomDialog, dialog.data());

        name->setText("  lobby  ");
        button->click();
        QVERIFY(!dialog->isVisible());
        QCOMPARE(createRoomDialog, nullptr);
        QTRY_VERIFY(!dialog);
        QTRY_VERIFY(s.rooms->FindRoomForm("lobby"));
        QCOMPARE(s.Server()->ReceivedMessages(14).first().body, TestMessage().Str("lobby").U32(0).Body());
        QVERIFY(!s.Server()->IsPrivateRoom("lobby"));

        // A new dialog for the next room; ticked, the room is private.
        QVERIFY(s.Trigger(s.List(), "Create Room"));
        QVERIFY(createRoomDialog && createRoomDialog != nullptr);
        createRoomDialog->findChild<QLineEdit*>("roomNameEdit")->setText("hideout");
        createRoomDialog->findChild<QCheckBox*>("createPrivateCheckBox")->setChecked(true);
        createRoomDialog->findChild<QPushButton*>("createRoomButton")->click();
        QTRY_VERIFY(s.rooms->FindRoomForm("hideout"));
        QCOMPARE(s.Server()->ReceivedMessages(14).last().body, TestMessage().Str("hideout").U32(1).Body());
        QCOMPARE(s.Server()->RoomOwner("hideout"), QString("me"));
        QTRY_VERIFY(s.RoomItem("hideout").IsConnected("is_owner"));
    }
};

QTEST_MAIN(TestRoomWallForm)
#include "TestRoomWallForm.moc"
