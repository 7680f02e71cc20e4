#include "tests/support/Packages.h"

#include <algorithm>
#include <cstdio>

#include "tests/support/Files.h"

std::vector<uint8_t> MakePackageRecord(char cType, uint32_t nAddress, size_t nAddressLength,
                                       const std::vector<uint8_t>& data) {
    std::vector<uint8_t> body{static_cast<uint8_t>(nAddressLength + data.size() + 1)};
    for (size_t i = nAddressLength; i-- > 0;)
        body.push_back(static_cast<uint8_t>(nAddress >> (8 * i)));
    body.insert(body.end(), data.begin(), data.end());
    unsigned nSum = 0;
    for (uint8_t b : body)
        nSum += b;
    std::vector<uint8_t> record{'B', static_cast<uint8_t>(cType)};
    record.insert(record.end(), body.begin(), body.end());
    record.push_back(static_cast<uint8_t>(~nSum));
    return record;
}

std::vector<uint8_t> MakePackage(const std::vector<std::vector<uint8_t>>& records,
                                 const std::string& strHeader) {
    std::string str = "PUF14303  " + strHeader + "0002F94F";
    size_t nText = 0;
    std::string strRecords;
    for (const auto& r : records) {
        // As S-record text: "S", type, hex pairs of count and what follows it, one line end.
        nText += 2 + 2 * (r[2] + 1) + 1;
        strRecords.append(r.begin(), r.end());
    }
    char szLength[9];
    std::snprintf(szLength, sizeof szLength, "%08zX", nText);
    str += szLength + strRecords + "9631PUFE";
    return {str.begin(), str.end()};
}

std::vector<uint8_t> MakeSmallPackage(size_t nDataBytes, uint32_t nSeed) {
    const std::vector<uint8_t> data = MakeBytes(nDataBytes, nSeed);
    std::vector<std::vector<uint8_t>> records{
        MakePackageRecord('0', 0, 2, {'s', 'm', 'a', 'l', 'l', ' ', ' ', ' ', 'm', 'o', 't'})};
    for (size_t i = 0; i < data.size(); i += 16) {
        const auto first = data.begin() + static_cast<ptrdiff_t>(i);
        const auto last = data.begin() + static_cast<ptrdiff_t>(std::min(i + 16, data.size()));
        records.push_back(
            MakePackageRecord('1', static_cast<uint32_t>(0x1000 + i), 2, {first, last}));
    }
    records.push_back(MakePackageRecord('9', 0x1000, 2, {}));
    return MakePackage(records);
}
