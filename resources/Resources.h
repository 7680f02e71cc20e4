#pragma once
// The program's built-in resources, looked up by type and number the way the machine's release
// numbers them: "BIN" 143 the boot loader, "BIN" 150 the firmware package, "BITMAP" 130..140 the
// step pictures, "ICON" 128 the program icon. They are compiled into the program and used in place.
#include <cstddef>

struct CResource {
    const unsigned char* m_pData = nullptr;
    size_t m_nSize = 0;
    // A resource that is missing or empty counts as missing.
    explicit operator bool() const { return m_pData != nullptr && m_nSize > 0; }
};

// A set of resources; tests put one in place of the built-in set to leave one out or swap it.
class IResourceSet {
public:
    virtual ~IResourceSet() = default;
    virtual CResource Find(const char* pszType, int nId) const = 0;
};

constexpr int kIdLoader = 143;
constexpr int kIdPackage = 150;
constexpr int kIdIcon = 128;
constexpr int kIdFirstPicture = 130;
constexpr int kIdLastPicture = 140;

// The resource from the set in force; empty (false) when it is missing.
CResource FindResource(const char* pszType, int nId);
// nullptr puts the built-in set back.
void SetResourceSet(const IResourceSet* pSet);
const IResourceSet& GetBuiltinResources();
