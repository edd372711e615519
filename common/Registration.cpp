#include "common/Registration.h"

#include <objbase.h>
#include <cstring>

#include "common/Config.h"
#include "common/DiagLog.h"
#include "win/ComPtr.h"
#include "win/Strings.h"
#include "win/UniqueAny.h"

// The registrar of the platform's ATL library (atliface.h, which mingw-w64 does not ship).
struct IRegistrarBase : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE AddReplacement(LPCOLESTR key, LPCOLESTR item) = 0;
    virtual HRESULT STDMETHODCALLTYPE ClearReplacements() = 0;
};
struct IRegistrar : public IRegistrarBase {
    virtual HRESULT STDMETHODCALLTYPE ResourceRegisterSz(LPCOLESTR resFileName, LPCOLESTR id, LPCOLESTR type) = 0;
    virtual HRESULT STDMETHODCALLTYPE ResourceUnregisterSz(LPCOLESTR resFileName, LPCOLESTR id, LPCOLESTR type) = 0;
    virtual HRESULT STDMETHODCALLTYPE FileRegister(LPCOLESTR fileName) = 0;
    virtual HRESULT STDMETHODCALLTYPE FileUnregister(LPCOLESTR fileName) = 0;
    virtual HRESULT STDMETHODCALLTYPE StringRegister(LPCOLESTR data) = 0;
    virtual HRESULT STDMETHODCALLTYPE StringUnregister(LPCOLESTR data) = 0;
    virtual HRESULT STDMETHODCALLTYPE ResourceRegister(LPCOLESTR resFileName, UINT id, LPCOLESTR type) = 0;
    virtual HRESULT STDMETHODCALLTYPE ResourceUnregister(LPCOLESTR resFileName, UINT id, LPCOLESTR type) = 0;
};
__CRT_UUID_DECL(IRegistrar, 0x44EC053B, 0x400F, 0x11D0, 0x9D, 0xCD, 0x00, 0xA0, 0xC9, 0x03, 0x91, 0xD3)

namespace {

constexpr CLSID CLSID_Registrar = {0x44EC053A, 0x400F, 0x11D0, {0x9D, 0xCD, 0x00, 0xA0, 0xC9, 0x03, 0x91, 0xD3}};

// Sets the default or a named string value, with its terminating zero.
LONG SetString(HKEY key, const wchar_t* name, const std::string& text) {
    const std::wstring wide = hv::ToWide(text);
    return ::RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(wide.c_str()),
                            static_cast<DWORD>((wide.size() + 1) * sizeof(wchar_t)));
}

LONG SetDword(HKEY key, const wchar_t* name, DWORD value) {
    return ::RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value));
}

// Creates HKCR\<path> with the given default value.
LONG WriteClassKey(const std::string& path, const std::string& value) {
    hv::unique_hkey key;
    LONG rc = ::RegCreateKeyExW(HKEY_CLASSES_ROOT, hv::ToWide(path).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                key.put(), nullptr);
    if (rc == ERROR_SUCCESS) rc = SetString(key.get(), nullptr, value);
    return rc;
}

// COM for the registrar, on whichever thread regsvr32 or an installer calls us.
class CComScope {
public:
    CComScope() noexcept : m_hr(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
    ~CComScope() {
        if (SUCCEEDED(m_hr)) ::CoUninitialize();
    }

private:
    HRESULT m_hr;
};

}  // namespace

std::string CRegistration::OutlookVersion() {
    std::string version = "11";
    hv::unique_hkey key;
    if (::RegOpenKeyExW(HKEY_CLASSES_ROOT, L"Outlook.Application\\CurVer", 0, KEY_ALL_ACCESS, key.put()) !=
        ERROR_SUCCESS)
        return version;
    wchar_t buf[257] = {};  // 512 bytes and a terminator
    DWORD size = 512;
    DWORD type = 0;
    if (::RegQueryValueExW(key.get(), nullptr, nullptr, &type, reinterpret_cast<BYTE*>(buf), &size) != ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ))
        return version;
    const std::string value = hv::ToAnsi(buf);
    const size_t dot = value.rfind('.');
    if (dot != std::string::npos) version = value.substr(dot + 1);
    return version;
}

bool CRegistration::VersionBelow(const std::string& version, const char* other) {
    return std::strcmp(version.c_str(), other) < 0;
}

HRESULT CRegistration::DeleteKeyTree(HKEY root, const std::string& path) {
    const std::wstring wide = hv::ToWide(path);
    hv::unique_hkey key;
    if (::RegOpenKeyExW(root, wide.c_str(), 0, KEY_ALL_ACCESS, key.put()) != ERROR_SUCCESS) return S_FALSE;
    for (;;) {
        wchar_t name[257] = {};
        DWORD length = 256;
        const LONG rc = ::RegEnumKeyExW(key.get(), 0, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (rc == ERROR_NO_MORE_ITEMS) break;
        if (rc != ERROR_SUCCESS) return HRESULT_FROM_WIN32(rc);
        const HRESULT hr = DeleteKeyTree(root, path + "\\" + hv::ToAnsi(name));
        if (FAILED(hr)) return hr;
        // A subkey that could not be opened is still there: stop rather than spin on it.
        if (hr == S_FALSE) return HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED);
    }
    key.reset();
    const LONG rc = ::RegDeleteKeyW(root, wide.c_str());
    return rc == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(rc);
}

std::string CRegistration::OfficeAddinKeyPath(const char* application) {
    CConfig config;
    return std::string("Software\\Microsoft\\Office\\") + application + "\\Addins\\" + config.GetProgID();
}

HRESULT CRegistration::ApplyScript(const std::string& script, bool unregister) {
    CComScope com;
    hv::com_ptr<IRegistrar> registrar;
    HRESULT hr =
        ::CoCreateInstance(CLSID_Registrar, nullptr, CLSCTX_INPROC_SERVER, __uuidof(IRegistrar), registrar.put_void());
    if (FAILED(hr)) {
        HvLog().LogError("The registrar is not available");
        return hr;
    }
    hr = registrar->AddReplacement(L"APPID", hv::ToWide(APPID).c_str());
    if (FAILED(hr)) return hr;
    const std::wstring text = hv::ToWide(script);
    return unregister ? registrar->StringUnregister(text.c_str()) : registrar->StringRegister(text.c_str());
}

HRESULT CRegistration::WriteOfficeKey(HKEY root, const char* application) {
    CConfig config;
    hv::unique_hkey key;
    LONG rc = ::RegCreateKeyExW(root, hv::ToWide(OfficeAddinKeyPath(application)).c_str(), 0, nullptr, 0,
                                KEY_ALL_ACCESS, nullptr, key.put(), nullptr);
    if (rc != ERROR_SUCCESS) return E_ACCESSDENIED;
    rc = SetDword(key.get(), L"LoadBehavior", 3);
    if (rc == ERROR_SUCCESS) rc = SetDword(key.get(), L"CommandLineSafe", 0);
    if (rc == ERROR_SUCCESS) rc = SetString(key.get(), L"FriendlyName", config.GetFriendlyName());
    if (rc == ERROR_SUCCESS) rc = SetString(key.get(), L"Description", config.GetFriendlyName());
    return rc == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(rc);
}

HRESULT CRegistration::WriteAddinKeys(const std::string& modulePath) {
    CConfig config;
    const std::string clsidKey = "CLSID\\" + config.GetClassIdString();
    LONG rc = WriteClassKey(clsidKey, config.GetFriendlyName());
    // A thread-less in-process server: Outlook creates and calls it on its user-interface thread.
    if (rc == ERROR_SUCCESS) rc = WriteClassKey(clsidKey + "\\InprocServer32", modulePath);
    if (rc == ERROR_SUCCESS) rc = WriteClassKey(clsidKey + "\\ProgID", config.GetProgID());
    if (rc == ERROR_SUCCESS) rc = WriteClassKey(config.GetProgID(), config.GetFriendlyName());
    if (rc == ERROR_SUCCESS) rc = WriteClassKey(config.GetProgID() + "\\CLSID", config.GetClassIdString());
    if (rc != ERROR_SUCCESS) return HRESULT_FROM_WIN32(rc);
    const HKEY root =
        VersionBelow(OutlookVersion(), FIRST_MACHINE_WIDE_VERSION) ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
    return WriteOfficeKey(root, "Outlook");
}

void CRegistration::RemoveAddinKeys() {
    CConfig config;
    DeleteKeyTree(HKEY_CLASSES_ROOT, "CLSID\\" + config.GetClassIdString());
    DeleteKeyTree(HKEY_CLASSES_ROOT, config.GetProgID());
    DeleteKeyTree(HKEY_LOCAL_MACHINE, OfficeAddinKeyPath("Word"));
    DeleteKeyTree(HKEY_CURRENT_USER, OfficeAddinKeyPath("Word"));
    DeleteKeyTree(HKEY_LOCAL_MACHINE, OfficeAddinKeyPath("Outlook"));
    DeleteKeyTree(HKEY_CURRENT_USER, OfficeAddinKeyPath("Outlook"));
}
