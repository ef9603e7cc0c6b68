#include "ChatActivity.h"

#include "ChatText.h"
#include "Settings.h"
#include "common/ViewClock.h"

namespace {

bool ActivityStamps()
{
    return GetSetting("chat_timestamps") == QLatin1String("activity_based");
}

} // namespace

ChatActivity::ChatActivity() : m_lastLine(ViewClock::Now()) {}

QString ChatActivity::ChatLine()
{
    m_lastLine = ViewClock::Now();
    if (m_active)
        return QString();
    m_active = true;
    return ActivityStamps() ? QLatin1String("Chat started ") + m_lastLine.toString(ChatText::LongTimeFormat)
                            : QString();
}

QString ChatActivity::Check()
{
    if (!m_active || m_lastLine.msecsTo(ViewClock::Now()) <= QuietLimit)
        return QString();
    m_active = false;
    return ActivityStamps() ? QLatin1String("Chat ended ") + m_lastLine.toString(ChatText::LongTimeFormat) : QString();
}
