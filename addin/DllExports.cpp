// The four exports of the add-in library.
#include <windows.h>

#include "addin/OutAddIn.h"
#include "addin/OutAddInCF.h"
#include "win/Errors.h"
#include "win/Strings.h"

namespace {

// The library's full path; empty when it cannot be read.
std::string ModulePath() {
    wchar_t path[513] = {};
    const DWORD n = ::GetModuleFileNameW(hv::ThisModule(), path, 512);
    if (n == 0 || n >= 512) return std::string();
    return hv::ToAnsi(path);
}

}  // namespace

extern "C" {

STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, LPVOID* out) {
    return COutAddInCF::GetClassObject(clsid, iid, out);
}

STDAPI DllCanUnloadNow() {
    return CHvOutModule::CanUnloadNow();
}

STDAPI DllRegisterServer() {
    try {
        const std::string path = ModulePath();
        if (path.empty()) return E_FAIL;
        return CHvOutModule::RegisterServer(path);
    }
    CATCH_RETURN();
}

STDAPI DllUnregisterServer() {
    try {
        return CHvOutModule::UnregisterServer(ModulePath());
    }
    CATCH_RETURN();
}

}  // extern "C"
