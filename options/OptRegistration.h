#pragma once
// What the options library writes under HKEY_CLASSES_ROOT to be found as a COM control by its
// ProgID, and takes out again: its AppID, the two ProgIDs, the class key and the type library.
#include <windows.h>
#include <string>
#include <vector>

class COptRegistration {
public:
    static constexpr const wchar_t* APPID = L"{98A7A9CD-E666-4CAD-9708-23D7A88A8262}";
    static constexpr const wchar_t* CLSID_TEXT = L"{A2DBE406-53C5-4F88-BE29-35DD02442383}";
    static constexpr const wchar_t* LIBID_TEXT = L"{29465EE3-42B3-49E2-A83B-53F5D80ADA05}";
    static constexpr const wchar_t* PROGID = L"HvToolsOpts.PropPage.1";
    static constexpr const wchar_t* VERSION_INDEPENDENT_PROGID = L"HvToolsOpts.PropPage";
    static constexpr const wchar_t* CLASS_NAME = L"PropPage Class";

    // One value to write: a key below HKEY_CLASSES_ROOT, the value's name (empty: the default
    // value) and its text. A key with neither name nor text is written empty.
    struct Entry {
        std::wstring key;
        std::wstring name;
        std::wstring text;
        bool hasValue = true;
    };

    // The keys and values for a library at `modulePath`, in the order they are written.
    static std::vector<Entry> Entries(const std::wstring& modulePath);
    // The keys unregistration deletes with everything below them.
    static std::vector<std::wstring> OwnedKeys();

    // Writes every entry and registers the type library of the module. Stops at the first
    // failure and returns it.
    static HRESULT Register(const std::wstring& modulePath);
    // Deletes the owned keys and unregisters the type library; keys already gone are fine.
    static HRESULT Unregister();
};
