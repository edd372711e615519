#pragma once
// IDispatch over a table of the DISPIDs a sink (or the add-in's ribbon callbacks) handles.
// The host calls by DISPID; names are looked up case-sensitively in the table.
#include <windows.h>
#include <oaidl.h>

// One member of a dispatch table; a table ends with an entry whose name is null.
struct DISPATCH_ENTRY {
    DISPID dispid;
    LONG argCount;
    const char* name;
};

class CDispatchObject : public IDispatch {
public:
    explicit CDispatchObject(const DISPATCH_ENTRY* table) noexcept : m_pTable(table) {}
    CDispatchObject(const CDispatchObject&) = delete;
    CDispatchObject& operator=(const CDispatchObject&) = delete;

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    // IDispatch
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) override;
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids) override;
    HRESULT STDMETHODCALLTYPE Invoke(DISPID dispid, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params,
                                     VARIANT* result, EXCEPINFO* excepInfo, UINT* argError) override;

    virtual ~CDispatchObject() = default;
    // The event itself; arguments arrive in reverse order (rgvarg[0] is the last parameter).
    virtual void OnInvoke(DISPID dispid, DISPPARAMS* params) = 0;
    // The source (event) interface this sink implements.
    virtual const IID& GetSourceIID() const = 0;

    ULONG RefCount() const noexcept { return m_cRef; }

    // The checks and the lookup every dispatch table shares: IID_NULL, one name, the name in
    // the ANSI code page (at most 512 bytes), an exact match.
    static HRESULT LookupName(const DISPATCH_ENTRY* table, REFIID riid, LPOLESTR* names, UINT count, DISPID* ids);
    static const DISPATCH_ENTRY* FindName(const DISPATCH_ENTRY* table, const char* name) noexcept;
    static const DISPATCH_ENTRY* FindId(const DISPATCH_ENTRY* table, DISPID dispid) noexcept;

protected:
    ULONG m_cRef = 0;
    const DISPATCH_ENTRY* m_pTable;
};
