#pragma once

#include "PortForwarderWorker.h"

// Keeps the port forwarder away from any real gateway.
class NoGateway : public PortForwarderWorker
{
protected:
    bool DiscoverGateway(QString&, QString& error) override;
    int AddPortMapping(quint16) override { return -1; }
    int DeletePortMapping(quint16) override { return -1; }
    void ReleaseGateway() override {}
};
