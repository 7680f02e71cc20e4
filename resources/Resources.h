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

// The step pictures. Each family has its own view of every step but the first; 131 and 136, the
// opened machines, belong to no step.
constexpr int kIdbScanUnit = 130; // the machine with the scan unit on it, for both families
constexpr int kIdbMillingOpen = 131;
constexpr int kIdbMillingCabled = 132;    // main board exposed, serial cable and adapter plugged in
constexpr int kIdbMillingUnplugged = 133; // the same with the adapter plug pulled out
constexpr int kIdbMillingJ9J10 = 134;     // main board, jumper blocks J9 and J10 marked
constexpr int kIdbMillingJ1J2 = 135;      // main board, jumper blocks J1 and J2 marked
constexpr int kIdbScannerOpen = 136;
constexpr int kIdbScannerCabled = 137;
constexpr int kIdbScannerUnplugged = 138;
constexpr int kIdbScannerJ9J10 = 139;
constexpr int kIdbScannerJ1J2 = 140;
constexpr int kIdFirstPicture = kIdbScanUnit;
constexpr int kIdLastPicture = kIdbScannerJ1J2;

// The resource from the set in force; empty (false) when it is missing.
CResource FindResource(const char* pszType, int nId);
// nullptr puts the built-in set back.
void SetResourceSet(const IResourceSet* pSet);
const IResourceSet& GetBuiltinResources();
