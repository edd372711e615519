#include "addin/DispatchObject.h"

#include <cstring>

#include "win/Errors.h"

const DISPATCH_ENTRY* CDispatchObject::FindName(const DISPATCH_ENTRY* table, const char* name) noexcept {
    for (const DISPATCH_ENTRY* e = table; e && e->name; ++e)
        if (std::strcmp(e->name, name) == 0) return e;
    return nullptr;
}

const DISPATCH_ENTRY* CDispatchObject::FindId(const DISPATCH_ENTRY* table, DISPID dispid) noexcept {
    for (const DISPATCH_ENTRY* e = table; e && e->name; ++e)
        if (e->dispid == dispid) return e;
    return nullptr;
}

HRESULT CDispatchObject::LookupName(const DISPATCH_ENTRY* table, REFIID riid, LPOLESTR* names, UINT count,
                                    DISPID* ids) {
    if (riid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
    if (!names || !ids) return E_POINTER;
    if (count != 1) return E_INVALIDARG;
    if (!names[0]) return DISP_E_UNKNOWNNAME;
    char name[512];
    const int n = ::WideCharToMultiByte(CP_ACP, 0, names[0], -1, name, sizeof(name), nullptr, nullptr);
    // A name that does not fit cannot be in any table.
    if (n <= 0) return DISP_E_UNKNOWNNAME;
    const DISPATCH_ENTRY* entry = FindName(table, name);
    if (!entry) {
        ids[0] = DISPID_UNKNOWN;
        return DISP_E_UNKNOWNNAME;
    }
    ids[0] = entry->dispid;
    return S_OK;
}

HRESULT CDispatchObject::QueryInterface(REFIID iid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    try {
        if (iid == GetSourceIID() || iid == IID_IUnknown || iid == IID_IDispatch) {
            *out = static_cast<IDispatch*>(this);
            AddRef();
            return S_OK;
        }
        return E_NOINTERFACE;
    }
    CATCH_RETURN();
}

ULONG CDispatchObject::AddRef() {
    return ::InterlockedIncrement(reinterpret_cast<volatile LONG*>(&m_cRef));
}

ULONG CDispatchObject::Release() {
    const ULONG count = ::InterlockedDecrement(reinterpret_cast<volatile LONG*>(&m_cRef));
    if (count == 0) delete this;
    return count;
}

HRESULT CDispatchObject::GetTypeInfoCount(UINT* count) {
    if (count) *count = 0;
    return S_OK;
}

HRESULT CDispatchObject::GetTypeInfo(UINT, LCID, ITypeInfo** info) {
    if (info) *info = nullptr;
    return E_FAIL;
}

HRESULT CDispatchObject::GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID, DISPID* ids) {
    try {
        return LookupName(m_pTable, riid, names, count, ids);
    }
    CATCH_RETURN();
}

HRESULT CDispatchObject::Invoke(DISPID dispid, REFIID riid, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*,
                                UINT*) {
    if (riid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
    const DISPATCH_ENTRY* entry = FindId(m_pTable, dispid);
    if (!entry) return DISP_E_MEMBERNOTFOUND;
    if (!params) return E_POINTER;
    if (static_cast<LONG>(params->cArgs) != entry->argCount) return DISP_E_BADPARAMCOUNT;
    // The host never hears of a handler's trouble; the handler logged what it had to.
    AddRef();  // a handler may disconnect and release its own sink
    try {
        OnInvoke(dispid, params);
    } catch (...) {
    }
    Release();
    return S_OK;
}
