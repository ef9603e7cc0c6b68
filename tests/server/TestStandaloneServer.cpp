// The test server as a program of its own: it reports its port, serves two
// users and reports their logins and logouts, as end-to-end runs of real
// clients need.
#include <QProcess>
#include <QTest>

#include "RawClient.h"
#include "TestMessage.h"

class TestStandaloneServer : public QObject
{
    Q_OBJECT

private slots:
    void servesUsersOnThePortItPrints()
    {
        QProcess process;
        process.start(QUORVANE_TESTSERVER_PATH, {"0"});
        QVERIFY(process.waitForStarted(5000));
        // The port comes once the program has started and listens: a busy
        // machine may hold it for seconds before then.
        QVERIFY(process.waitForReadyRead(30000));
        bool ok = false;
        const uint port = QString::fromLatin1(process.readLine()).trimmed().toUInt(&ok);
        QVERIFY(ok && port > 0 && port < 65536);

        RawClient alice{quint16(port)}, bob{quint16(port)};
        QVERIFY(alice.Login("alice"));
        QVERIFY(bob.Login("bob"));
        alice.Send(22, TestMessage().Str("bob").Str("over the wire").Body());
        QByteArray body;
        QVERIFY(bob.WaitFor(22, &body));
        TestMessage in(body);
        quint32 time = 0;
        QString from, text;
        QVERIFY(in.ReadU32(time) && in.ReadStr(from) && in.ReadStr(text));
        QCOMPARE(from, QString("alice"));
        QCOMPARE(text, QString("over the wire"));

        // What it reports after the port, a line at a time.
        QStringList lines;
        const auto sawLine = [&](const QString& line) {
            while (process.canReadLine())
                lines << QString::fromUtf8(process.readLine()).trimmed();
            return lines.contains(line);
        };
        QVERIFY2(QTest::qWaitFor([&] { return sawLine("logged in bob"); }, 30000), qPrintable(lines.join('|')));
        auto* carol = new RawClient{quint16(port)};
        QVERIFY(carol->Login("carol"));
        delete carol;
        QVERIFY2(QTest::qWaitFor([&] { return sawLine("logged out carol"); }, 30000), qPrintable(lines.join('|')));
        QCOMPARE(lines, QStringList({"logged in alice", "logged in bob", "logged in carol", "logged out carol"}));

        process.kill();
        QVERIFY(process.waitForFinished(5000));
    }

    void refusesABadPort()
    {
        QProcess process;
        process.start(QUORVANE_TESTSERVER_PATH, {"70000"});
        QVERIFY(process.waitForFinished(30000));
        QCOMPARE(process.exitCode(), 2);
    }
};

QTEST_MAIN(TestStandaloneServer)
#include "TestStandaloneServer.moc"
