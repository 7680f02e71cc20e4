// The board on its own, on a clock of the test's own: what a script reading --json gets.
#include <stdio.h>
#include <stdlib.h>

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "cli/ProgressBoard.h"
#include "tests/support/PauseClock.h"

namespace {

TEST(ProgressBoard, JsonProgressComesAtMostOnceASecondWithThePhasesOwnCounts) {
    // Every reading of the clock moves it by a tenth of a second.
    CStepClock clock(100);
    CClockOverride useClock(clock);
    char* pszOut = nullptr;
    size_t nOut = 0;
    FILE* pOut = open_memstream(&pszOut, &nOut);
    {
        CProgressBoard board(pOut, EOutput::Json, ELanguage::English, {"COM2"});
        auto pSink = board.CreateSink(0);
        pSink->Create();
        pSink->SetRange(0, 999);          // a package of 1000 bytes
        pSink->SetRange(0, 999 + 8 * 50); // and a loader of 50
        for (int i = 0; i < 50; ++i)
            pSink->SetPos(8 * i);
        for (int n = 10; n <= 1000; n += 10)
            pSink->SetPos(8 * 50 + n);
        board.OnFinishing(0);
        board.OnDone(0, EPortResult::Ok, "");
        board.Close();
    }
    fclose(pOut);
    const std::string strOut(pszOut, nOut);
    free(pszOut);

    const std::regex line(R"re(\{"event":"(\w+)","port":"COM2","phase":"(\w+)","bytes":(\d+),)re"
                          R"re("total":(\d+),"result":(null|"ok"),"seconds":(\d+\.\d+)\}\n)re");
    std::vector<double> progress;
    std::string strEvents;
    for (std::sregex_iterator it(strOut.begin(), strOut.end(), line), end; it != end; ++it) {
        const std::smatch& m = *it;
        strEvents += m[1].str() + ":" + m[2].str() + " ";
        if (m[1] != "progress")
            continue;
        progress.push_back(std::stod(m[6]));
        const int nBytes = std::stoi(m[3]);
        const int nTotal = std::stoi(m[4]);
        EXPECT_EQ(nTotal, m[2] == "loader" ? 50 : 1000) << m.str();
        EXPECT_LE(nBytes, nTotal) << m.str();
    }
    // 150 positions at a tenth of a second each: about fifteen seconds, so some progress, and
    // never two within a second of each other.
    EXPECT_GE(progress.size(), 5u) << strOut;
    for (size_t i = 1; i < progress.size(); ++i)
        EXPECT_GE(progress[i] - progress[i - 1], 0.999) << strOut;
    EXPECT_EQ(std::regex_replace(strEvents, std::regex("progress:\\w+ "), ""),
              "start:open phase:handshake phase:loader phase:package phase:finish done:finish ");
}

} // namespace
