#include "FirmwareStandins.h"

#include <algorithm>
#include <cstdio>
#include <stdexcept>
#include <string>

namespace {

// Our own generator rather than <random>: the standard leaves the distributions and std::shuffle
// to each library, and the stand-ins must not change with the compiler.
class CSplitMix {
public:
    explicit CSplitMix(uint64_t nSeed) : m_nState(nSeed) {}
    uint64_t Next() {
        uint64_t z = (m_nState += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    unsigned Below(unsigned n) { return static_cast<unsigned>(Next() % n); }
    uint8_t Byte() { return static_cast<uint8_t>(Next() >> 56); }

private:
    uint64_t m_nState;
};

struct CRecord {
    char m_cType;
    uint32_t m_nAddress;
    std::vector<uint8_t> m_data;
};

int AddressLength(char cType) {
    return cType == '2' ? 3 : 2;
}

void AppendRecord(std::vector<uint8_t>& out, const CRecord& rec) {
    const int nAddr = AddressLength(rec.m_cType);
    std::vector<uint8_t> body;
    body.push_back(static_cast<uint8_t>(nAddr + rec.m_data.size() + 1));
    for (int i = nAddr - 1; i >= 0; --i)
        body.push_back(static_cast<uint8_t>(rec.m_nAddress >> (8 * i)));
    body.insert(body.end(), rec.m_data.begin(), rec.m_data.end());
    unsigned nSum = 0;
    for (uint8_t b : body)
        nSum += b;
    out.push_back('B');
    out.push_back(static_cast<uint8_t>(rec.m_cType));
    out.insert(out.end(), body.begin(), body.end());
    out.push_back(static_cast<uint8_t>(~nSum));
}

// Characters of the record as an S-record text line: "S", type, two hex digits for each of
// count, address, data and checksum, one line end.
size_t TextLength(const CRecord& rec) {
    return 2 + 2 * (1 + AddressLength(rec.m_cType) + rec.m_data.size() + 1) + 1;
}

// nTotal bytes in nCount pieces of 1 to 16 bytes, mostly full ones.
std::vector<unsigned> SplitIntoPieces(unsigned nTotal, unsigned nCount, CSplitMix& rng) {
    std::vector<unsigned> sizes(nCount, 16);
    if (nTotal > 16 * nCount || nTotal < nCount)
        throw std::logic_error("piece sizes out of reach");
    unsigned nShort = 16 * nCount - nTotal;
    while (nShort > 0) {
        unsigned& n = sizes[rng.Below(nCount)];
        unsigned nCut = std::min({1 + rng.Below(8), nShort, n - 1});
        n -= nCut;
        nShort -= nCut;
    }
    return sizes;
}

struct CGap {
    unsigned m_nAfterPiece;
    unsigned m_nLength;
};

// Data records laid out from nAddress on, with the gaps left open after the pieces named.
void AddDataRecords(std::vector<CRecord>& records, char cType, uint32_t nAddress, unsigned nBytes,
                    unsigned nCount, std::initializer_list<CGap> gaps, CSplitMix& rng) {
    std::vector<unsigned> sizes = SplitIntoPieces(nBytes, nCount, rng);
    for (unsigned i = 0; i < nCount; ++i) {
        CRecord rec{cType, nAddress, {}};
        for (unsigned k = 0; k < sizes[i]; ++k)
            rec.m_data.push_back(rng.Byte());
        records.push_back(std::move(rec));
        nAddress += sizes[i];
        for (const CGap& gap : gaps) {
            if (gap.m_nAfterPiece == i)
                nAddress += gap.m_nLength;
        }
    }
}

struct CSectionPlan {
    std::string m_strName; // 8 characters padded with blanks, then "mot"
    std::vector<CRecord> m_data;
    uint32_t m_nStart;
    const char* m_pszClosing;
    size_t m_nBinaryLength; // what the layout must come out at
    size_t m_nTextLength;
};

void AppendSection(std::vector<uint8_t>& out, CSectionPlan& plan, CSplitMix& rng) {
    // The loader takes records in any order; a real release's are not sorted either.
    for (size_t i = plan.m_data.size() - 1; i > 0; --i)
        std::swap(plan.m_data[i], plan.m_data[rng.Below(static_cast<unsigned>(i + 1))]);

    std::vector<CRecord> records;
    records.push_back({'0', 0, std::vector<uint8_t>(plan.m_strName.begin(), plan.m_strName.end())});
    records.insert(records.end(), plan.m_data.begin(), plan.m_data.end());
    records.push_back({'9', plan.m_nStart, {}});

    std::vector<uint8_t> bin;
    size_t nText = 0;
    for (const CRecord& rec : records) {
        AppendRecord(bin, rec);
        nText += TextLength(rec);
    }
    if (bin.size() != plan.m_nBinaryLength || nText != plan.m_nTextLength)
        throw std::logic_error("section " + plan.m_strName + " does not come out at its size");

    char szLength[16];
    std::snprintf(szLength, sizeof szLength, "%08zX", nText);
    out.insert(out.end(), szLength, szLength + 8);
    out.insert(out.end(), bin.begin(), bin.end());
    out.insert(out.end(), plan.m_pszClosing, plan.m_pszClosing + 4);
}

void AppendText(std::vector<uint8_t>& out, const char* psz) {
    for (; *psz; ++psz)
        out.push_back(static_cast<uint8_t>(*psz));
}

} // namespace

std::vector<uint8_t> MakeStandinLoader() {
    CSplitMix rng(0x4C4F41444552ull);
    std::vector<uint8_t> loader(3064);
    for (uint8_t& b : loader)
        b = rng.Byte();
    for (unsigned i = 0; i < 256; ++i)
        loader[0x100 + i] = static_cast<uint8_t>(i);
    struct {
        size_t m_nOffset;
        size_t m_nLength;
        uint8_t m_nValue;
    } const runs[] = {
        {0x040, 32, 0x00}, {0x300, 16, 0x55}, {0x310, 16, 0xAA}, {0x500, 16, 0x11},
        {0x510, 16, 0x13}, {0x700, 8, 0x00},  {0xB00, 32, 0xFF}, {0xBF0, 8, 0xFF},
    };
    for (const auto& run : runs) {
        for (size_t i = 0; i < run.m_nLength; ++i)
            loader[run.m_nOffset + i] = run.m_nValue;
    }
    // XON and XOFF side by side, both orders, as a port left in XON/XOFF mode would eat them.
    const uint8_t flow[] = {0x11, 0x13, 0x13, 0x11, 0x11, 0x13};
    std::copy(std::begin(flow), std::end(flow), loader.begin() + 0x900);
    return loader;
}

std::vector<uint8_t> MakeStandinPackage() {
    CSplitMix rng(0x5055463134333033ull);
    std::vector<uint8_t> out;
    AppendText(out, "PUF14303  ");
    AppendText(out, "TVK35/50 NRP7/70  V260");
    AppendText(out, "0002F94F");

    // 0x0000 to 0x0ED7 less gaps of 1 and 2 bytes.
    CSectionPlan booter{"booter  mot", {}, 0x0000, "9631", 5332, 10410};
    AddDataRecords(booter.m_data, '1', 0x0000, 0x0ED8 - 3, 252, {{40, 1}, {180, 2}}, rng);
    AppendSection(out, booter, rng);

    // 0x1000 to 0xFFFF in 2-byte address records less gaps of 1 and 2 bytes, then up to 0x149D9
    // in 3-byte address records less a gap of 1 byte.
    CSectionPlan firmware{"Tvk35   mot", {}, 0x1000, "590C", 113258, 221240};
    AddDataRecords(firmware.m_data, '1', 0x1000, 0x10000 - 0x1000 - 3, 4025, {{1000, 1}, {3000, 2}},
                   rng);
    AddDataRecords(firmware.m_data, '2', 0x10000, 0x149DA - 0x10000 - 1, 1249, {{600, 1}}, rng);
    AppendSection(out, firmware, rng);

    AppendText(out, "PUFE");
    if (out.size() != 118658)
        throw std::logic_error("package does not come out at its size");
    return out;
}
