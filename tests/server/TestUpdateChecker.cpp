// The version check against a loopback web host, and the dialog it leads to.
#include <QLabel>
#include <QPointer>
#include <QSignalSpy>
#include <QTest>
#include <memory>

#include "DiagnosticsForm.h"
#include "NewVersionDialog.h"
#include "Server.h"
#include "ServerFixture.h"
#include "TestHttpServer.h"
#include "TestServer.h"
#include "UpdateChecker.h"

class TestUpdateChecker : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<ServerFixture> f;
    std::unique_ptr<TestHttpServer> web;

    // Runs one check; true when it finished within the bound.
    bool RunCheck(UpdateChecker& checker)
    {
        QSignalSpy finished(&checker, &UpdateChecker::CheckFinished);
        checker.Check();
        return finished.wait(30000);
    }

private slots:
    void init()
    {
        f.reset(new ServerFixture);
        web.reset(new TestHttpServer);
        QVERIFY(web->Listen());
        qputenv("QUORVANE_WEB", web->BaseUrl().toUtf8());
    }
    void cleanup()
    {
        web.reset();
        f.reset();
    }

    void newerVersionIsAnnounced()
    {
        web->SetResponse("/qtversion.txt", 200,
                         "20140102\r\nhttp://downloads.example/qv/\r\nquorvane-20140102.tar.gz\r\n"
                         "Faster searches\r\nFewer crashes\r\n");
        UpdateChecker checker;
        QSignalSpy announced(&checker, &UpdateChecker::NewVersion);
        QVERIFY(RunCheck(checker));
        QCOMPARE(announced.count(), 1);
        QCOMPARE(announced.at(0).at(0).toLongLong(), 20140102LL);
        QCOMPARE(announced.at(0).at(1).toString(), QString("http://downloads.example/qv/quorvane-20140102.tar.gz"));
        QCOMPARE(announced.at(0).at(2).toStringList(), (QStringList{"Faster searches", "Fewer crashes"}));
    }

    void sameOrOlderVersionIsNotAnnounced_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::newRow("equal") << QByteArray("20130410\nhttp://x/\nq\n");
        QTest::newRow("older") << QByteArray("20120101\nhttp://x/\nq\nold notes\n");
    }

    void sameOrOlderVersionIsNotAnnounced()
    {
        QFETCH(QByteArray, file);
        web->SetResponse("/qtversion.txt", 200, file);
        UpdateChecker checker;
        QSignalSpy announced(&checker, &UpdateChecker::NewVersion);
        QVERIFY(RunCheck(checker));
        QCOMPARE(announced.count(), 0);
        QCOMPARE(web->RequestCount(), 1);
    }

    void failedChecksAreLoggedOnly_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("logged");
        QTest::newRow("not a number") << 200 << QByteArray("latest\nhttp://x/\nq\n") << "malformed";
        QTest::newRow("too few lines") << 200 << QByteArray("20990101\nhttp://x/\n") << "malformed";
        QTest::newRow("empty") << 200 << QByteArray() << "malformed";
        QTest::newRow("missing") << 404 << QByteArray("not here") << "Version check failed";
    }

    void failedChecksAreLoggedOnly()
    {
        QFETCH(int, status);
        QFETCH(QByteArray, file);
        QFETCH(QString, logged);
        web->SetResponse("/qtversion.txt", status, file);
        UpdateChecker checker;
        QSignalSpy announced(&checker, &UpdateChecker::NewVersion);
        QVERIFY(RunCheck(checker));
        QCOMPARE(announced.count(), 0);
        QVERIFY(f->diagnostics->AreaText("server").contains(logged));
    }

    void checksOnceAfterTheFirstLogin()
    {
        web->SetResponse("/qtversion.txt", 200, "20990101\nhttp://x/\nq\n");
        UpdateChecker checker;
        checker.Init();
        QSignalSpy announced(&checker, &UpdateChecker::NewVersion);
        // Each check is logged as it starts.
        const auto checks = [this] { return f->diagnostics->AreaText("server").count("Checking for a new version"); };
        QCOMPARE(checks(), 0);
        QVERIFY(f->Login());
        QVERIFY(announced.wait(30000));
        QCOMPARE(checks(), 1);

        // The checker hears of the next login before this spy does.
        QSignalSpy connected(f->client, &Server::Connected);
        f->server->Cut("alice");
        QTRY_VERIFY_WITH_TIMEOUT(!f->client->IsConnected(), 30000);
        f->HalfMinuteTick();
        QVERIFY(connected.wait(30000));
        QCOMPARE(checks(), 1);
        QCOMPARE(web->RequestCount(), 1);
        QCOMPARE(announced.count(), 1);
    }

    void dialogOffersTheLinkAndDeletesItselfWhenClosed()
    {
        QPointer<NewVersionDialog> dialog =
            new NewVersionDialog(20140102, "http://downloads.example/q.tar.gz", {"Notes here"}, nullptr);
        QLabel* link = dialog->findChild<QLabel*>("downloadLinkLabel");
        QVERIFY(link);
        QVERIFY(link->text().contains("href=\"http://downloads.example/q.tar.gz\""));
        QVERIFY(link->openExternalLinks());
        QVERIFY(dialog->findChild<QLabel*>("versionLabel")->text().contains("2014.1.2"));
        QCOMPARE(dialog->findChild<QLabel*>("descriptionLabel")->text(), QString("Notes here"));
        dialog->show();
        dialog->close();
        QTRY_VERIFY(dialog.isNull());
    }
};

QTEST_MAIN(TestUpdateChecker)
#include "TestUpdateChecker.moc"
