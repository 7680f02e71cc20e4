// versionup-cli with a wire trace: the file of each port holds exactly the bytes that crossed the
// line, with the flow-control holds, the steps and the outcome, and nothing is written unless
// asked for.
#include <stdio.h>
#include <stdlib.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "cli/Cli.h"
#include "serial/WireTrace.h"
#include "sim/BootMode.h"
#include "sim/MachineSim.h"
#include "tests/support/FakeSerialDevice.h"
#include "tests/support/Files.h"
#include "tests/support/PauseClock.h"
#include "tests/support/ResourceOverride.h"
#include "tests/support/SimPorts.h"
#include "tests/support/TempDir.h"
#include "tests/support/Wait.h"

namespace {

struct CTraceText {
    std::vector<std::string> m_lines;
    std::vector<uint8_t> m_sent;
    std::vector<uint8_t> m_received;

    size_t Find(const std::string& strPart) const {
        for (size_t i = 0; i < m_lines.size(); ++i) {
            if (m_lines[i].find(strPart) != std::string::npos)
                return i;
        }
        return std::string::npos;
    }
    std::string All() const {
        std::string strAll;
        for (const std::string& strLine : m_lines)
            strAll += strLine + "\n";
        return strAll;
    }
};

class CliTraceTest : public ::testing::Test {
protected:
    CliTraceTest() {
        m_loader = MakeBytes(40, 1);
        m_package = MakeBytes(600, 2);
        m_resources.Replace("BIN", kIdLoader, m_loader);
        m_resources.Replace("BIN", kIdPackage, m_package);
        unsetenv("VERSIONUP_TRACE");
    }
    ~CliTraceTest() override { unsetenv("VERSIONUP_TRACE"); }

    int Run(const std::vector<std::string>& args) {
        char* pszOut = nullptr;
        size_t nOut = 0;
        FILE* pOut = open_memstream(&pszOut, &nOut);
        FILE* pErr = fopen("/dev/null", "w");
        FILE* pIn = fopen("/dev/null", "r");
        const int nExit = RunCli(args, {pOut, pErr, pIn, false, false});
        fclose(pOut);
        fclose(pErr);
        fclose(pIn);
        m_strOut.assign(pszOut, nOut);
        free(pszOut);
        return nExit;
    }

    // The one trace file in the folder, read back.
    CTraceText ReadTrace(const std::string& strPrefix) {
        std::vector<std::filesystem::path> files;
        for (const auto& entry : std::filesystem::directory_iterator(m_traces.Path()))
            files.push_back(entry.path());
        CTraceText trace;
        EXPECT_EQ(files.size(), 1u);
        if (files.size() != 1)
            return trace;
        const std::string strName = files[0].filename().string();
        EXPECT_EQ(strName.rfind(strPrefix + "-", 0), 0u) << strName;
        EXPECT_EQ(strName.substr(strName.size() - 6), ".trace") << strName;
        std::ifstream in(files[0]);
        for (std::string strLine; std::getline(in, strLine);) {
            trace.m_lines.push_back(strLine);
            bool bSent = false;
            std::vector<uint8_t> bytes;
            if (ParseTraceBytes(strLine, bSent, bytes))
                (bSent ? trace.m_sent : trace.m_received)
                    .insert((bSent ? trace.m_sent : trace.m_received).end(), bytes.begin(),
                            bytes.end());
        }
        return trace;
    }

    std::vector<uint8_t> m_loader;
    std::vector<uint8_t> m_package;
    std::string m_strOut;
    CPortsHome m_home;
    CTempDir m_traces;
    CResourceOverride m_resources;
};

} // namespace

TEST_F(CliTraceTest, CheckThroughAHeldDsrTracesTheHoldTheQueryAndTheReply) {
    CStepClock clock(0, 0);
    CClockOverride useClock(clock);
    CFakeAdapters adapters;
    CFakeAdapterScript script;
    const int64_t nNow = clock.GetMilliseconds();
    script.m_dsrLow = {{nNow, nNow + 400}};
    script.m_fnMachine = AnswerQuery("V250 TVK-50;");
    CFakeAdapter& adapter = adapters.AddCom(m_home, 1, script);

    EXPECT_EQ(Run({"check", "--port", "COM1", "--trace", m_traces.Path().string()}), 0) << m_strOut;

    const CTraceText trace = ReadTrace("COM1");
    EXPECT_EQ(trace.m_sent, adapter.GetSent()) << trace.All();
    EXPECT_EQ(trace.m_sent, (std::vector<uint8_t>{'F', ';'}));
    const std::string strReply = "V250 TVK-50;";
    EXPECT_EQ(trace.m_received, std::vector<uint8_t>(strReply.begin(), strReply.end()));
    const size_t nOpen = trace.Find("open COM1 (");
    const size_t nHold = trace.Find("hold: DSR low");
    const size_t nEnded = trace.Find("hold ended after 0.4");
    const size_t nOutcome = trace.Find("outcome: upgrade needed: V250 TVK-50");
    ASSERT_NE(nOpen, std::string::npos) << trace.All();
    EXPECT_NE(trace.m_lines[nOpen].find(" 9600 N81 handshake on; read back equal; low latency on"),
              std::string::npos)
        << trace.All();
    ASSERT_NE(nHold, std::string::npos) << trace.All();
    ASSERT_NE(nEnded, std::string::npos) << trace.All();
    ASSERT_NE(nOutcome, std::string::npos) << trace.All();
    EXPECT_LT(nOpen, nHold);
    EXPECT_LT(nHold, nEnded);
    EXPECT_LT(nEnded, trace.Find("> 46 3b"));
    EXPECT_EQ(nOutcome, trace.m_lines.size() - 1);
}

TEST_F(CliTraceTest, UpgradeWithAWrongEchoTracesEveryByteUpToTheFault) {
    CPauseClock clock;
    CClockOverride useClock(clock);
    CBootMode::CBehaviour behaviour;
    behaviour.m_nWrongEchoAt = 17;
    CMachineSim sim;
    CBootMode* pBoot = StartBootMode(sim, m_home.GetPortsDir(), 1, behaviour);
    ASSERT_TRUE(pBoot);
    // Asked for by the variable alone, as an operator of the window would be.
    setenv("VERSIONUP_TRACE", m_traces.Path().c_str(), 1);

    EXPECT_EQ(Run({"upgrade", "--port", "COM1", "--yes"}), 1) << m_strOut;
    sim.Stop();

    const CTraceText trace = ReadTrace("COM1");
    // What the machine read, byte for byte: every 0x00 of the synchronisation, 0x55, the length
    // and the loader up to the byte it echoed wrong.
    EXPECT_EQ(trace.m_sent, sim.GetLink().GetRecord()) << trace.All();
    ASSERT_GE(trace.m_sent.size(), 21u);
    EXPECT_EQ(std::vector<uint8_t>(trace.m_sent.end() - 18, trace.m_sent.end()),
              std::vector<uint8_t>(m_loader.begin(), m_loader.begin() + 18));
    // What it answered: the synchronisation, 0xAA, the length and 17 good echoes, then the wrong
    // one.
    std::vector<uint8_t> answered = {0x00, 0xaa, 0x00, 40};
    answered.insert(answered.end(), m_loader.begin(), m_loader.begin() + 17);
    ASSERT_EQ(trace.m_received.size(), answered.size() + 1) << trace.All();
    EXPECT_EQ(std::vector<uint8_t>(trace.m_received.begin(), trace.m_received.end() - 1), answered);
    EXPECT_NE(trace.m_received.back(), m_loader[17]);

    for (const char* pszLine :
         {"step sync", "step bit rate", "step length", "step loader: 40 bytes", "purge", "close"})
        EXPECT_NE(trace.Find(pszLine), std::string::npos) << pszLine << "\n" << trace.All();
    EXPECT_NE(trace.m_lines.back().find("outcome: failed: wrong reply in the step loader (byte "
                                        "17): expected "),
              std::string::npos)
        << trace.All();
    EXPECT_EQ(trace.Find("step package"), std::string::npos);
}

TEST_F(CliTraceTest, NothingIsWrittenUnlessAsked) {
    CPauseClock clock;
    CClockOverride useClock(clock);
    CMachineSim sim;
    ASSERT_TRUE(StartBootMode(sim, m_home.GetPortsDir(), 1));
    EXPECT_EQ(Run({"upgrade", "--port", "COM1", "--yes"}), 0) << m_strOut;
    sim.Stop();
    EXPECT_TRUE(std::filesystem::is_empty(m_traces.Path()));
}
