#pragma once

#include <memory>
#include <vector>

#include "EventHandler.h"

// Handlers of one event. Dispatch walks by index over the handlers present
// when it starts, so handlers may register others (not called for this
// event) or retire any (skipped) while it runs. Retired handlers are only
// dropped by Sweep, which the store calls when nothing is being dispatched.
template <class Arg>
class HandlerList
{
public:
    void Add(EventHandlerBase<Arg>* handler) { m_handlers.emplace_back(handler); }
    bool Empty() const { return m_handlers.empty(); }

    // Returns false when a retired handler was met, so the store can sweep.
    template <class Value>
    bool Dispatch(Value&& arg)
    {
        bool clean = true;
        const size_t n = m_handlers.size();
        for (size_t i = 0; i < n; ++i) {
            EventHandlerBase<Arg>* h = m_handlers[i].get();
            if (h->IsAlive())
                h->Call(arg);
            else
                clean = false;
        }
        return clean;
    }

    void Sweep()
    {
        size_t out = 0;
        for (size_t i = 0; i < m_handlers.size(); ++i)
            if (m_handlers[i]->IsAlive())
                m_handlers[out++] = std::move(m_handlers[i]);
        m_handlers.resize(out);
    }

private:
    std::vector<std::unique_ptr<EventHandlerBase<Arg>>> m_handlers;
};
