#pragma once
// The window runs the check and the transfer on a worker: a test that pressed Next waits for the
// run's end, with the window's events handled meanwhile.
#include <QTest>

#include "qt/VersionUpDlg.h"

inline bool WaitIdle(const CVersionUpDlg& dlg) {
    return QTest::qWaitFor([&] { return !dlg.IsBusy(); }, 120'000);
}
