// The ports the clients of a run listen on: chosen before any client binds
// them, so two clients given one port would find it taken by the first to
// start, and the other's peers would reach the wrong client.
#include <QSet>
#include <QTest>

#include "ClientDataFile.h"

class TestClientPorts : public QObject
{
    Q_OBJECT

private slots:
    // Far more clients than a run starts, each asking for its plain and its
    // obfuscated port as a client's home does: the system offers ports at
    // random, and among this many it offers some twice.
    void noTwoClientsAreGivenOnePort()
    {
        QSet<quint16> given;
        for (int client = 0; client < 200; ++client) {
            const QList<quint16> ports = ClientDataFile::FreePorts(2);
            QCOMPARE(ports.size(), 2);
            for (const quint16 port : ports) {
                QVERIFY2(port != 0 && !given.contains(port),
                         qPrintable(QString("port %1 given twice, again to client %2").arg(port).arg(client)));
                given.insert(port);
            }
        }
    }
};

QTEST_GUILESS_MAIN(TestClientPorts)

#include "TestClientPorts.moc"
