#include "PortForwarder.h"

#include <QThread>

#include "Log.h"
#include "PortForwarderWorker.h"

PortForwarder* portForwarder = nullptr;

namespace {
const char* const Area = "Port Forwarding";
}

PortForwarder::PortForwarder(PortForwarderWorker* worker, QObject* parent)
    : QObject(parent), m_thread(new QThread(this)), m_worker(worker ? worker : new PortForwarderWorker)
{
    portForwarder = this;
    m_thread->setObjectName("Port Forwarding");
    m_worker->setParent(nullptr);
    m_worker->moveToThread(m_thread);
    connect(m_thread, &QThread::finished, m_worker, &QObject::deleteLater);
    connect(m_worker, &PortForwarderWorker::Discovered, this, &PortForwarder::OnDiscovered, Qt::QueuedConnection);
    connect(m_worker, &PortForwarderWorker::Mapped, this, &PortForwarder::OnMapped, Qt::QueuedConnection);
    connect(m_worker, &PortForwarderWorker::Unmapped, this, &PortForwarder::OnUnmapped, Qt::QueuedConnection);
    m_thread->start();
}

PortForwarder::~PortForwarder()
{
    // The one wait on the worker: mappings left behind would keep the
    // gateway forwarding to a client that is gone.
    QMetaObject::invokeMethod(m_worker, &PortForwarderWorker::RemovePortMappings, Qt::BlockingQueuedConnection);
    m_thread->quit();
    m_thread->wait();
    if (portForwarder == this)
        portForwarder = nullptr;
}

void PortForwarder::Init()
{
    Log(Area, 2, "Looking for the Internet gateway");
    QMetaObject::invokeMethod(m_worker, &PortForwarderWorker::Discover, Qt::QueuedConnection);
}

void PortForwarder::AddPortMappings(quint16 port, quint16 obfuscatedPort)
{
    Log(Area, 2, QString("Asking the gateway to forward ports %1 and %2").arg(port).arg(obfuscatedPort));
    PortForwarderWorker* worker = m_worker;
    QMetaObject::invokeMethod(
        m_worker, [worker, port, obfuscatedPort] { worker->AddPortMappings(port, obfuscatedPort); },
        Qt::QueuedConnection);
}

void PortForwarder::OnDiscovered(bool found, QString text)
{
    if (found)
        Log(Area, 1, QString("Found the Internet gateway: %1").arg(text));
    else
        Log(Area, 1, QString("No Internet gateway found: %1").arg(text));
    emit GatewayDiscovered(found);
}

void PortForwarder::OnMapped(quint16 port, bool success, QString text)
{
    if (success)
        Log(Area, 1, QString("Port %1 forwarded").arg(port));
    else
        Log(Area, 1, QString("Port %1 could not be forwarded: %2").arg(port).arg(text));
    emit PortMapped(port, success);
}

void PortForwarder::OnUnmapped(quint16 port, bool success, QString text)
{
    if (success)
        Log(Area, 2, QString("Forwarding of port %1 removed").arg(port));
    else
        Log(Area, 1, QString("Forwarding of port %1 could not be removed: %2").arg(port).arg(text));
}
