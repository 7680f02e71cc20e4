#pragma once
// The table the build generates from the resource files (see resources/CMakeLists.txt).

struct CBuiltinEntry {
    const char* m_pszType;
    int m_nId;
    const unsigned char* m_pBegin;
    const unsigned char* m_pEnd;
};

// Ended by an entry whose type is nullptr.
extern const CBuiltinEntry g_builtinEntries[];
