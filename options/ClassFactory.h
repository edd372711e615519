#pragma once
// The options library's class factory and the counts that decide whether it can be unloaded.
#include <windows.h>
#include <unknwn.h>

// Live page objects and server locks of the module.
void OptObjectCreated() noexcept;
void OptObjectDestroyed() noexcept;
bool OptCanUnload() noexcept;

class CClassFactory : public IClassFactory {
public:
    using CreateFn = HRESULT (*)(IUnknown* outer, REFIID iid, void** out);
    explicit CClassFactory(CreateFn create) noexcept : m_pfnCreate(create) {}
    virtual ~CClassFactory() = default;

    STDMETHODIMP QueryInterface(REFIID iid, void** out) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID iid, void** out) override;
    STDMETHODIMP LockServer(BOOL lock) override;

private:
    LONG m_cRef = 1;
    CreateFn m_pfnCreate;
};
