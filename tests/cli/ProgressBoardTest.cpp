// The board fed by a real transfer to a simulated machine: what a person or a script reading the
// plain or JSON output gets comes from the transfer's own events, whatever the dialog is told.
#include <stdio.h>
#include <stdlib.h>

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "cli/CliText.h"
#include "cli/OutputWriter.h"
#include "cli/ProgressBoard.h"
#include "sim/BootMode.h"
#include "sim/MachineSim.h"
#include "tests/support/Files.h"
#include "tests/support/Packages.h"
#include "tests/support/PauseClock.h"
#include "tests/support/QuietOperator.h"
#include "tests/support/ResourceOverride.h"
#include "tests/support/SimPorts.h"
#include "tests/support/Wait.h"
#include "transfer/Transfer.h"

namespace {

constexpr size_t kLoaderSize = 40;

class CBoardOperator : public CQuietOperator {
public:
    explicit CBoardOperator(CProgressBoard& board) : m_board(board) {}
    std::unique_ptr<IProgressSink> CreateProgress() override { return m_board.CreateSink(0); }

private:
    CProgressBoard& m_board;
};

class ProgressBoardTest : public ::testing::Test {
protected:
    ProgressBoardTest() {
        m_loader = MakeBytes(kLoaderSize, 1);
        m_resources.Replace("BIN", kIdLoader, m_loader);
        m_package = MakeSmallPackage(3000, 9);
    }
    ~ProgressBoardTest() override {
        m_sim.Stop();
        m_ports.Absent(1);
    }

    // One upgrade of COM1 rendered in eOutput; the machine got everything, byte for byte.
    std::string Upgrade(EOutput eOutput) {
        CBootMode* pBoot = StartBootMode(m_sim, TestPortsDir(), 1);
        if (!pBoot)
            return "no machine";
        char* pszOut = nullptr;
        size_t nOut = 0;
        FILE* pOut = open_memstream(&pszOut, &nOut);
        {
            COutputWriter writer(pOut, stderr);
            CProgressBoard board(writer, pOut, eOutput, ELanguage::English, {"COM1"});
            CBoardOperator op(board);
            const int nResult = TransferFirmware("COM1:", &m_package, op);
            EXPECT_EQ(nResult, 1);
            board.OnDone(0, nResult ? EPortResult::Ok : EPortResult::Failed, "");
            board.Close();
        }
        fclose(pOut);
        std::string strOut(pszOut, nOut);
        free(pszOut);
        EXPECT_EQ(pBoot->GetLoader(), m_loader);
        WaitUntil([&] { return pBoot->GetPackage().size() >= m_package.size(); });
        EXPECT_EQ(pBoot->GetPackage(), m_package);
        m_sim.Stop();
        return strOut;
    }

    CSimPorts m_ports;
    CResourceOverride m_resources;
    CMachineSim m_sim;
    std::vector<uint8_t> m_loader;
    std::vector<uint8_t> m_package;
};

TEST_F(ProgressBoardTest, PlainOutputNamesEachPhaseWithItsSizeAndEndsWithTheResult) {
    // The protocol's pauses cost no time; the result line's seconds vary.
    CPauseClock clock;
    CClockOverride useClock(clock);
    const std::string strOut = Upgrade(EOutput::Plain);
    const std::regex expected("COM1: opening\n"
                              "COM1: boot mode handshake\n"
                              "COM1: boot loader  40 bytes\n"
                              "COM1: package  " +
                              std::to_string(m_package.size()) +
                              " bytes\n"
                              "COM1: finishing\n"
                              "COM1: Transit completed\\. Make sure LED blinks slowly\\. "
                              "\\(\\d+\\.\\d s\\)\n");
    EXPECT_TRUE(std::regex_match(strOut, expected)) << strOut;
}

TEST_F(ProgressBoardTest, JsonProgressComesAtMostOnceASecondWithThePhasesOwnCounts) {
    // Every reading of the clock moves it by a tenth of a second, so the run is long enough on it
    // for progress lines; pauses and waits take little real time.
    CStepClock clock(100, 5);
    CClockOverride useClock(clock);
    const std::string strOut = Upgrade(EOutput::Json);

    const std::regex line(R"re(\{"event":"(\w+)","port":"COM1","phase":"(\w+)","bytes":(\d+),)re"
                          R"re("total":(\d+),"result":(null|"ok"),"seconds":(\d+\.\d+)\}\n)re");
    std::vector<double> progress;
    std::string strEvents;
    size_t nMatched = 0;
    int64_t nLastBytes = 0;
    std::string strLastPhase;
    for (std::sregex_iterator it(strOut.begin(), strOut.end(), line), end; it != end; ++it) {
        const std::smatch& m = *it;
        nMatched += m.length();
        strEvents += m[1].str() + ":" + m[2].str() + " ";
        const int64_t nBytes = std::stoll(m[3]);
        const int64_t nTotal = std::stoll(m[4]);
        if (m[2] == "loader" || m[2] == "package") {
            EXPECT_EQ(nTotal, int64_t(m[2] == "loader" ? kLoaderSize : m_package.size()))
                << m.str();
            EXPECT_LE(nBytes, nTotal) << m.str();
            if (m[2] == strLastPhase) {
                EXPECT_GE(nBytes, nLastBytes) << m.str();
            } else {
                EXPECT_EQ(nBytes, 0) << "a phase starts at 0: " << m.str();
            }
            nLastBytes = nBytes;
        }
        if (m[1] == "done") {
            EXPECT_EQ(nBytes, int64_t(m_package.size()));
            EXPECT_EQ(nTotal, int64_t(m_package.size()));
        }
        strLastPhase = m[2];
        if (m[1] == "progress")
            progress.push_back(std::stod(m[6]));
    }
    EXPECT_EQ(nMatched, strOut.size()) << "every line an object: " << strOut;
    EXPECT_GE(progress.size(), 2u) << strOut;
    for (size_t i = 1; i < progress.size(); ++i)
        EXPECT_GE(progress[i] - progress[i - 1], 0.999) << strOut;
    EXPECT_EQ(std::regex_replace(strEvents, std::regex("progress:\\w+ "), ""),
              "start:open phase:handshake phase:loader phase:package phase:finish done:finish ");
}

// A live line must not wrap, and is never cut inside a character: wide characters take two
// columns, the half-width katakana of the Japanese texts one.
TEST(FitToColumns, CutsAtCharactersByTheColumnsTheyTake) {
    const struct {
        const char* m_pszLine;
        size_t m_nColumns;
        const char* m_pszFitted;
    } cases[] = {
        {"abcdef", 0, "abcdef"}, {"abcdef", 7, "abcdef"}, {"abcdef", 4, "abc"},
        {"日本語", 5, "日本"},   {"日本語", 4, "日"},     {"日本語", 7, "日本語"},
        {"ｱﾀﾞﾌﾟﾀを", 4, "ｱﾀﾞ"},  {"a日b", 3, "a"},        {"a日b", 4, "a日"},
        {"Ａ１", 3, "Ａ"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(FitToColumns(c.m_pszLine, c.m_nColumns), c.m_pszFitted)
            << c.m_pszLine << " in " << c.m_nColumns;
}

} // namespace
