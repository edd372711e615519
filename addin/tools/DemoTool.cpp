// hv-demo-tool.exe: what scripts/demo needs inside its Wine prefix besides regsvr32 and the
// simulated Outlook: the add-in's settings written as the options page writes them (credentials
// enciphered), and the synchronisation dialog watched from outside the Outlook process.
//   hv-demo-tool.exe settings HOST USER PASSWORD   Host, SSL 0, Credentials, SyncAtStartup 1,
//                                                  SyncSize 0 (the dialog stays open at the end)
//   hv-demo-tool.exe wait-sync [SECONDS]           waits until the dialog says it is complete
//                                                  and prints its rows
//   hv-demo-tool.exe close-sync                    presses the dialog's Close button
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "common/Config.h"
#include "sync/SynchRes.h"
#include "win/Strings.h"

namespace {

constexpr const wchar_t* kCaption = L"Synchronizing with Halvane";

std::string Text(HWND dialog, int id) {
    wchar_t buf[1024] = {};
    ::GetDlgItemTextW(dialog, id, buf, 1024);
    return hv::ToAnsi(buf);
}

int Settings(const char* host, const char* user, const char* password) {
    CConfig config;
    config.SetKey("Host", host);
    config.SetKey("SSL", static_cast<DWORD>(0));
    config.SetSyncAtStartup(1);
    config.SetSyncSize(0);
    if (FAILED(config.SetCredentials(user, password))) {
        std::fprintf(stderr, "the credentials could not be stored\n");
        return 1;
    }
    std::printf("settings stored for %s on %s\n", user, host);
    return 0;
}

int WaitSync(int seconds) {
    const DWORD end = ::GetTickCount() + static_cast<DWORD>(seconds) * 1000;
    HWND dialog = nullptr;
    std::string status;
    while (::GetTickCount() < end) {
        if (!dialog) dialog = ::FindWindowW(nullptr, kCaption);
        if (dialog) {
            status = Text(dialog, IDC_SYNCH_STATUS);
            if (status == "Synchronization is Complete") {
                std::printf("dialog: %s\n", status.c_str());
                return 0;
            }
            if (!::IsWindow(dialog)) dialog = nullptr;
        }
        ::Sleep(100);
    }
    std::fprintf(stderr, "the synchronisation dialog did not complete (last status: %s)\n", status.c_str());
    return 1;
}

int CloseSync() {
    HWND dialog = ::FindWindowW(nullptr, kCaption);
    if (!dialog) return 1;
    ::PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string cmd = argc > 1 ? argv[1] : "";
    if (cmd == "settings" && argc == 5) return Settings(argv[2], argv[3], argv[4]);
    if (cmd == "wait-sync") return WaitSync(argc > 2 ? std::atoi(argv[2]) : 180);
    if (cmd == "close-sync") return CloseSync();
    std::fprintf(stderr, "usage: hv-demo-tool.exe settings HOST USER PASSWORD | wait-sync [SECONDS] | close-sync\n");
    return 2;
}
