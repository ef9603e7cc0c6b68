#pragma once

#include <functional>
#include <memory>
#include <type_traits>

#include "ItemPtr.h"

class DataHandler;

// The two items of a connection, the item of the handler's own type (or the
// first type of a registered pair) first.
struct ConnectionInfo
{
    ItemPtr item1;
    ItemPtr item2;
};

// Common base of every handler: the alive flag is shared with the object
// that registered it, so that object can retire it without the store having
// to know it, and the store never calls a handler of a destroyed object.
class EventHandlerRoot
{
public:
    EventHandlerRoot() : m_alive(std::make_shared<bool>(true)) {}
    virtual ~EventHandlerRoot() = default;
    bool IsAlive() const { return *m_alive; }
    void Retire() { *m_alive = false; }
    const std::shared_ptr<bool>& AliveFlag() const { return m_alive; }

protected:
    void RegisterWith(DataHandler* owner);

private:
    std::shared_ptr<bool> m_alive;
};

template <class Arg>
class EventHandlerBase : public EventHandlerRoot
{
public:
    virtual void Call(Arg arg) = 0;
};

// Binds an object and one of its member functions. When the object derives
// from DataHandler the handler is recorded there and retired with it.
template <class Listener, class Arg>
class EventHandler : public EventHandlerBase<Arg>
{
public:
    typedef void (Listener::*Method)(Arg);
    EventHandler(Listener* object, Method method) : m_object(object), m_method(method)
    {
        if constexpr (std::is_base_of<DataHandler, Listener>::value)
            this->RegisterWith(static_cast<DataHandler*>(object));
    }
    void Call(Arg arg) override { (m_object->*m_method)(arg); }

private:
    Listener* m_object;
    Method m_method;
};

// Binds a function instead of a member, for a handler that carries its own
// context (a type name, a column); retired with its owner like any other.
template <class Arg>
class FunctionHandler : public EventHandlerBase<Arg>
{
public:
    FunctionHandler(DataHandler* owner, std::function<void(Arg)> function) : m_function(std::move(function))
    {
        this->RegisterWith(owner);
    }
    void Call(Arg arg) override { m_function(arg); }

private:
    std::function<void(Arg)> m_function;
};

typedef EventHandlerBase<ItemPtr> ItemEventHandler;
typedef EventHandlerBase<ConnectionInfo&> ConnectionEventHandler;
