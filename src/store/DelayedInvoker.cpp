#include "DelayedInvoker.h"

#include <QMetaObject>
#include <QTimer>

DelayedInvoker* delayedInvoker = nullptr;

DelayedInvoker::DelayedInvoker(QObject* parent) : QObject(parent)
{
    delayedInvoker = this;
}

DelayedInvoker::~DelayedInvoker()
{
    if (delayedInvoker == this)
        delayedInvoker = nullptr;
}

void DelayedInvoker::Invoke(QObject* target, QString slot, int msec)
{
    if (!target)
        return;
    if (slot.endsWith(QLatin1String("()")))
        slot.chop(2);
    const Key key(target, slot);
    auto pending = m_pending.constFind(key);
    // A pending entry whose target is gone belongs to a destroyed object that
    // happened to live at the same address; it must not swallow this request.
    if (pending != m_pending.constEnd() && !pending->target.isNull())
        return;

    const quint64 serial = ++m_nextSerial;
    m_pending.insert(key, Pending{QPointer<QObject>(target), serial});
    QTimer::singleShot(msec, this, [this, key, serial]() { Fire(key, serial); });
}

void DelayedInvoker::Fire(const Key& key, quint64 serial)
{
    auto pending = m_pending.find(key);
    if (pending == m_pending.end() || pending->serial != serial)
        return;
    QPointer<QObject> target = pending->target;
    m_pending.erase(pending);
    if (target)
        QMetaObject::invokeMethod(target, key.second.toUtf8().constData());
}
