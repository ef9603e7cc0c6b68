#pragma once

#include <memory>

#include "DataSaver.h"

class Server;
class TransferQueueManager;

// The transfer engine among the neighbours the program makes before it:
// the settings, a server connection kept from any gateway, and the types
// that peer messaging and the shared folders declare. For benchmarks that
// run transfer threads, whose limits this engine holds.
class BenchEngine
{
public:
    BenchEngine();
    ~BenchEngine();
    BenchEngine(const BenchEngine&) = delete;
    BenchEngine& operator=(const BenchEngine&) = delete;

    TransferQueueManager& Engine() { return *m_engine; }

private:
    DataSaver m_saver;
    std::unique_ptr<Server> m_server;
    std::unique_ptr<TransferQueueManager> m_engine;
};
