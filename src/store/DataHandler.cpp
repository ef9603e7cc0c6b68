#include "DataHandler.h"

#include "EventHandler.h"

DataHandler::~DataHandler()
{
    RemoveDataHandlers();
}

void DataHandler::RemoveDataHandlers()
{
    for (auto& alive : m_handlers)
        *alive = false;
    m_handlers.clear();
}

void DataHandler::AddDataHandler(EventHandlerRoot* handler)
{
    m_handlers.push_back(handler->AliveFlag());
}

void EventHandlerRoot::RegisterWith(DataHandler* owner)
{
    if (owner)
        owner->AddDataHandler(this);
}
