#include "common/EnvReport.h"
#include "common/DiagLog.h"
#include "win/Dispatcher.h"
#include "win/Strings.h"
#include "win/ComTypes.h"
#include "win/UniqueAny.h"
#include <vector>

namespace {

// Appends within the 256-byte buffer the text was once built in.
void Append(std::string& text, const std::string& more) {
    constexpr size_t kMax = 255;
    if (text.size() >= kMax) return;
    text += more.substr(0, kMax - text.size());
}

const char* EditionName(DWORD product) {
    switch (product) {
        case 1:
            return "Ultimate Edition";
        case 2:
            return "Home Basic Edition";
        case 3:
            return "Home Premium Edition";
        case 4:
            return "Enterprise Edition";
        case 6:
            return "Business Edition";
        case 7:
            return "Standard Edition";
        case 8:
            return "Datacenter Edition";
        case 9:
            return "Small Business Server";
        case 10:
            return "Enterprise Edition";
        case 11:
            return "Starter Edition";
        case 12:
            return "Datacenter Edition (core installation)";
        case 13:
            return "Standard Edition (core installation)";
        case 14:
            return "Enterprise Edition (core installation)";
        case 15:
            return "Enterprise Edition for Itanium-based Systems";
        case 17:
            return "Web Server Edition";
        case 18:
            return "Cluster Server Edition";
        default:
            return "";
    }
}

// The name of an NT 6 or 10 release; empty for one we do not know.
std::string Nt6Name(const CWinVersionData& d) {
    const bool workstation = d.bProductType == VER_NT_WORKSTATION;
    if (d.dwMajor == 6) {
        switch (d.dwMinor) {
            case 0:
                return workstation ? "Windows Vista " : "Windows Server 2008 ";
            case 1:
                return workstation ? "Windows 7 " : "Windows Server 2008 R2 ";
            case 2:
                return workstation ? "Windows 8 " : "Windows Server 2012 ";
            case 3:
                return workstation ? "Windows 8.1 " : "Windows Server 2012 R2 ";
            default:
                return std::string();
        }
    }
    if (d.dwMajor == 10 && d.dwMinor == 0) {
        if (workstation) return d.dwBuild >= 22000 ? "Windows 11 " : "Windows 10 ";
        if (d.dwBuild >= 26100) return "Windows Server 2025 ";
        if (d.dwBuild >= 20348) return "Windows Server 2022 ";
        if (d.dwBuild >= 17763) return "Windows Server 2019 ";
        return "Windows Server 2016 ";
    }
    return std::string();
}

}  // namespace

std::string CEnvReport::WindowsText(const CWinVersionData& d) {
    if (d.dwPlatformId != VER_PLATFORM_WIN32_NT || d.dwMajor < 5) return std::string();
    const bool workstation = d.bProductType == VER_NT_WORKSTATION;
    std::string text = "Microsoft ";
    if (d.dwMajor >= 6) {
        std::string name = Nt6Name(d);
        if (!name.empty()) {
            Append(text, name);
            Append(text, EditionName(d.dwProductInfo));
            if (d.wArchitecture == PROCESSOR_ARCHITECTURE_AMD64)
                Append(text, ", 64-bit");
            else if (d.wArchitecture == PROCESSOR_ARCHITECTURE_INTEL)
                Append(text, ", 32-bit");
        }
    } else if (d.dwMinor == 2) {
        if (d.nServerR2)
            Append(text, "Windows Server 2003 R2, ");
        else if (d.wSuiteMask & VER_SUITE_STORAGE_SERVER)
            Append(text, "Windows Storage Server 2003");
        else if (workstation && d.wArchitecture == PROCESSOR_ARCHITECTURE_AMD64)
            Append(text, "Windows XP Professional x64 Edition");
        else
            Append(text, "Windows Server 2003, ");
        if (!workstation) {
            if (d.wArchitecture == PROCESSOR_ARCHITECTURE_IA64) {
                if (d.wSuiteMask & VER_SUITE_DATACENTER)
                    Append(text, "Datacenter Edition for Itanium-based Systems");
                else if (d.wSuiteMask & VER_SUITE_ENTERPRISE)
                    Append(text, "Enterprise Edition for Itanium-based Systems");
            } else if (d.wArchitecture == PROCESSOR_ARCHITECTURE_AMD64) {
                if (d.wSuiteMask & VER_SUITE_DATACENTER)
                    Append(text, "Datacenter x64 Edition");
                else if (d.wSuiteMask & VER_SUITE_ENTERPRISE)
                    Append(text, "Enterprise x64 Edition");
                else
                    Append(text, "Standard x64 Edition");
            } else {
                if (d.wSuiteMask & VER_SUITE_COMPUTE_SERVER)
                    Append(text, "Compute Cluster Edition");
                else if (d.wSuiteMask & VER_SUITE_DATACENTER)
                    Append(text, "Datacenter Edition");
                else if (d.wSuiteMask & VER_SUITE_ENTERPRISE)
                    Append(text, "Enterprise Edition");
                else if (d.wSuiteMask & VER_SUITE_BLADE)
                    Append(text, "Web Edition");
                else
                    Append(text, "Standard Edition");
            }
        }
    } else if (d.dwMinor == 1) {
        Append(text, "Windows XP ");
        Append(text, (d.wSuiteMask & VER_SUITE_PERSONAL) ? "Home Edition" : "Professional");
    } else if (d.dwMinor == 0) {
        Append(text, "Windows 2000 ");
        if (workstation)
            Append(text, "Professional");
        else if (d.wSuiteMask & VER_SUITE_DATACENTER)
            Append(text, "Datacenter Server");
        else if (d.wSuiteMask & VER_SUITE_ENTERPRISE)
            Append(text, "Advanced Server");
        else
            Append(text, "Server");
    }
    if (!d.strServicePack.empty()) {
        Append(text, " ");
        Append(text, d.strServicePack);
    }
    Append(text, hv::Format(" (build %lu)", static_cast<unsigned long>(d.dwBuild)));
    return "<Windows>" + text + "</Windows>";
}

bool CEnvReport::ReadWindowsData(CWinVersionData& data) {
    using RtlGetVersionFn = LONG(WINAPI*)(OSVERSIONINFOEXW*);
    HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
    auto rtlGetVersion =
        ntdll ? reinterpret_cast<RtlGetVersionFn>(reinterpret_cast<void*>(::GetProcAddress(ntdll, "RtlGetVersion")))
              : nullptr;
    OSVERSIONINFOEXW info = {};
    info.dwOSVersionInfoSize = sizeof(info);
    if (!rtlGetVersion || rtlGetVersion(&info) != 0) return false;
    data.dwPlatformId = info.dwPlatformId;
    data.dwMajor = info.dwMajorVersion;
    data.dwMinor = info.dwMinorVersion;
    data.dwBuild = info.dwBuildNumber;
    data.strServicePack = hv::ToAnsi(info.szCSDVersion);
    data.wSuiteMask = info.wSuiteMask;
    data.bProductType = info.wProductType;

    SYSTEM_INFO si = {};
    using NativeInfoFn = void(WINAPI*)(SYSTEM_INFO*);
    HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
    auto nativeInfo =
        kernel
            ? reinterpret_cast<NativeInfoFn>(reinterpret_cast<void*>(::GetProcAddress(kernel, "GetNativeSystemInfo")))
            : nullptr;
    if (nativeInfo)
        nativeInfo(&si);
    else
        ::GetSystemInfo(&si);
    data.wArchitecture = si.wProcessorArchitecture;

    using ProductInfoFn = BOOL(WINAPI*)(DWORD, DWORD, DWORD, DWORD, DWORD*);
    auto productInfo =
        kernel ? reinterpret_cast<ProductInfoFn>(reinterpret_cast<void*>(::GetProcAddress(kernel, "GetProductInfo")))
               : nullptr;
    DWORD product = 0;
    if (data.dwMajor >= 6 && productInfo && productInfo(6, 0, 0, 0, &product)) data.dwProductInfo = product;
    data.nServerR2 = ::GetSystemMetrics(SM_SERVERR2);
    return true;
}

namespace {

// A property as text; false when it cannot be read or converted.
bool GetText(IDispatch* object, const wchar_t* name, std::string& text) {
    hv::unique_variant value;
    if (FAILED(CDispatcher::GetProperty(object, name, value.put()))) return false;
    if (FAILED(::VariantChangeType(value.addressof(), value.addressof(), 0, VT_BSTR))) return false;
    text = hv::ToAnsi(V_BSTR(value.addressof()) ? V_BSTR(value.addressof()) : L"");
    return true;
}

}  // namespace

std::string CEnvReport::OutlookText(IDispatch* application) {
    std::string text = "<Outlook>";
    try {
        std::string version;
        if (application && GetText(application, L"Version", version)) {
            text += "<version>" + hv::EscapeFiveSpecials(version) + "</version>";
            hv::unique_variant addIns;
            hv::unique_variant count;
            HvLog().LogComment("Fetching COMAddIns Count");
            if (SUCCEEDED(CDispatcher::GetProperty(application, L"COMAddIns", addIns.put())) && addIns.AsDispatch() &&
                SUCCEEDED(CDispatcher::GetProperty(addIns.AsDispatch(), L"Count", count.put())) &&
                SUCCEEDED(::VariantChangeType(count.addressof(), count.addressof(), 0, VT_I4))) {
                text += "<COM AddIns>";
                IDispatch* collection = addIns.AsDispatch();
                const long total = V_I4(count.addressof());
                for (long i = 1; i <= total; ++i) {
                    hv::unique_variant index = hv::unique_variant::FromLong(i);
                    hv::unique_variant item;
                    if (FAILED(CDispatcher::CallMethod(collection, L"Item", item.put(), 1, index.addressof())))
                        continue;
                    std::string description;
                    if (!item.AsDispatch() || !GetText(item.AsDispatch(), L"Description", description)) continue;
                    text += "<add-in>" + hv::EscapeFiveSpecials(description) + "</add-in>";
                }
                text += "</COM AddIns>";
            }
        }
    } catch (...) {
        // A half-read Outlook still gives a closed element.
    }
    text += "</Outlook>";
    return text;
}

std::string CEnvReport::ModuleVersion() {
    wchar_t path[MAX_PATH] = {};
    if (!::GetModuleFileNameW(hv::ThisModule(), path, MAX_PATH)) return std::string();
    DWORD handle = 0;
    DWORD size = ::GetFileVersionInfoSizeW(path, &handle);
    if (!size) return std::string();
    std::vector<BYTE> block(size);
    if (!::GetFileVersionInfoW(path, 0, size, block.data())) return std::string();
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    if (!::VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length) || !fixed)
        return std::string();
    return hv::Format("%2d.%d.%d.%d", static_cast<int>(HIWORD(fixed->dwFileVersionMS)),
                      static_cast<int>(LOWORD(fixed->dwFileVersionMS)),
                      static_cast<int>(HIWORD(fixed->dwFileVersionLS)),
                      static_cast<int>(LOWORD(fixed->dwFileVersionLS)));
}

CEnvReport::CEnvReport(IDispatch* application) : m_pApplication(application) {
    CWinVersionData data;
    if (ReadWindowsData(data)) m_strWindows = WindowsText(data);
    m_strOutlook = OutlookText(application);
    m_strVersion = hv::EscapeFiveSpecials(ModuleVersion());
}

CEnvReport::CEnvReport(IDispatch* application, const CWinVersionData& windows) : m_pApplication(application) {
    m_strWindows = WindowsText(windows);
    m_strOutlook = OutlookText(application);
    m_strVersion = hv::EscapeFiveSpecials(ModuleVersion());
}
