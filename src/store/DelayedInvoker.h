#pragma once

#include <QHash>
#include <QObject>
#include <QPair>
#include <QPointer>
#include <QString>

// Calls a slot once after a delay, coalescing requests: while a call of one
// slot of one object is pending, further requests for it are dropped. A
// target destroyed before its time is not called.
class DelayedInvoker : public QObject
{
    Q_OBJECT

public:
    explicit DelayedInvoker(QObject* parent = nullptr);
    ~DelayedInvoker() override;

    // slot is the slot's name, with or without "()".
    void Invoke(QObject* target, QString slot, int msec);

private:
    struct Pending
    {
        QPointer<QObject> target;
        quint64 serial;
    };
    using Key = QPair<QObject*, QString>;

    void Fire(const Key& key, quint64 serial);

    QHash<Key, Pending> m_pending;
    quint64 m_nextSerial = 0;
};

extern DelayedInvoker* delayedInvoker;
