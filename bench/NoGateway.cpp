#include "NoGateway.h"

bool NoGateway::DiscoverGateway(QString&, QString& error)
{
    error = "benchmark";
    return false;
}
