#include "resources/Resources.h"

#include <cstring>

#include "resources/BuiltinTable.h"

namespace {

class CBuiltinResources : public IResourceSet {
public:
    CResource Find(const char* pszType, int nId) const override {
        for (const CBuiltinEntry* p = g_builtinEntries; p->m_pszType; ++p) {
            if (p->m_nId == nId && std::strcmp(p->m_pszType, pszType) == 0)
                return {p->m_pBegin, static_cast<size_t>(p->m_pEnd - p->m_pBegin)};
        }
        return {};
    }
};

const CBuiltinResources g_builtin;
const IResourceSet* g_pSet = &g_builtin;

} // namespace

CResource FindResource(const char* pszType, int nId) {
    CResource res = g_pSet->Find(pszType, nId);
    return res ? res : CResource{};
}

void SetResourceSet(const IResourceSet* pSet) { g_pSet = pSet ? pSet : &g_builtin; }

const IResourceSet& GetBuiltinResources() { return g_builtin; }
