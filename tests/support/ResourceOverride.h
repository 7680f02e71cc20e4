#pragma once
// For tests: puts in place a resource set that is the built-in one except for the entries a test
// hides or replaces, and puts the built-in set back when it goes out of scope.
//
//     CResourceOverride resources;
//     resources.Hide("BIN", kIdLoader);
//     resources.Replace("BIN", kIdPackage, {'P', 'U', 'F'});
//
// The string tables are not affected: they are always read from the built-in set.
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "resources/Resources.h"

class CResourceOverride : public IResourceSet {
public:
    CResourceOverride() { SetResourceSet(this); }
    ~CResourceOverride() override { SetResourceSet(nullptr); }
    CResourceOverride(const CResourceOverride&) = delete;
    CResourceOverride& operator=(const CResourceOverride&) = delete;

    // The entry is missing from now on.
    CResourceOverride& Hide(const char* pszType, int nId) {
        m_entries[{pszType, nId}] = std::nullopt;
        return *this;
    }
    // The entry holds these bytes from now on; no bytes makes it an empty, so missing, entry.
    CResourceOverride& Replace(const char* pszType, int nId, std::vector<unsigned char> bytes) {
        m_entries[{pszType, nId}] = std::move(bytes);
        return *this;
    }
    // The built-in entry again.
    CResourceOverride& Restore(const char* pszType, int nId) {
        m_entries.erase({pszType, nId});
        return *this;
    }

    CResource Find(const char* pszType, int nId) const override {
        auto it = m_entries.find({pszType, nId});
        if (it == m_entries.end())
            return GetBuiltinResources().Find(pszType, nId);
        if (!it->second)
            return {};
        return {it->second->data(), it->second->size()};
    }

private:
    std::map<std::pair<std::string, int>, std::optional<std::vector<unsigned char>>> m_entries;
};

// A "BIN" resource as the program finds it now (a test may have overridden it); empty when
// missing.
inline std::vector<uint8_t> BuiltinBytes(int nId) {
    const CResource res = FindResource("BIN", nId);
    if (!res)
        return {};
    return {res.m_pData, res.m_pData + res.m_nSize};
}
