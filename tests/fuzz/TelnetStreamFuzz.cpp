// Whatever a device server sends: the decoder neither loses nor invents data, cuts nothing it
// was given in one piece differently when it comes in two, holds no subnegotiation beyond its
// bound, and reads the COM port option's answers only at their lengths. Data the program sends
// come back unchanged through the same decoder, 0xFF bytes and all, with no command among them.
#include <cstdint>
#include <vector>

#include "ports/TelnetCodec.h"
#include "tests/fuzz/FuzzCheck.h"

using namespace telnet;

namespace {

bool SameCommands(const std::vector<CTelnetCommand>& a, const std::vector<CTelnetCommand>& b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (a[i].m_nVerb != b[i].m_nVerb || a[i].m_nOption != b[i].m_nOption ||
            a[i].m_payload != b[i].m_payload || a[i].m_bTruncated != b[i].m_bTruncated)
            return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize) {
    if (nSize == 0)
        return 0;
    // The first byte says where the stream is split in two.
    const size_t nSplit = pData[0] % nSize;
    const uint8_t* pStream = pData + 1;
    const size_t nStream = nSize - 1;

    CTelnetDecoder whole;
    std::vector<uint8_t> data;
    std::vector<CTelnetCommand> commands;
    whole.Feed(pStream, nStream, data, commands);

    CTelnetDecoder split;
    std::vector<uint8_t> data2;
    std::vector<CTelnetCommand> commands2;
    split.Feed(pStream, std::min(nSplit, nStream), data2, commands2);
    split.Feed(pStream + std::min(nSplit, nStream), nStream - std::min(nSplit, nStream), data2,
               commands2);
    FUZZ_CHECK(data == data2);
    FUZZ_CHECK(SameCommands(commands, commands2));

    // Each data byte takes one byte of the stream at least, each command two.
    FUZZ_CHECK(data.size() + 2 * commands.size() <= nStream);
    // A stream without IAC is all data.
    bool bIac = false;
    for (size_t i = 0; i < nStream; ++i)
        bIac |= pStream[i] == kIac;
    if (!bIac)
        FUZZ_CHECK(data.size() == nStream && commands.empty());

    for (const CTelnetCommand& c : commands) {
        FUZZ_CHECK(c.m_payload.size() <= CTelnetDecoder::kMaxPayload);
        FUZZ_CHECK(c.m_nVerb == kSb || c.m_payload.empty());
        CComAnswer answer;
        if (DecodeComAnswer(c, answer)) {
            FUZZ_CHECK(c.m_nVerb == kSb && c.m_nOption == kOptComPort && !c.m_bTruncated);
            FUZZ_CHECK(c.m_payload.size() == (answer.m_nCommand == kComSetBaud ? 5u : 2u));
            FUZZ_CHECK(answer.m_nCommand + kComServerOffset == c.m_payload[0]);
            if (answer.m_nCommand != kComSetBaud)
                FUZZ_CHECK(answer.m_nValue == c.m_payload[1]);
        }
    }

    // The input as data the program sends: escaped and decoded, it is itself again.
    std::vector<uint8_t> escaped;
    AppendEscaped(pStream, nStream, escaped);
    CTelnetDecoder back;
    std::vector<uint8_t> same;
    std::vector<CTelnetCommand> none;
    back.Feed(escaped.data(), escaped.size(), same, none);
    FUZZ_CHECK(none.empty());
    FUZZ_CHECK(same == std::vector<uint8_t>(pStream, pStream + nStream));
    return 0;
}
