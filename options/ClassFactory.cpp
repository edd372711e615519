#include "options/ClassFactory.h"
#include "options/CredentialTest.h"
#include "win/Errors.h"

namespace {
LONG g_cObjects = 0;
LONG g_cLocks = 0;
}  // namespace

void OptObjectCreated() noexcept {
    ::InterlockedIncrement(&g_cObjects);
}

void OptObjectDestroyed() noexcept {
    // The service connection lives as long as some page does: closing it here, on the page's
    // thread, keeps WinINet work out of the loader lock at unload.
    if (::InterlockedDecrement(&g_cObjects) == 0) CCredentialTest::ReleaseConnection();
}

bool OptCanUnload() noexcept {
    return g_cObjects == 0 && g_cLocks == 0;
}

STDMETHODIMP CClassFactory::QueryInterface(REFIID iid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (iid != IID_IUnknown && iid != IID_IClassFactory) return E_NOINTERFACE;
    *out = static_cast<IClassFactory*>(this);
    AddRef();
    return S_OK;
}

STDMETHODIMP_(ULONG) CClassFactory::AddRef() {
    return static_cast<ULONG>(::InterlockedIncrement(&m_cRef));
}

STDMETHODIMP_(ULONG) CClassFactory::Release() {
    const LONG count = ::InterlockedDecrement(&m_cRef);
    if (count == 0) delete this;
    return static_cast<ULONG>(count);
}

STDMETHODIMP CClassFactory::CreateInstance(IUnknown* outer, REFIID iid, void** out) {
    try {
        return m_pfnCreate(outer, iid, out);
    }
    CATCH_RETURN();
}

STDMETHODIMP CClassFactory::LockServer(BOOL lock) {
    if (lock)
        ::InterlockedIncrement(&g_cLocks);
    else
        ::InterlockedDecrement(&g_cLocks);
    return S_OK;
}
