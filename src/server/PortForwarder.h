#pragma once

#include <QObject>
#include <QString>

class PortForwarderWorker;
class QThread;

// Maps the listening ports on the Internet gateway. The gateway is slow and
// may not exist, so all of the work happens on a worker thread of its own;
// this object and the worker reach each other only by queued calls, and
// nothing here waits for the gateway except the clean-up at exit.
class PortForwarder : public QObject
{
    Q_OBJECT

public:
    // worker: null for the UPnP worker; otherwise a stand-in, owned from now
    // on.
    explicit PortForwarder(PortForwarderWorker* worker = nullptr, QObject* parent = nullptr);
    // Deletes the mappings made in this run, then stops the worker thread.
    ~PortForwarder() override;

    // Queues gateway discovery and returns at once.
    void Init();
    // Queues the mapping of both listening ports (TCP).
    void AddPortMappings(quint16 port, quint16 obfuscatedPort);

signals:
    void GatewayDiscovered(bool found);
    void PortMapped(quint16 port, bool success);

private slots:
    void OnDiscovered(bool found, QString text);
    void OnMapped(quint16 port, bool success, QString text);
    void OnUnmapped(quint16 port, bool success, QString text);

private:
    QThread* m_thread;
    PortForwarderWorker* m_worker;
};

extern PortForwarder* portForwarder;
