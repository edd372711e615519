// The options library's shell: entry point, class object and self-registration. Nothing but
// bookkeeping happens under the loader lock: resources are found through the module's own
// image base, never the host's.
#include <windows.h>
#include <new>
#include "options/ClassFactory.h"
#include "options/HvToolsOpts_i.h"
#include "options/OptRegistration.h"
#include "options/PropPage.h"
#include "win/Errors.h"
#include "win/Strings.h"

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) ::DisableThreadLibraryCalls(instance);
    return TRUE;
}

extern "C" HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID clsid, REFIID iid, void** out) {
    try {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (clsid != CLSID_PropPage) return CLASS_E_CLASSNOTAVAILABLE;
        CClassFactory* factory = new (std::nothrow) CClassFactory(&CPropPage::CreateInstance);
        if (!factory) return E_OUTOFMEMORY;
        const HRESULT hr = factory->QueryInterface(iid, out);
        factory->Release();
        return hr;
    }
    CATCH_RETURN();
}

extern "C" HRESULT STDAPICALLTYPE DllCanUnloadNow() {
    return OptCanUnload() ? S_OK : S_FALSE;
}

extern "C" HRESULT STDAPICALLTYPE DllRegisterServer() {
    try {
        wchar_t path[MAX_PATH] = {};
        const DWORD length = ::GetModuleFileNameW(hv::ThisModule(), path, MAX_PATH);
        if (!length || length >= MAX_PATH) return SELFREG_E_CLASS;
        return COptRegistration::Register(path);
    }
    CATCH_RETURN();
}

extern "C" HRESULT STDAPICALLTYPE DllUnregisterServer() {
    try {
        return COptRegistration::Unregister();
    }
    CATCH_RETURN();
}
