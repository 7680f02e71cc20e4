#include "device/DeviceCheck.h"
#include "platform/Clock.h"

void CReplyTimer::Restart() {
    m_nStart = GetClock().GetCalendarSeconds();
}

bool CReplyTimer::HasElapsed(int nSeconds) const {
    return GetClock().GetCalendarSeconds() - m_nStart > nSeconds;
}
