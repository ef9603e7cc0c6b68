#include "NoGateway.h"

bool NoGateway::DiscoverGateway(QString&, QString& error)
{
    error = "no gateway in tests";
    return false;
}
