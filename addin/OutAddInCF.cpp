#include "addin/OutAddInCF.h"

#include <new>

#include "addin/OutAddIn.h"
#include "common/DiagLog.h"
#include "common/Registration.h"
#include "common/Config.h"
#include "win/ComPtr.h"
#include "win/Errors.h"
#include "win/Strings.h"

HRESULT COutAddInCF::QueryInterface(REFIID iid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (iid != IID_IUnknown && iid != IID_IClassFactory) return E_NOINTERFACE;
    *out = static_cast<IClassFactory*>(this);
    AddRef();
    return S_OK;
}

ULONG COutAddInCF::AddRef() {
    return ::InterlockedIncrement(reinterpret_cast<volatile LONG*>(&m_cRef));
}

ULONG COutAddInCF::Release() {
    const ULONG count = ::InterlockedDecrement(reinterpret_cast<volatile LONG*>(&m_cRef));
    if (count == 0) delete this;
    return count;
}

HRESULT COutAddInCF::CreateInstance(IUnknown* outer, REFIID iid, void** out) {
    try {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (outer) return CLASS_E_NOAGGREGATION;
        COutAddIn* addin = new (std::nothrow) COutAddIn;
        if (!addin || !addin->m_pLastClosed) {
            delete addin;
            return E_OUTOFMEMORY;
        }
        // Counted from here, so that the Release of a failed query balances it.
        ::InterlockedIncrement(&CHvOutModule::LiveObjects());
        addin->AddRef();
        const HRESULT hr = addin->QueryInterface(iid, out);
        addin->Release();
        return hr;
    }
    CATCH_RETURN();
}

HRESULT COutAddInCF::LockServer(BOOL lock) {
    if (lock)
        ::InterlockedIncrement(&CHvOutModule::FactoryLocks());
    else
        ::InterlockedDecrement(&CHvOutModule::FactoryLocks());
    return S_OK;
}

HRESULT COutAddInCF::GetClassObject(REFCLSID clsid, REFIID iid, void** out) {
    try {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (clsid != hv::office::CLSID_OutAddIn) return CLASS_E_CLASSNOTAVAILABLE;
        COutAddInCF* factory = new (std::nothrow) COutAddInCF;
        if (!factory) return E_OUTOFMEMORY;
        factory->AddRef();
        const HRESULT hr = factory->QueryInterface(iid, out);
        factory->Release();  // deletes it when the query failed
        return hr;
    }
    CATCH_RETURN();
}

// ---- registration ----------------------------------------------------------------------------

namespace {

constexpr UINT IDR_REGISTRY_SCRIPT = 26002;

std::string RegistryScript() {
    const HMODULE module = hv::ThisModule();
    HRSRC found = ::FindResourceW(module, MAKEINTRESOURCEW(IDR_REGISTRY_SCRIPT), L"REGISTRY");
    if (!found) return std::string();
    HGLOBAL loaded = ::LoadResource(module, found);
    const char* bytes = loaded ? static_cast<const char*>(::LockResource(loaded)) : nullptr;
    return bytes ? std::string(bytes, ::SizeofResource(module, found)) : std::string();
}

#ifdef _WIN64
constexpr SYSKIND kSysKind = SYS_WIN64;
#else
constexpr SYSKIND kSysKind = SYS_WIN32;
#endif

}  // namespace

HRESULT CHvOutModule::RegisterServer(const std::string& modulePath) {
    CLogBlock block("CHvOutModule::RegisterServer");
    const std::string script = RegistryScript();
    if (script.empty()) return E_FAIL;
    HRESULT hr = CRegistration::ApplyScript(script, false);
    if (FAILED(hr)) return hr;
    hv::com_ptr<ITypeLib> typeLib;
    hr = ::LoadTypeLibEx(hv::ToWide(modulePath).c_str(), REGKIND_REGISTER, typeLib.put());
    if (FAILED(hr)) return hr;
    LOG_IF_FAILED(CRegistration::WriteAddinKeys(modulePath));
    return S_OK;
}

HRESULT CHvOutModule::UnregisterServer(const std::string&) {
    CLogBlock block("CHvOutModule::UnregisterServer");
    const std::string script = RegistryScript();
    if (!script.empty()) LOG_IF_FAILED(CRegistration::ApplyScript(script, true));
    // A library that was never (or only partly) registered still gets its keys removed.
    hv::com_ptr<ITypeLib> registered;
    if (SUCCEEDED(::LoadRegTypeLib(hv::office::LIBID_HvOutLib, 1, 0, 1033, registered.put()))) {
        registered.reset();
        const HRESULT hr = ::UnRegisterTypeLib(hv::office::LIBID_HvOutLib, 1, 0, 1033, kSysKind);
        if (FAILED(hr)) return hr;
    }
    CRegistration::RemoveAddinKeys();
    CConfig config;
    config.DeleteAllSettings();
    return S_OK;
}
