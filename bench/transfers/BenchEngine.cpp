#include "BenchEngine.h"

#include "Data.h"
#include "NoGateway.h"
#include "Server.h"
#include "Settings.h"
#include "TransferQueueManager.h"

BenchEngine::BenchEngine()
{
    DeclareSettingTypes();
    m_server.reset(new Server(new NoGateway));
    m_server->CreateData();
    // Declared by peer messaging and the shared folders in the program.
    for (const char* type : {"file_size", "search_request_text"})
        if (!d.HasType(type))
            d.NewType(type, 2, false, true);
    if (!d.HasType("shared_file"))
        d.NewType("shared_file", 0, false, true);
    m_engine.reset(new TransferQueueManager);
}

// The engine first, then the server connection, as the program ends them.
BenchEngine::~BenchEngine() = default;
