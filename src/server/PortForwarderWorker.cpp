#include "PortForwarderWorker.h"

#include <cstring>
#include <miniupnpc/miniupnpc.h>
#include <miniupnpc/upnpcommands.h>

const char* const PortForwarderWorker::MappingDescription = "QuorvaneQT";

struct PortForwarderWorker::Gateway
{
    UPNPUrls urls;
    IGDdatas data;
    char lanAddress[64];
};

PortForwarderWorker::PortForwarderWorker(QObject* parent) : QObject(parent) {}

PortForwarderWorker::~PortForwarderWorker()
{
    if (m_gateway) {
        FreeUPNPUrls(&m_gateway->urls);
        delete m_gateway;
    }
}

void PortForwarderWorker::Discover()
{
    if (m_haveGateway)
        ReleaseGateway();
    m_discovered = true;
    QString description, error;
    m_haveGateway = DiscoverGateway(description, error);
    emit Discovered(m_haveGateway, m_haveGateway ? description : error);
}

void PortForwarderWorker::AddPortMappings(quint16 port, quint16 obfuscatedPort)
{
    if (!m_discovered)
        Discover();
    for (quint16 p : {port, obfuscatedPort}) {
        if (p == 0)
            continue;
        if (!m_haveGateway) {
            emit Mapped(p, false, "no gateway");
            continue;
        }
        const int result = AddPortMapping(p);
        if (result == 0 && !m_mapped.contains(p))
            m_mapped.append(p);
        emit Mapped(p, result == 0, result == 0 ? QString() : QString("error %1").arg(result));
    }
}

void PortForwarderWorker::RemovePortMappings()
{
    if (m_haveGateway) {
        for (quint16 p : m_mapped) {
            const int result = DeletePortMapping(p);
            emit Unmapped(p, result == 0, result == 0 ? QString() : QString("error %1").arg(result));
        }
        ReleaseGateway();
    }
    m_mapped.clear();
    m_haveGateway = false;
    m_discovered = false;
}

bool PortForwarderWorker::DiscoverGateway(QString& description, QString& error)
{
    // Discovery multicasts on the local network; test runs must never do
    // that, whatever settings a test stores.
    if (qEnvironmentVariableIsSet("QUORVANE_TEST")) {
        error = "gateway discovery is disabled in test runs";
        return false;
    }
    int status = 0;
    UPNPDev* devices = upnpDiscover(DiscoveryTimeoutMs, nullptr, nullptr, UPNP_LOCAL_PORT_ANY, 0, 2, &status);
    if (!devices) {
        error = QString("no UPnP device answered within %1 ms (code %2)").arg(DiscoveryTimeoutMs).arg(status);
        return false;
    }
    Gateway* gateway = new Gateway;
    std::memset(gateway, 0, sizeof(Gateway));
    const int found =
        UPNP_GetValidIGD(devices, &gateway->urls, &gateway->data, gateway->lanAddress, sizeof(gateway->lanAddress));
    freeUPNPDevlist(devices);
    if (found != 1) {
        if (found != 0)
            FreeUPNPUrls(&gateway->urls);
        delete gateway;
        error = found == 0 ? QString("no Internet gateway among the UPnP devices")
                           : QString("the UPnP device found is not a connected Internet gateway");
        return false;
    }
    m_gateway = gateway;
    description = QString("%1 (own address %2)")
                      .arg(QString::fromLatin1(gateway->urls.controlURL), QString::fromLatin1(gateway->lanAddress));
    return true;
}

int PortForwarderWorker::AddPortMapping(quint16 port)
{
    if (!m_gateway)
        return -1;
    const QByteArray text = QByteArray::number(port);
    return UPNP_AddPortMapping(m_gateway->urls.controlURL, m_gateway->data.first.servicetype, text.constData(),
                               text.constData(), m_gateway->lanAddress, MappingDescription, "TCP", nullptr, "0");
}

int PortForwarderWorker::DeletePortMapping(quint16 port)
{
    if (!m_gateway)
        return -1;
    const QByteArray text = QByteArray::number(port);
    return UPNP_DeletePortMapping(m_gateway->urls.controlURL, m_gateway->data.first.servicetype, text.constData(),
                                  "TCP", nullptr);
}

void PortForwarderWorker::ReleaseGateway()
{
    if (!m_gateway)
        return;
    FreeUPNPUrls(&m_gateway->urls);
    delete m_gateway;
    m_gateway = nullptr;
}
