#include "device/DeviceCheck.h"
#include "platform/Clock.h"

void CReplyTimer::Restart() {
    m_nStart = GetMonotonicSeconds();
}

bool CReplyTimer::HasElapsed(int nSeconds) const {
    return GetMonotonicSeconds() - m_nStart > nSeconds;
}
