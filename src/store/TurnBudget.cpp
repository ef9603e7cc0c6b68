#include "TurnBudget.h"

#include <QCoreApplication>
#include <QMetaObject>

bool TurnBudget::s_inTurn = false;
quint64 TurnBudget::s_turn = 0;
int TurnBudget::s_messages = 0;
QElapsedTimer TurnBudget::s_clock;

void TurnBudget::BeginTurn()
{
    if (s_inTurn)
        return;
    ++s_turn;
    s_messages = 0;
    s_clock.start();
    // Without an event loop there are no turns to share: nothing is held
    // back.
    QCoreApplication* app = QCoreApplication::instance();
    if (!app)
        return;
    s_inTurn = true;
    // Posted events run at the start of the next turn, before the
    // continuations that readers queue during this one.
    QMetaObject::invokeMethod(
        app, [] { s_inTurn = false; }, Qt::QueuedConnection);
}

bool TurnBudget::Exhausted()
{
    BeginTurn();
    return s_messages >= MaxMessages || s_clock.elapsed() >= MaxMilliseconds;
}

quint64 TurnBudget::Turn()
{
    BeginTurn();
    return s_turn;
}

void TurnBudget::Spend()
{
    BeginTurn();
    ++s_messages;
}
