#include "options/OptRegistration.h"
#include <oleauto.h>
#include "options/CompositeControl.h"
#include "options/HvToolsOpts_i.h"
#include "win/ComPtr.h"
#include "win/ComTypes.h"
#include "win/UniqueAny.h"

namespace {

HRESULT FromWin32(LSTATUS status) {
    return status == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(status);
}

HRESULT WriteEntry(const COptRegistration::Entry& entry) {
    hv::unique_hkey key;
    RETURN_IF_FAILED(FromWin32(::RegCreateKeyExW(HKEY_CLASSES_ROOT, entry.key.c_str(), 0, nullptr,
                                                 REG_OPTION_NON_VOLATILE, KEY_WRITE, nullptr, key.put(), nullptr)));
    if (!entry.hasValue) return S_OK;
    const DWORD bytes = static_cast<DWORD>((entry.text.size() + 1) * sizeof(wchar_t));
    return FromWin32(::RegSetValueExW(key.get(), entry.name.empty() ? nullptr : entry.name.c_str(), 0, REG_SZ,
                                      reinterpret_cast<const BYTE*>(entry.text.c_str()), bytes));
}

}  // namespace

std::vector<COptRegistration::Entry> COptRegistration::Entries(const std::wstring& modulePath) {
    const std::wstring appKey = std::wstring(L"AppID\\") + APPID;
    const std::wstring clsKey = std::wstring(L"CLSID\\") + CLSID_TEXT;
    const std::wstring progId = PROGID;
    const std::wstring independent = VERSION_INDEPENDENT_PROGID;
    return {
        {appKey, L"", L"HvToolsOpts"},
        {L"AppID\\HvToolsOpts.DLL", L"AppID", APPID},
        {progId, L"", CLASS_NAME},
        {progId + L"\\CLSID", L"", CLSID_TEXT},
        {independent, L"", CLASS_NAME},
        {independent + L"\\CLSID", L"", CLSID_TEXT},
        {independent + L"\\CurVer", L"", PROGID},
        {clsKey, L"", CLASS_NAME},
        {clsKey + L"\\ProgID", L"", PROGID},
        {clsKey + L"\\VersionIndependentProgID", L"", VERSION_INDEPENDENT_PROGID},
        {clsKey + L"\\Programmable", L"", L"", false},
        {clsKey + L"\\InprocServer32", L"", modulePath},
        {clsKey + L"\\InprocServer32", L"ThreadingModel", L"Apartment"},
        {clsKey, L"AppID", APPID},
        {clsKey + L"\\Control", L"", L"", false},
        {clsKey + L"\\ToolboxBitmap32", L"", modulePath + L", 28001"},
        {clsKey + L"\\MiscStatus", L"", L"0"},
        {clsKey + L"\\MiscStatus\\1", L"", std::to_wstring(CCompositeControl::MISC_STATUS)},
        {clsKey + L"\\TypeLib", L"", LIBID_TEXT},
        {clsKey + L"\\Version", L"", L"1.0"},
    };
}

std::vector<std::wstring> COptRegistration::OwnedKeys() {
    return {
        std::wstring(L"CLSID\\") + CLSID_TEXT, VERSION_INDEPENDENT_PROGID, PROGID,
        std::wstring(L"AppID\\") + APPID,      L"AppID\\HvToolsOpts.DLL",
    };
}

HRESULT COptRegistration::Register(const std::wstring& modulePath) {
    for (const Entry& entry : Entries(modulePath)) RETURN_IF_FAILED(WriteEntry(entry));
    // Registered with the path as given: REGKIND_REGISTER would write the loader's own form
    // of it (Wine writes a "\\?\" path).
    hv::com_ptr<ITypeLib> library;
    RETURN_IF_FAILED(::LoadTypeLibEx(modulePath.c_str(), REGKIND_NONE, library.put()));
    std::wstring path = modulePath;
    return ::RegisterTypeLib(library.get(), &path[0], nullptr);
}

HRESULT COptRegistration::Unregister() {
    HRESULT result = S_OK;
    for (const std::wstring& key : OwnedKeys()) {
        const LSTATUS status = ::RegDeleteTreeW(HKEY_CLASSES_ROOT, key.c_str());
        if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND && SUCCEEDED(result))
            result = HRESULT_FROM_WIN32(status);
    }
#ifdef _WIN64
    const SYSKIND kind = SYS_WIN64;
#else
    const SYSKIND kind = SYS_WIN32;
#endif
    // A library that is not registered (any more) is no failure of unregistration.
    hv::unique_bstr registered;
    if (FAILED(::QueryPathOfRegTypeLib(LIBID_HvToolsOptsLib, 1, 0, LOCALE_NEUTRAL, registered.put()))) return result;
    const HRESULT typeLib = ::UnRegisterTypeLib(LIBID_HvToolsOptsLib, 1, 0, LOCALE_NEUTRAL, kind);
    return SUCCEEDED(result) ? typeLib : result;
}
