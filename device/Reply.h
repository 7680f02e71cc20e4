#pragma once
// The grammar of the machine's answer to "F;", kept apart from the port so that every rule can be
// exercised on plain text. Texts here are what the reply loops collected, cut at the first zero
// byte the way the zero-terminated reply buffer cuts them.
#include <string>
#include <string_view>

// The version check's reading of a reply (the bytes before the first ';').
struct CReplySplit {
    std::string m_strVersion; // leading spaces skipped, up to the next space
    std::string m_strModel;   // everything after that one space, unchanged
    // False when there is no version token, no space after it, or nothing after the space: the
    // operator is then asked to try again.
    bool m_bUsable = false;
};
CReplySplit SplitReply(std::string_view text);

// Index into g_modelNames of the entry equal to strModel (whole text, case-sensitive), or -1.
int FindModel(std::string_view model);

// 1 for the scanner family ("NRP..."), 0 for the milling machines.
int ScannerFlagOf(std::string_view model);

// True when strPackage is greater than strMachine as byte strings: unsigned bytes from the first
// on, the first difference decides, a proper beginning is the smaller. "V260" > "V1000".
bool IsVersionGreater(std::string_view package, std::string_view machine);

// Discovery's reading of the bytes after the dropped first byte: the first token up to the first
// space is skipped (leading spaces first), then leading ';' are skipped and the candidate runs to
// the next ';' or the end. False when there is no candidate.
bool FindModelCandidate(std::string_view text, std::string& strCandidate);

// The bytes as the zero-terminated buffer would hold them: cut at the first zero byte.
std::string_view CutAtZero(std::string_view bytes);
