// hv-demo-tool.exe: what scripts/demo needs inside its Wine prefix besides regsvr32 and the
// simulated Outlook: the add-in's settings written as the options page writes them (credentials
// enciphered), and the synchronisation dialog watched from outside the Outlook process.
//   hv-demo-tool.exe settings HOST USER PASSWORD   Host, SSL 0, Credentials, SyncAtStartup 1,
//                                                  SyncSize 0 (the dialog stays open at the end),
//                                                  AutoPush 0
//   hv-demo-tool.exe wait-sync [SECONDS]           waits until the dialog says it is complete
//                                                  and prints its rows
//   hv-demo-tool.exe close-sync                    presses the dialog's Close button and waits
//                                                  until it is gone
//   hv-demo-tool.exe close-window CAPTION          closes that window as its Close box does
//   hv-demo-tool.exe wait-window CAPTION [SECONDS [ID TEXT]]
//                                                  waits until a visible window of that caption
//                                                  is there (and its control ID, at any depth,
//                                                  shows TEXT), then prints its window id
//   hv-demo-tool.exe choose-add CAPTION PATH [NOTIFY [COMMENT]]
//                                                  in the Add Item dialog of that caption:
//                                                  selects the tree item PATH ("Halvane\\A\\B"),
//                                                  ticks the notify box when NOTIFY is 1 and
//                                                  waits for the members, writes the comment
//   hv-demo-tool.exe ok-add CAPTION                presses OK and waits until the dialog closes
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "common/Config.h"
#include "addin/resource.h"
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
    // The demo adds its new task through the Add dialog, not at once when it is typed in.
    config.SetAutoPush(0);
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
    // The next wait-sync must not find this one again.
    for (int i = 0; i < 300 && ::IsWindow(dialog); ++i) ::Sleep(100);
    return ::IsWindow(dialog) ? 1 : 0;
}

struct FindControl {
    int id;
    HWND found;
};

BOOL CALLBACK FindControlProc(HWND child, LPARAM param) {
    auto* find = reinterpret_cast<FindControl*>(param);
    if (::GetDlgCtrlID(child) != find->id) return TRUE;
    find->found = child;
    return FALSE;
}

struct FindVisible {
    std::wstring caption;
    HWND found;
    HWND hidden;
};

BOOL CALLBACK FindVisibleProc(HWND window, LPARAM param) {
    auto* find = reinterpret_cast<FindVisible*>(param);
    wchar_t text[256] = {};
    ::GetWindowTextW(window, text, 256);
    if (find->caption != text) return TRUE;
    if (!::IsWindowVisible(window)) {
        find->hidden = window;
        return TRUE;
    }
    find->found = window;
    return FALSE;
}

// The visible top-level window of that caption; failing that, a hidden one (a program may
// keep hidden windows of the same caption beside the one it shows).
HWND FindTopLevel(const std::string& caption) {
    FindVisible find = {hv::ToWide(caption), nullptr, nullptr};
    ::EnumWindows(FindVisibleProc, reinterpret_cast<LPARAM>(&find));
    return find.found ? find.found : find.hidden;
}

int WaitWindow(const std::string& caption, int seconds, int id, const std::string& text) {
    const DWORD end = ::GetTickCount() + static_cast<DWORD>(seconds) * 1000;
    std::string seen = "no such window";
    while (::GetTickCount() < end) {
        HWND window = FindTopLevel(caption);
        if (!window) {
            seen = "no such window";
        } else if (!::IsWindowVisible(window)) {
            seen = "the window is hidden";
        } else {
            bool ready = id == 0;
            if (!ready) {
                FindControl find = {id, nullptr};
                ::EnumChildWindows(window, FindControlProc, reinterpret_cast<LPARAM>(&find));
                wchar_t buf[512] = {};
                if (find.found) ::GetWindowTextW(find.found, buf, 512);
                seen =
                    find.found ? "the control shows \"" + hv::ToAnsi(buf) + "\"" : "no control " + std::to_string(id);
                ready = find.found && hv::ToAnsi(buf) == text;
            }
            if (ready) {
                // Give the window a moment to paint before anyone takes its picture.
                ::Sleep(300);
                std::printf("%p\n", static_cast<void*>(window));
                return 0;
            }
        }
        ::Sleep(50);
    }
    std::fprintf(stderr, "no window \"%s\"%s%s (%s)\n", caption.c_str(), id ? " showing " : "", id ? text.c_str() : "",
                 seen.c_str());
    return 1;
}

HWND WaitForWindow(const std::wstring& caption, int seconds) {
    const DWORD end = ::GetTickCount() + static_cast<DWORD>(seconds) * 1000;
    while (::GetTickCount() < end) {
        if (HWND found = ::FindWindowW(nullptr, caption.c_str())) return found;
        ::Sleep(100);
    }
    return nullptr;
}

// The tree view lives in the Outlook process: its item texts are read through a buffer there.
class CRemoteTree {
public:
    explicit CRemoteTree(HWND tree) : m_hTree(tree) {
        DWORD pid = 0;
        ::GetWindowThreadProcessId(tree, &pid);
        m_hProcess = ::OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid);
        if (m_hProcess)
            m_pRemote = ::VirtualAllocEx(m_hProcess, nullptr, 4096, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    }
    ~CRemoteTree() {
        if (m_pRemote) ::VirtualFreeEx(m_hProcess, m_pRemote, 0, MEM_RELEASE);
        if (m_hProcess) ::CloseHandle(m_hProcess);
    }
    CRemoteTree(const CRemoteTree&) = delete;
    CRemoteTree& operator=(const CRemoteTree&) = delete;

    std::string TextOf(HTREEITEM item) {
        if (!m_pRemote) return std::string();
        TVITEMW tv = {};
        tv.mask = TVIF_TEXT | TVIF_HANDLE;
        tv.hItem = item;
        tv.pszText = reinterpret_cast<wchar_t*>(static_cast<char*>(m_pRemote) + 512);
        tv.cchTextMax = 1024;
        SIZE_T done = 0;
        if (!::WriteProcessMemory(m_hProcess, m_pRemote, &tv, sizeof(tv), &done)) return std::string();
        if (!::SendMessageW(m_hTree, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(m_pRemote))) return std::string();
        wchar_t text[1024] = {};
        ::ReadProcessMemory(m_hProcess, tv.pszText, text, sizeof(text) - sizeof(wchar_t), &done);
        return hv::ToAnsi(text);
    }
    // The item whose texts from the root, joined by '\\', are `path`.
    HTREEITEM Find(const std::string& path) {
        HTREEITEM item = TreeView_GetRoot(m_hTree);
        std::string rest = path;
        while (item) {
            const size_t cut = rest.find('\\');
            const std::string level = rest.substr(0, cut);
            while (item && TextOf(item) != level) item = TreeView_GetNextSibling(m_hTree, item);
            if (!item || cut == std::string::npos) return item;
            rest = rest.substr(cut + 1);
            TreeView_Expand(m_hTree, item, TVE_EXPAND);
            item = TreeView_GetChild(m_hTree, item);
        }
        return nullptr;
    }

private:
    HWND m_hTree;
    HANDLE m_hProcess = nullptr;
    void* m_pRemote = nullptr;
};

int ChooseAdd(const std::string& caption, const std::string& path, bool notify, const std::string& comment) {
    HWND dialog = WaitForWindow(hv::ToWide(caption), 120);
    if (!dialog) {
        std::fprintf(stderr, "no dialog \"%s\"\n", caption.c_str());
        return 1;
    }
    HWND tree = ::GetDlgItem(dialog, IDC_SAVEAS_TREE);
    CRemoteTree remote(tree);
    HTREEITEM item = nullptr;
    for (int i = 0; i < 600 && !item; ++i) {
        item = remote.Find(path);
        if (!item) ::Sleep(100);
    }
    if (!item) {
        std::fprintf(stderr, "no location \"%s\"\n", path.c_str());
        return 1;
    }
    TreeView_SelectItem(tree, item);
    for (int i = 0; i < 300 && !::IsWindowEnabled(::GetDlgItem(dialog, IDOK)); ++i) ::Sleep(100);
    if (notify && ::IsDlgButtonChecked(dialog, IDC_SAVEAS_NOTIFY) != BST_CHECKED)
        ::SendMessageW(::GetDlgItem(dialog, IDC_SAVEAS_NOTIFY), BM_CLICK, 0, 0);
    if (notify) {
        HWND members = ::GetDlgItem(dialog, IDC_SAVEAS_MEMBERS);
        for (int i = 0; i < 300 && ListView_GetItemCount(members) == 0; ++i) ::Sleep(100);
    }
    if (!comment.empty()) ::SetDlgItemTextW(dialog, IDC_SAVEAS_COMMENTS, hv::ToWide(comment).c_str());
    std::printf("dialog \"%s\": chose %s\n", caption.c_str(), path.c_str());
    return 0;
}

int OkAdd(const std::string& caption) {
    HWND dialog = WaitForWindow(hv::ToWide(caption), 30);
    if (!dialog) return 1;
    ::PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    for (int i = 0; i < 600 && ::IsWindow(dialog); ++i) ::Sleep(100);
    if (::IsWindow(dialog)) {
        std::fprintf(stderr, "dialog \"%s\" is still open\n", caption.c_str());
        return 1;
    }
    std::printf("dialog \"%s\": sent\n", caption.c_str());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string cmd = argc > 1 ? argv[1] : "";
    if (cmd == "settings" && argc == 5) return Settings(argv[2], argv[3], argv[4]);
    if (cmd == "wait-sync") return WaitSync(argc > 2 ? std::atoi(argv[2]) : 180);
    if (cmd == "close-sync") return CloseSync();
    if (cmd == "choose-add" && argc >= 4)
        return ChooseAdd(argv[2], argv[3], argc > 4 && std::atoi(argv[4]) == 1, argc > 5 ? argv[5] : "");
    if (cmd == "ok-add" && argc == 3) return OkAdd(argv[2]);
    if (cmd == "close-window" && argc == 3) {
        HWND window = ::FindWindowW(nullptr, hv::ToWide(argv[2]).c_str());
        return window && ::PostMessageW(window, WM_CLOSE, 0, 0) ? 0 : 1;
    }
    if (cmd == "wait-window" && argc >= 3)
        return WaitWindow(argv[2], argc > 3 ? std::atoi(argv[3]) : 60, argc > 5 ? std::atoi(argv[4]) : 0,
                          argc > 5 ? argv[5] : "");
    std::fprintf(stderr,
                 "usage: hv-demo-tool.exe settings HOST USER PASSWORD | wait-sync [SECONDS] | close-sync |\n"
                 "       choose-add CAPTION PATH [NOTIFY [COMMENT]] | ok-add CAPTION |\n"
                 "       wait-window CAPTION [SECONDS [ID TEXT]] | close-window CAPTION\n");
    return 2;
}
