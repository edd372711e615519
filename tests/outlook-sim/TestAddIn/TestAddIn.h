#pragma once
// The simulator tests' own add-in (HvSimTestAddIn.dll), a real in-process COM server:
//   "HvSimTest.AddIn"        IDTExtensibility2 + IRibbonExtensibility + ribbon callbacks
//   "HvSimTest.OptionsPage"  an ActiveX control implementing Outlook's PropertyPage
// It records every call the host makes in HKCU\Software\HvSimTest "Calls" (one line each)
// and reads what it should do from values of the same key:
//   "FailConnect" DWORD 1   OnConnection returns E_FAIL
//   "Leak"        DWORD 1   the Application object is never released
//   "RibbonXml"   REG_SZ    markup returned for every ribbon id (default: a button per window)
//   "CommandBar"  DWORD 1   OnStartupComplete adds a temporary bar "HvSimTest" with a button
//                           "Test Button" (Tag "hvsimtest") to the explorer and sinks its Click
//   "Pages"       DWORD 1   OptionsPagesAdd adds "HvSimTest.OptionsPage" with caption "Test Page"
// The page writes "Applied" = the text of its edit box when Apply is called.
#include <windows.h>

#include <string>

namespace hvsimtest {

inline const wchar_t kTestKey[] = L"Software\\HvSimTest";
inline const CLSID CLSID_TestAddIn = {0x6B1E2F30, 0x4C1D, 0x4E8A, {0x9D, 0x31, 0x52, 0x7A, 0x10, 0x3C, 0x8E, 0x01}};
inline const CLSID CLSID_TestOptionsPage = {
    0x6B1E2F30, 0x4C1D, 0x4E8A, {0x9D, 0x31, 0x52, 0x7A, 0x10, 0x3C, 0x8E, 0x02}};
constexpr int kPageEditId = 101;

}  // namespace hvsimtest
