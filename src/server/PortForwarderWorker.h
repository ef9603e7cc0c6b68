#pragma once

#include <QList>
#include <QObject>
#include <QString>

// Talks to the Internet gateway on the port forwarder's own thread. It never
// touches the item store: every outcome goes back to the forwarder as a
// signal, which arrives queued on the forwarder's thread. The gateway
// operations are virtual so that a stand-in gateway can replace the UPnP one.
class PortForwarderWorker : public QObject
{
    Q_OBJECT

public:
    // How long discovery listens for a gateway's answer.
    static constexpr int DiscoveryTimeoutMs = 2000;
    static const char* const MappingDescription;

    explicit PortForwarderWorker(QObject* parent = nullptr);
    ~PortForwarderWorker() override;

public slots:
    void Discover();
    // Maps both ports, discovering first when discovery has not run yet.
    void AddPortMappings(quint16 port, quint16 obfuscatedPort);
    // Deletes the mappings this worker made and lets go of the gateway.
    void RemovePortMappings();

signals:
    void Discovered(bool found, QString text);
    void Mapped(quint16 port, bool success, QString text);
    void Unmapped(quint16 port, bool success, QString text);

protected:
    // Finds the gateway; fills description (its control address) or error.
    virtual bool DiscoverGateway(QString& description, QString& error);
    // 0 on success, else the gateway's error code.
    virtual int AddPortMapping(quint16 port);
    virtual int DeletePortMapping(quint16 port);
    virtual void ReleaseGateway();

private:
    struct Gateway;
    Gateway* m_gateway = nullptr;
    bool m_discovered = false;
    bool m_haveGateway = false;
    QList<quint16> m_mapped;
};
