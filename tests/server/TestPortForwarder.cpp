// Port forwarding on its worker thread with a stand-in gateway: real UPnP
// discovery would multicast beyond this machine, which tests never do.
#include <QSemaphore>
#include <QSignalSpy>
#include <QTest>
#include <QThread>
#include <memory>
#include <mutex>

#include "DiagnosticsForm.h"
#include "PortForwarder.h"
#include "PortForwarderWorker.h"
#include "Server.h"
#include "ServerFixture.h"
#include "Settings.h"

namespace {
// What the stand-in gateway saw; outlives the worker, which its thread
// deletes.
struct GatewayLog
{
    // A standard mutex, so that scripts/tsan sees the locking.
    std::mutex mutex;
    QList<quint16> added;
    QList<quint16> deleted;
    QThread* discoveryThread = nullptr;
    int discoveries = 0;
    QSemaphore started;
    QSemaphore gate;
};

class FakeWorker : public PortForwarderWorker
{
public:
    FakeWorker(std::shared_ptr<GatewayLog> log, bool present, bool gated)
        : m_log(std::move(log)), m_present(present), m_gated(gated)
    {
    }

protected:
    bool DiscoverGateway(QString& description, QString& error) override
    {
        {
            std::lock_guard<std::mutex> lock(m_log->mutex);
            m_log->discoveryThread = QThread::currentThread();
            ++m_log->discoveries;
        }
        m_log->started.release();
        if (m_gated)
            m_log->gate.tryAcquire(1, 10000);
        if (!m_present) {
            error = "nobody answered";
            return false;
        }
        description = "stand-in gateway";
        return true;
    }
    int AddPortMapping(quint16 port) override
    {
        std::lock_guard<std::mutex> lock(m_log->mutex);
        m_log->added.append(port);
        return 0;
    }
    int DeletePortMapping(quint16 port) override
    {
        std::lock_guard<std::mutex> lock(m_log->mutex);
        m_log->deleted.append(port);
        return 0;
    }
    void ReleaseGateway() override {}

private:
    std::shared_ptr<GatewayLog> m_log;
    bool m_present;
    bool m_gated;
};
} // namespace

class TestPortForwarder : public QObject
{
    Q_OBJECT

private slots:
    void discoveryWithoutGatewayEndsLogsAndDoesNotBlock()
    {
        auto log = std::make_shared<GatewayLog>();
        ServerFixture f(new FakeWorker(log, false, true));
        QSignalSpy discovered(portForwarder, &PortForwarder::GatewayDiscovered);
        portForwarder->Init();
        // Init has returned while discovery is still held on the worker.
        QVERIFY(log->started.tryAcquire(1, 5000));
        QCOMPARE(discovered.count(), 0);
        {
            std::lock_guard<std::mutex> lock(log->mutex);
            QVERIFY(log->discoveryThread != QThread::currentThread());
        }
        log->gate.release();
        QVERIFY(discovered.wait(30000));
        QCOMPARE(discovered.at(0).at(0).toBool(), false);
        QVERIFY(f.diagnostics->AreaText("Port Forwarding").contains("No Internet gateway found: nobody answered"));
    }

    void loginMapsBothPortsAndExitRemovesThem()
    {
        auto log = std::make_shared<GatewayLog>();
        {
            ServerFixture f(new FakeWorker(log, true, false));
            SetSetting("use_upnp", "yes");
            SetSetting("listening_port", "2235");
            SetSetting("obfuscated_listening_port", "2236");
            QSignalSpy mapped(portForwarder, &PortForwarder::PortMapped);
            QVERIFY(f.Login());
            QTRY_COMPARE(mapped.count(), 2);
            QCOMPARE(mapped.at(0).at(0).value<quint16>(), quint16(2235));
            QCOMPARE(mapped.at(1).at(1).toBool(), true);
            QVERIFY(f.diagnostics->AreaText("Port Forwarding").contains("Port 2236 forwarded"));
            std::lock_guard<std::mutex> lock(log->mutex);
            QCOMPARE(log->added, (QList<quint16>{2235, 2236}));
            QCOMPARE(log->discoveries, 1); // discovered on demand, once
            QVERIFY(log->deleted.isEmpty());
        }
        std::lock_guard<std::mutex> lock(log->mutex);
        QCOMPARE(log->deleted, (QList<quint16>{2235, 2236}));
    }

    void noMappingWithoutTheSetting()
    {
        auto log = std::make_shared<GatewayLog>();
        {
            ServerFixture f(new FakeWorker(log, true, false));
            SetSetting("use_upnp", "no");
            QVERIFY(f.Login());
            QVERIFY(f.WaitForCount(2, 1));
            QTest::qWait(100);
        }
        std::lock_guard<std::mutex> lock(log->mutex);
        QCOMPARE(log->discoveries, 0);
        QVERIFY(log->added.isEmpty());
    }
};

QTEST_MAIN(TestPortForwarder)
#include "TestPortForwarder.moc"
