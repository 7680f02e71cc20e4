#pragma once
// How every front end words a check's verdict: the sentence (a string id; the windows' box, the
// command line's line) and the command line's one word for it. One table, so the window and the
// command line cannot come to say different things about the same machine.
#include "device/DeviceCheck.h"

struct CVerdictText {
    unsigned m_nIdsSentence; // 0: the front end has its own words (an upgrade is needed, cancel)
    const char* m_pszResult; // "needed", "wrong-model", ...
};

const CVerdictText& GetVerdictText(ECheckVerdict eVerdict);
