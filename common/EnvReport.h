#pragma once
// A short description of the user's Windows and Outlook that the add-in sends with its version
// when it first talks to the service.
#include <windows.h>
#include <oaidl.h>
#include <string>

// What the Windows text is made of; read from the system or given by a test.
struct CWinVersionData {
    DWORD dwPlatformId = 0;
    DWORD dwMajor = 0;
    DWORD dwMinor = 0;
    DWORD dwBuild = 0;
    std::string strServicePack;  // "Service Pack 3", or empty
    WORD wSuiteMask = 0;
    BYTE bProductType = 0;    // VER_NT_WORKSTATION, ...
    WORD wArchitecture = 0;   // PROCESSOR_ARCHITECTURE_*
    DWORD dwProductInfo = 0;  // GetProductInfo's edition, 0 when unknown
    int nServerR2 = 0;        // GetSystemMetrics(SM_SERVERR2)
};

class CEnvReport {
public:
    // Fills all three texts from the running system and the Outlook Application (may be null).
    explicit CEnvReport(IDispatch* application);
    // The same with the Windows data given (tests).
    CEnvReport(IDispatch* application, const CWinVersionData& windows);

    // The "<Windows>...</Windows>" text for the given data; empty for unknown systems.
    static std::string WindowsText(const CWinVersionData& data);
    // The "<Outlook>...</Outlook>" text from an Outlook Application.
    static std::string OutlookText(IDispatch* application);
    // The system's own data: RtlGetVersion (GetVersionEx answers what the program's manifest
    // claims, not what runs), the native architecture and the product edition.
    static bool ReadWindowsData(CWinVersionData& data);
    // The version of this module's version resource, "%2d.%d.%d.%d".
    static std::string ModuleVersion();

    // The environment argument of the version check.
    std::string Environment() const { return m_strWindows + m_strOutlook; }

    std::string m_strWindows;
    std::string m_strOutlook;
    std::string m_strVersion;
    IDispatch* m_pApplication;  // not owned; the add-in keeps it alive
};
