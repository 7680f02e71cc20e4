#include "device/Reply.h"

#include "device/DeviceCheck.h"

const char* const g_modelNames[] = {"NRP-7", "NRP-70", "TVK-35", "TVK-50", nullptr};

CReplySplit SplitReply(std::string_view text) {
    CReplySplit split;
    size_t nBegin = text.find_first_not_of(' ');
    if (nBegin == std::string_view::npos)
        return split;
    size_t nSpace = text.find(' ', nBegin);
    if (nSpace == std::string_view::npos) {
        split.m_strVersion = text.substr(nBegin);
        return split;
    }
    split.m_strVersion = text.substr(nBegin, nSpace - nBegin);
    split.m_strModel = text.substr(nSpace + 1);
    split.m_bUsable = !split.m_strModel.empty();
    return split;
}

int FindModel(std::string_view model) {
    for (int i = 0; g_modelNames[i]; ++i) {
        if (model == g_modelNames[i])
            return i;
    }
    return -1;
}

int ScannerFlagOf(std::string_view model) {
    return model.substr(0, 3) == "NRP" ? 1 : 0;
}

bool IsVersionGreater(std::string_view package, std::string_view machine) {
    size_t nCommon = package.size() < machine.size() ? package.size() : machine.size();
    for (size_t i = 0; i < nCommon; ++i) {
        auto a = static_cast<unsigned char>(package[i]);
        auto b = static_cast<unsigned char>(machine[i]);
        if (a != b)
            return a > b;
    }
    return package.size() > machine.size();
}

bool FindModelCandidate(std::string_view text, std::string& strCandidate) {
    size_t nBegin = text.find_first_not_of(' ');
    if (nBegin == std::string_view::npos)
        return false;
    size_t nSpace = text.find(' ', nBegin);
    if (nSpace == std::string_view::npos)
        return false;
    std::string_view rest = text.substr(nSpace + 1);
    size_t nStart = rest.find_first_not_of(';');
    if (nStart == std::string_view::npos)
        return false;
    rest.remove_prefix(nStart);
    strCandidate = rest.substr(0, rest.find(';'));
    return true;
}

std::string_view CutAtZero(std::string_view bytes) {
    return bytes.substr(0, bytes.find('\0'));
}
