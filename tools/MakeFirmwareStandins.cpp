// make-firmware-standins DIR: writes the stand-in loader.bin and package.ufw into DIR.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>

#include "FirmwareStandins.h"

namespace {

bool WriteFile(const std::string& strPath, const std::vector<uint8_t>& bytes) {
    FILE* pFile = std::fopen(strPath.c_str(), "wb");
    if (!pFile) {
        std::fprintf(stderr, "make-firmware-standins: %s: %s\n", strPath.c_str(),
                     std::strerror(errno));
        return false;
    }
    bool bOk = std::fwrite(bytes.data(), 1, bytes.size(), pFile) == bytes.size();
    int nError = errno;
    bOk = (std::fclose(pFile) == 0) && bOk;
    if (!bOk)
        std::fprintf(stderr, "make-firmware-standins: %s: %s\n", strPath.c_str(),
                     std::strerror(nError ? nError : errno));
    return bOk;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2 || argv[1][0] == '-') {
        std::fprintf(stderr, "usage: make-firmware-standins DIR\n"
                             "Writes the stand-in boot loader DIR/loader.bin and firmware package "
                             "DIR/package.ufw.\n");
        return 2;
    }
    try {
        std::string strDir = argv[1];
        if (!WriteFile(strDir + "/loader.bin", MakeStandinLoader()) ||
            !WriteFile(strDir + "/package.ufw", MakeStandinPackage()))
            return 1;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "make-firmware-standins: %s\n", e.what());
        return 1;
    }
    return 0;
}
