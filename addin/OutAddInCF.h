#pragma once
// The class factory of the add-in object.
#include <windows.h>
#include <unknwn.h>

class COutAddInCF : public IClassFactory {
public:
    COutAddInCF() noexcept = default;
    virtual ~COutAddInCF() = default;
    COutAddInCF(const COutAddInCF&) = delete;
    COutAddInCF& operator=(const COutAddInCF&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override;
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override;

    // DllGetClassObject: a new factory for the add-in's class id, asked for `iid`.
    static HRESULT GetClassObject(REFCLSID clsid, REFIID iid, void** out);

private:
    ULONG m_cRef = 0;
};
