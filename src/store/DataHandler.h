#pragma once

#include <memory>
#include <vector>

class EventHandlerRoot;

// Base of every object that registers store handlers. Destroying the object
// retires them all, so none runs for an object that no longer exists.
class DataHandler
{
public:
    DataHandler() = default;
    DataHandler(const DataHandler&) = delete;
    DataHandler& operator=(const DataHandler&) = delete;
    virtual ~DataHandler();

    void RemoveDataHandlers();
    void AddDataHandler(EventHandlerRoot* handler);

private:
    std::vector<std::shared_ptr<bool>> m_handlers;
};
