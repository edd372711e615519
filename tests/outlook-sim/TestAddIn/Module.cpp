// HvSimTestAddIn.dll's COM server shell: entry point, class factory, self-registration.
#include <windows.h>
#include <objbase.h>
#include <olectl.h>

#include <string>

#include "TestAddIn.h"
#include "win/UniqueAny.h"

namespace hvsimtest {
extern HMODULE g_module;
extern LONG g_objects;
extern LONG g_locks;
IUnknown* CreateTestAddIn();
IUnknown* CreateTestOptionsPage();
}  // namespace hvsimtest

using namespace hvsimtest;

namespace {

using Creator = IUnknown* (*)();

class CFactory final : public IClassFactory {
public:
    explicit CFactory(Creator create) : m_create(create) {}
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IClassFactory) {
            *ppv = static_cast<IClassFactory*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(::InterlockedIncrement(&m_refs)); }
    STDMETHODIMP_(ULONG) Release() override {
        LONG n = ::InterlockedDecrement(&m_refs);
        if (n == 0) delete this;
        return static_cast<ULONG>(n);
    }
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (outer) return CLASS_E_NOAGGREGATION;
        IUnknown* object = m_create();
        if (!object) return E_OUTOFMEMORY;
        HRESULT hr = object->QueryInterface(riid, ppv);
        object->Release();
        return hr;
    }
    STDMETHODIMP LockServer(BOOL lock) override {
        if (lock)
            ::InterlockedIncrement(&g_locks);
        else
            ::InterlockedDecrement(&g_locks);
        return S_OK;
    }

private:
    LONG m_refs = 1;
    Creator m_create;
};

std::wstring GuidText(const GUID& g) {
    wchar_t text[64] = {};
    ::StringFromGUID2(g, text, 64);
    return text;
}

bool SetValue(HKEY root, const std::wstring& path, const wchar_t* name, const std::wstring& value) {
    hv::unique_hkey key;
    if (::RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, key.put(), nullptr) !=
        ERROR_SUCCESS)
        return false;
    return ::RegSetValueExW(key.get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                            static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
}

bool RegisterClass(const CLSID& clsid, const wchar_t* progId, const wchar_t* description, bool control) {
    wchar_t path[MAX_PATH] = {};
    ::GetModuleFileNameW(g_module, path, MAX_PATH);
    // HKCR itself: Wine's COM does not look at per-user classes.
    const std::wstring classes;
    const std::wstring clsidKey = classes + L"CLSID\\" + GuidText(clsid);
    bool ok = SetValue(HKEY_CLASSES_ROOT, clsidKey, nullptr, description) &&
              SetValue(HKEY_CLASSES_ROOT, clsidKey + L"\\InprocServer32", nullptr, path) &&
              SetValue(HKEY_CLASSES_ROOT, clsidKey + L"\\InprocServer32", L"ThreadingModel", L"Apartment") &&
              SetValue(HKEY_CLASSES_ROOT, clsidKey + L"\\ProgID", nullptr, progId) &&
              SetValue(HKEY_CLASSES_ROOT, classes + progId, nullptr, description) &&
              SetValue(HKEY_CLASSES_ROOT, classes + progId + L"\\CLSID", nullptr, GuidText(clsid));
    if (ok && control) {
        ok = SetValue(HKEY_CLASSES_ROOT, clsidKey + L"\\Control", nullptr, L"") &&
             SetValue(HKEY_CLASSES_ROOT, clsidKey + L"\\MiscStatus", nullptr, L"0") &&
             SetValue(HKEY_CLASSES_ROOT, clsidKey + L"\\MiscStatus\\1", nullptr, L"131473");
    }
    return ok;
}

void UnregisterClass(const CLSID& clsid, const wchar_t* progId) {
    const std::wstring classes;
    ::RegDeleteTreeW(HKEY_CLASSES_ROOT, (classes + L"CLSID\\" + GuidText(clsid)).c_str());
    ::RegDeleteTreeW(HKEY_CLASSES_ROOT, (classes + progId).c_str());
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        g_module = instance;
        ::DisableThreadLibraryCalls(instance);
    }
    return TRUE;
}

extern "C" HRESULT WINAPI DllGetClassObject(REFCLSID clsid, REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    Creator create = nullptr;
    if (clsid == CLSID_TestAddIn)
        create = &CreateTestAddIn;
    else if (clsid == CLSID_TestOptionsPage)
        create = &CreateTestOptionsPage;
    else
        return CLASS_E_CLASSNOTAVAILABLE;
    auto* factory = new CFactory(create);
    HRESULT hr = factory->QueryInterface(riid, ppv);
    factory->Release();
    return hr;
}

extern "C" HRESULT WINAPI DllCanUnloadNow() {
    return g_objects == 0 && g_locks == 0 ? S_OK : S_FALSE;
}

extern "C" HRESULT WINAPI DllRegisterServer() {
    bool ok = RegisterClass(CLSID_TestAddIn, L"HvSimTest.AddIn", L"HvSimTest AddIn", false) &&
              RegisterClass(CLSID_TestOptionsPage, L"HvSimTest.OptionsPage", L"HvSimTest Options Page", true);
    return ok ? S_OK : SELFREG_E_CLASS;
}

extern "C" HRESULT WINAPI DllUnregisterServer() {
    UnregisterClass(CLSID_TestAddIn, L"HvSimTest.AddIn");
    UnregisterClass(CLSID_TestOptionsPage, L"HvSimTest.OptionsPage");
    return S_OK;
}
