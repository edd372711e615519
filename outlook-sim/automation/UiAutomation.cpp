#include "outlook-sim/automation/UiAutomation.h"

#include <objbase.h>
#include <gdiplus.h>

#include <atomic>
#include <exception>
#include <fstream>
#include <mutex>
#include <thread>

#include "win/Strings.h"
#include "win/UniqueAny.h"

namespace hv::uiauto {

namespace {

constexpr DWORD kPollMs = 15;

[[noreturn]] void Fail(const std::string& what) {
    throw AutomationError(what);
}

std::wstring WindowTextW(HWND window) {
    // WM_GETTEXT rather than GetWindowText: the latter does not ask windows of other threads.
    LRESULT len = ::SendMessageW(window, WM_GETTEXTLENGTH, 0, 0);
    std::wstring text(static_cast<size_t>(len) + 1, L'\0');
    LRESULT got = ::SendMessageW(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()));
    text.resize(static_cast<size_t>(got));
    return text;
}

bool IsOurs(HWND window) noexcept {
    DWORD pid = 0;
    ::GetWindowThreadProcessId(window, &pid);
    return pid == ::GetCurrentProcessId();
}

struct FindArgs {
    std::wstring caption;
    std::wstring className;
    bool prefix = false;
    HWND found = nullptr;
};

BOOL CALLBACK FindProc(HWND window, LPARAM lParam) {
    auto* args = reinterpret_cast<FindArgs*>(lParam);
    if (!::IsWindowVisible(window) || !IsOurs(window)) return TRUE;
    wchar_t cls[256] = {};
    ::GetClassNameW(window, cls, 256);
    if (!args->className.empty() && args->className != cls) return TRUE;
    std::wstring text = WindowTextW(window);
    bool match = args->prefix ? text.compare(0, args->caption.size(), args->caption) == 0 : text == args->caption;
    if (match) {
        args->found = window;
        return FALSE;
    }
    return TRUE;
}

HWND Find(const std::string& caption, const char* className, bool prefix) noexcept {
    try {
        FindArgs args;
        args.caption = ToWide(caption);
        if (className) args.className = ToWide(className);
        args.prefix = prefix;
        ::EnumWindows(FindProc, reinterpret_cast<LPARAM>(&args));
        return args.found;
    } catch (...) {
        return nullptr;
    }
}

void Sleep() noexcept {
    ::Sleep(kPollMs);
}

// Marks a point in a window's posted-message queue: a message-retrieval hook on the window's
// thread signals the event once the marker is taken from the queue, that is after everything
// posted before it was dispatched. (A sent message would not do: sent messages overtake
// posted ones.)
UINT MarkerMessage() noexcept {
    static const UINT marker = ::RegisterWindowMessageW(L"HvUiAutomationQueueMarker");
    return marker;
}

LRESULT CALLBACK MarkerHook(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HC_ACTION && wParam == PM_REMOVE) {
        const MSG* msg = reinterpret_cast<const MSG*>(lParam);
        if (msg->message == MarkerMessage()) ::SetEvent(reinterpret_cast<HANDLE>(msg->wParam));
    }
    return ::CallNextHookEx(nullptr, code, wParam, lParam);
}

struct unhook {
    void operator()(HHOOK h) const noexcept { ::UnhookWindowsHookEx(h); }
};
using unique_hhook = unique_any<HHOOK, unhook>;

bool WaitForPostedMessages(HWND target, DWORD timeoutMs) noexcept {
    const DWORD thread = ::GetWindowThreadProcessId(target, nullptr);
    if (thread == ::GetCurrentThreadId()) return true;
    unique_handle done(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    unique_hhook hook(::SetWindowsHookExW(WH_GETMESSAGE, MarkerHook, nullptr, thread));
    if (!done || !hook) return false;
    if (!::PostMessageW(target, MarkerMessage(), reinterpret_cast<WPARAM>(done.get()), 0)) return false;
    return ::WaitForSingleObject(done.get(), timeoutMs) == WAIT_OBJECT_0;
}

// The edit field that receives typing: the control itself, or a combo box's edit child.
HWND TypingTarget(HWND control) {
    wchar_t cls[64] = {};
    ::GetClassNameW(control, cls, 64);
    if (_wcsicmp(cls, WC_COMBOBOXW) == 0 || _wcsicmp(cls, WC_COMBOBOXEXW) == 0) {
        COMBOBOXINFO info = {};
        info.cbSize = sizeof(info);
        if (_wcsicmp(cls, WC_COMBOBOXEXW) == 0) {
            HWND edit = reinterpret_cast<HWND>(::SendMessageW(control, CBEM_GETEDITCONTROL, 0, 0));
            if (edit) return edit;
        } else if (::GetComboBoxInfo(control, &info) && info.hwndItem) {
            return info.hwndItem;
        }
        Fail("combo box has no edit field");
    }
    return control;
}

std::string TreeText(HWND tree, HTREEITEM item, UINT* state, bool* hasChildren) {
    wchar_t buffer[1024] = {};
    TVITEMW tvi = {};
    tvi.mask = TVIF_TEXT | TVIF_STATE | TVIF_CHILDREN;
    tvi.hItem = item;
    tvi.pszText = buffer;
    tvi.cchTextMax = 1024;
    tvi.stateMask = TVIS_EXPANDED | TVIS_SELECTED;
    ::SendMessageW(tree, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&tvi));
    if (state) *state = tvi.state;
    if (hasChildren) *hasChildren = tvi.cChildren != 0;
    return ToAnsi(buffer);
}

void CollectTree(HWND tree, HTREEITEM first, int level, const std::string& parentPath, std::vector<TreeItem>& out) {
    for (HTREEITEM item = first; item; item = reinterpret_cast<HTREEITEM>(::SendMessageW(
                                           tree, TVM_GETNEXTITEM, TVGN_NEXT, reinterpret_cast<LPARAM>(item)))) {
        TreeItem entry;
        UINT state = 0;
        entry.handle = item;
        entry.level = level;
        entry.text = TreeText(tree, item, &state, &entry.hasChildren);
        entry.path = parentPath.empty() ? entry.text : parentPath + "\\" + entry.text;
        entry.expanded = (state & TVIS_EXPANDED) != 0;
        entry.selected = (state & TVIS_SELECTED) != 0;
        out.push_back(entry);
        auto child = reinterpret_cast<HTREEITEM>(
            ::SendMessageW(tree, TVM_GETNEXTITEM, TVGN_CHILD, reinterpret_cast<LPARAM>(item)));
        if (child) CollectTree(tree, child, level + 1, entry.path, out);
    }
}

BOOL CALLBACK CollectStatic(HWND child, LPARAM lParam) {
    auto* out = reinterpret_cast<std::wstring*>(lParam);
    wchar_t cls[64] = {};
    ::GetClassNameW(child, cls, 64);
    if (_wcsicmp(cls, L"Static") == 0) {
        std::wstring text = WindowTextW(child);
        if (!text.empty()) {
            if (!out->empty()) out->push_back(L'\n');
            *out += text;
        }
    }
    return TRUE;
}

struct MsgBoxArgs {
    std::string part;
    HWND found = nullptr;
    std::string text;
};

BOOL CALLBACK FindMsgBoxProc(HWND window, LPARAM lParam) {
    auto* args = reinterpret_cast<MsgBoxArgs*>(lParam);
    if (!::IsWindowVisible(window) || !IsOurs(window)) return TRUE;
    wchar_t cls[64] = {};
    ::GetClassNameW(window, cls, 64);
    if (wcscmp(cls, L"#32770") != 0) return TRUE;
    std::string text = Automation::DialogText(window);
    if (text.find(args->part) != std::string::npos) {
        args->found = window;
        args->text = text;
        return FALSE;
    }
    return TRUE;
}

BOOL CALLBACK CollectTopLevel(HWND window, LPARAM lParam) {
    if (::IsWindowVisible(window) && IsOurs(window)) reinterpret_cast<std::vector<HWND>*>(lParam)->push_back(window);
    return TRUE;
}

BOOL CALLBACK CloseThreadWindow(HWND window, LPARAM round) {
    // Dialogs end through IDCANCEL (EndDialog); other windows through WM_CLOSE. A message box
    // without a Cancel button ignores both, so later rounds answer No and then OK.
    wchar_t cls[64] = {};
    ::GetClassNameW(window, cls, 64);
    if (wcscmp(cls, L"#32770") == 0) {
        int id = round < 5 ? IDCANCEL : (round < 10 ? IDNO : IDOK);
        ::PostMessageW(window, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0);
    }
    ::PostMessageW(window, WM_CLOSE, 0, 0);
    return TRUE;
}

// ---- screenshots ----

bool WriteBmp(const std::string& path, HDC dc, HBITMAP bitmap, int width, int height) {
    BITMAPINFOHEADER bih = {};
    bih.biSize = sizeof(bih);
    bih.biWidth = width;
    bih.biHeight = height;  // bottom-up, as BMP files store rows
    bih.biPlanes = 1;
    bih.biBitCount = 24;
    bih.biCompression = BI_RGB;
    const DWORD stride = ((static_cast<DWORD>(width) * 3 + 3) & ~3u);
    std::vector<BYTE> pixels(static_cast<size_t>(stride) * static_cast<size_t>(height));
    if (!::GetDIBits(dc, bitmap, 0, static_cast<UINT>(height), pixels.data(), reinterpret_cast<BITMAPINFO*>(&bih),
                     DIB_RGB_COLORS))
        return false;
    BITMAPFILEHEADER bfh = {};
    bfh.bfType = 0x4D42;  // "BM"
    bfh.bfOffBits = sizeof(bfh) + sizeof(bih);
    bfh.bfSize = bfh.bfOffBits + static_cast<DWORD>(pixels.size());
    std::ofstream out(ToWide(path).c_str(), std::ios::binary);
    out.write(reinterpret_cast<const char*>(&bfh), sizeof(bfh));
    out.write(reinterpret_cast<const char*>(&bih), sizeof(bih));
    out.write(reinterpret_cast<const char*>(pixels.data()), static_cast<std::streamsize>(pixels.size()));
    return static_cast<bool>(out);
}

bool WritePng(const std::string& path, HBITMAP bitmap) {
    // GDI+ PNG encoder {557CF406-1A04-11D3-9A73-0000F81EF32E}.
    static const CLSID kPngEncoder = {0x557cf406, 0x1a04, 0x11d3, {0x9a, 0x73, 0x00, 0x00, 0xf8, 0x1e, 0xf3, 0x2e}};
    Gdiplus::GdiplusStartupInput input;
    ULONG_PTR token = 0;
    if (Gdiplus::GdiplusStartup(&token, &input, nullptr) != Gdiplus::Ok) return false;
    bool ok = false;
    {
        Gdiplus::GpBitmap* image = nullptr;
        if (Gdiplus::DllExports::GdipCreateBitmapFromHBITMAP(bitmap, nullptr, &image) == Gdiplus::Ok) {
            std::wstring wide = ToWide(path);
            ok = Gdiplus::DllExports::GdipSaveImageToFile(image, wide.c_str(), &kPngEncoder, nullptr) == Gdiplus::Ok;
            Gdiplus::DllExports::GdipDisposeImage(image);
        }
    }
    Gdiplus::GdiplusShutdown(token);
    return ok;
}

struct ReleaseScreenDc {
    void operator()(HDC dc) const noexcept { ::ReleaseDC(nullptr, dc); }
};
using unique_screen_dc = unique_any<HDC, ReleaseScreenDc>;

}  // namespace

// ---------------------------------------------------------------------------------------------
// Windows

HWND Automation::FindTopLevel(const std::string& caption, const char* className) noexcept {
    return Find(caption, className, false);
}

HWND Automation::FindTopLevelByPrefix(const std::string& prefix, const char* className) noexcept {
    return Find(prefix, className, true);
}

HWND Automation::WaitForWindow(const std::string& caption, const char* className, DWORD timeoutMs) const {
    const ULONGLONG deadline = ::GetTickCount64() + Effective(timeoutMs);
    for (;;) {
        if (HWND found = Find(caption, className, false)) return found;
        if (::GetTickCount64() >= deadline) {
            std::string open;
            for (HWND w : TopLevelWindows()) open += " [" + GetClass(w) + ": " + GetCaption(w) + "]";
            Fail("no window \"" + caption + "\" appeared; open:" + open);
        }
        Sleep();
    }
}

HWND Automation::WaitForDialog(const std::string& caption, DWORD timeoutMs) const {
    return WaitForWindow(caption, "#32770", timeoutMs);
}

bool Automation::WaitForClose(HWND window, DWORD timeoutMs) const noexcept {
    const ULONGLONG deadline = ::GetTickCount64() + Effective(timeoutMs);
    while (::IsWindow(window) && ::IsWindowVisible(window)) {
        if (::GetTickCount64() >= deadline) return false;
        Sleep();
    }
    return true;
}

bool Automation::WaitUntil(const std::function<bool()>& predicate, DWORD timeoutMs) const {
    const ULONGLONG deadline = ::GetTickCount64() + Effective(timeoutMs);
    while (!predicate()) {
        if (::GetTickCount64() >= deadline) return false;
        Sleep();
    }
    return true;
}

std::string Automation::GetCaption(HWND window) {
    return ToAnsi(WindowTextW(window));
}

std::string Automation::GetClass(HWND window) {
    wchar_t cls[256] = {};
    ::GetClassNameW(window, cls, 256);
    return ToAnsi(cls);
}

std::vector<HWND> Automation::TopLevelWindows() {
    std::vector<HWND> out;
    ::EnumWindows(CollectTopLevel, reinterpret_cast<LPARAM>(&out));
    return out;
}

// ---------------------------------------------------------------------------------------------
// Controls

HWND Automation::Control(HWND dialog, int id) {
    HWND control = ::GetDlgItem(dialog, id);
    if (!control) Fail(Format("no control %d in \"%s\"", id, GetCaption(dialog).c_str()));
    return control;
}

std::string Automation::GetText(HWND dialog, int id) {
    return ToAnsi(WindowTextW(Control(dialog, id)));
}

void Automation::SetText(HWND dialog, int id, const std::string& text) {
    std::wstring wide = ToWide(text);
    ::SendMessageW(Control(dialog, id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(wide.c_str()));
}

void Automation::TypeText(HWND dialog, int id, const std::string& text) const {
    HWND target = TypingTarget(Control(dialog, id));
    for (wchar_t ch : ToWide(text)) ::PostMessageW(target, WM_CHAR, ch, 1);
    if (!WaitForPostedMessages(target, m_timeout)) Fail("the typed text was not consumed");
}

bool Automation::IsEnabled(HWND dialog, int id) {
    return ::IsWindowEnabled(Control(dialog, id)) != FALSE;
}

bool Automation::IsVisible(HWND dialog, int id) {
    return ::IsWindowVisible(Control(dialog, id)) != FALSE;
}

bool Automation::IsChecked(HWND dialog, int id) {
    return ::SendMessageW(Control(dialog, id), BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void Automation::SetChecked(HWND dialog, int id, bool checked) const {
    if (IsChecked(dialog, id) == checked) return;
    Click(dialog, id);
    if (!WaitUntil([&] { return IsChecked(dialog, id) == checked; })) Fail(Format("check box %d did not change", id));
}

void Automation::Settle(HWND window) const {
    if (!WaitForPostedMessages(window, m_timeout)) Fail("the window did not process its messages");
}

void Automation::Click(HWND dialog, int id) {
    ::PostMessageW(Control(dialog, id), BM_CLICK, 0, 0);
}

void Automation::Command(HWND dialog, int id) {
    ::PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(::GetDlgItem(dialog, id)));
}

void Automation::Close(HWND window) {
    ::PostMessageW(window, WM_CLOSE, 0, 0);
}

// ---------------------------------------------------------------------------------------------
// List view

int Automation::ListViewCount(HWND dialog, int id) {
    return static_cast<int>(::SendMessageW(Control(dialog, id), LVM_GETITEMCOUNT, 0, 0));
}

int Automation::ListViewColumnCount(HWND dialog, int id) {
    HWND header = reinterpret_cast<HWND>(::SendMessageW(Control(dialog, id), LVM_GETHEADER, 0, 0));
    int n = header ? static_cast<int>(::SendMessageW(header, HDM_GETITEMCOUNT, 0, 0)) : 0;
    return n > 0 ? n : 1;
}

std::string Automation::ListViewCell(HWND dialog, int id, int row, int column) {
    wchar_t buffer[1024] = {};
    LVITEMW item = {};
    item.iSubItem = column;
    item.pszText = buffer;
    item.cchTextMax = 1024;
    ::SendMessageW(Control(dialog, id), LVM_GETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
    return ToAnsi(buffer);
}

std::vector<std::vector<std::string>> Automation::ListViewRows(HWND dialog, int id) {
    const int rows = ListViewCount(dialog, id);
    const int columns = ListViewColumnCount(dialog, id);
    std::vector<std::vector<std::string>> out;
    for (int r = 0; r < rows; ++r) {
        std::vector<std::string> cells;
        for (int c = 0; c < columns; ++c) cells.push_back(ListViewCell(dialog, id, r, c));
        out.push_back(std::move(cells));
    }
    return out;
}

std::vector<std::string> Automation::ListViewColumns(HWND dialog, int id) {
    std::vector<std::string> out;
    HWND list = Control(dialog, id);
    const int columns = ListViewColumnCount(dialog, id);
    for (int c = 0; c < columns; ++c) {
        wchar_t buffer[256] = {};
        LVCOLUMNW col = {};
        col.mask = LVCF_TEXT;
        col.pszText = buffer;
        col.cchTextMax = 256;
        ::SendMessageW(list, LVM_GETCOLUMNW, static_cast<WPARAM>(c), reinterpret_cast<LPARAM>(&col));
        out.push_back(ToAnsi(buffer));
    }
    return out;
}

void Automation::ListViewSelect(HWND dialog, int id, int row) {
    HWND list = Control(dialog, id);
    if (row < 0 || row >= ListViewCount(dialog, id)) Fail(Format("list view %d has no row %d", id, row));
    LVITEMW clear = {};
    clear.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    ::SendMessageW(list, LVM_SETITEMSTATE, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&clear));
    LVITEMW set = {};
    set.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    set.state = LVIS_SELECTED | LVIS_FOCUSED;
    ::SendMessageW(list, LVM_SETITEMSTATE, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&set));
    ::SendMessageW(list, LVM_ENSUREVISIBLE, static_cast<WPARAM>(row), FALSE);
}

std::vector<int> Automation::ListViewSelection(HWND dialog, int id) {
    HWND list = Control(dialog, id);
    std::vector<int> out;
    int i = -1;
    while ((i = static_cast<int>(::SendMessageW(list, LVM_GETNEXTITEM, static_cast<WPARAM>(i), LVNI_SELECTED))) >= 0)
        out.push_back(i);
    return out;
}

bool Automation::ListViewIsChecked(HWND dialog, int id, int row) {
    LRESULT state =
        ::SendMessageW(Control(dialog, id), LVM_GETITEMSTATE, static_cast<WPARAM>(row), LVIS_STATEIMAGEMASK);
    return ((state & LVIS_STATEIMAGEMASK) >> 12) == 2;
}

void Automation::ListViewSetChecked(HWND dialog, int id, int row, bool checked) {
    LVITEMW item = {};
    item.stateMask = LVIS_STATEIMAGEMASK;
    item.state = INDEXTOSTATEIMAGEMASK(checked ? 2 : 1);
    ::SendMessageW(Control(dialog, id), LVM_SETITEMSTATE, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
}

// ---------------------------------------------------------------------------------------------
// Tree view

std::vector<TreeItem> Automation::TreeViewItems(HWND dialog, int id) {
    HWND tree = Control(dialog, id);
    std::vector<TreeItem> out;
    auto root = reinterpret_cast<HTREEITEM>(::SendMessageW(tree, TVM_GETNEXTITEM, TVGN_ROOT, 0));
    CollectTree(tree, root, 0, std::string(), out);
    return out;
}

HTREEITEM Automation::TreeViewFind(HWND dialog, int id, const std::string& path) {
    for (const TreeItem& item : TreeViewItems(dialog, id))
        if (item.path == path) return item.handle;
    return nullptr;
}

void Automation::TreeViewSelect(HWND dialog, int id, const std::string& path) {
    HTREEITEM item = TreeViewFind(dialog, id, path);
    if (!item) Fail("tree view has no item \"" + path + "\"");
    ::SendMessageW(Control(dialog, id), TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(item));
}

void Automation::TreeViewExpand(HWND dialog, int id, const std::string& path) {
    HTREEITEM item = TreeViewFind(dialog, id, path);
    if (!item) Fail("tree view has no item \"" + path + "\"");
    ::SendMessageW(Control(dialog, id), TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(item));
}

std::string Automation::TreeViewSelectedPath(HWND dialog, int id) {
    for (const TreeItem& item : TreeViewItems(dialog, id))
        if (item.selected) return item.path;
    HWND tree = Control(dialog, id);
    auto caret = reinterpret_cast<HTREEITEM>(::SendMessageW(tree, TVM_GETNEXTITEM, TVGN_CARET, 0));
    for (const TreeItem& item : TreeViewItems(dialog, id))
        if (item.handle == caret) return item.path;
    return std::string();
}

// ---------------------------------------------------------------------------------------------
// Combo box

std::vector<std::string> Automation::ComboItems(HWND dialog, int id) {
    HWND combo = Control(dialog, id);
    std::vector<std::string> out;
    const int n = static_cast<int>(::SendMessageW(combo, CB_GETCOUNT, 0, 0));
    for (int i = 0; i < n; ++i) {
        LRESULT len = ::SendMessageW(combo, CB_GETLBTEXTLEN, static_cast<WPARAM>(i), 0);
        std::wstring text(static_cast<size_t>(len > 0 ? len : 0) + 1, L'\0');
        ::SendMessageW(combo, CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(text.data()));
        out.push_back(ToAnsi(text.c_str()));
    }
    return out;
}

int Automation::ComboSelection(HWND dialog, int id) {
    return static_cast<int>(::SendMessageW(Control(dialog, id), CB_GETCURSEL, 0, 0));
}

void Automation::ComboSelect(HWND dialog, int id, int index) {
    HWND combo = Control(dialog, id);
    if (::SendMessageW(combo, CB_SETCURSEL, static_cast<WPARAM>(index), 0) == CB_ERR && index >= 0)
        Fail(Format("combo box %d has no entry %d", id, index));
    // CB_SETCURSEL does not notify; a pick from the list does.
    ::SendMessageW(::GetParent(combo), WM_COMMAND, MAKEWPARAM(id, CBN_SELCHANGE), reinterpret_cast<LPARAM>(combo));
}

void Automation::ComboSelectText(HWND dialog, int id, const std::string& text) {
    std::vector<std::string> items = ComboItems(dialog, id);
    for (size_t i = 0; i < items.size(); ++i) {
        if (items[i] == text) {
            ComboSelect(dialog, id, static_cast<int>(i));
            return;
        }
    }
    Fail("combo box has no entry \"" + text + "\"");
}

// ---------------------------------------------------------------------------------------------
// Message boxes

std::string Automation::DialogText(HWND dialog) {
    std::wstring text;
    ::EnumChildWindows(dialog, CollectStatic, reinterpret_cast<LPARAM>(&text));
    return ToAnsi(text);
}

std::string Automation::AnswerMessageBox(const std::string& textPart, int buttonId, DWORD timeoutMs) const {
    const ULONGLONG deadline = ::GetTickCount64() + Effective(timeoutMs);
    for (;;) {
        MsgBoxArgs args;
        args.part = textPart;
        ::EnumWindows(FindMsgBoxProc, reinterpret_cast<LPARAM>(&args));
        if (args.found) {
            HWND button = ::GetDlgItem(args.found, buttonId);
            if (!button) Fail(Format("message box \"%s\" has no button %d", args.text.c_str(), buttonId));
            ::PostMessageW(args.found, WM_COMMAND, MAKEWPARAM(buttonId, BN_CLICKED), reinterpret_cast<LPARAM>(button));
            if (!WaitForClose(args.found, timeoutMs)) Fail("message box \"" + args.text + "\" did not close");
            return args.text;
        }
        if (::GetTickCount64() >= deadline) Fail("no message box with \"" + textPart + "\" appeared");
        Sleep();
    }
}

// ---------------------------------------------------------------------------------------------
// Screenshots

bool Automation::SaveScreenshot(const std::string& path, HWND window) noexcept {
    try {
        RECT rect = {0, 0, ::GetSystemMetrics(SM_CXSCREEN), ::GetSystemMetrics(SM_CYSCREEN)};
        if (window && !::GetWindowRect(window, &rect)) return false;
        const int width = rect.right - rect.left;
        const int height = rect.bottom - rect.top;
        if (width <= 0 || height <= 0) return false;
        unique_screen_dc screen(::GetDC(nullptr));
        if (!screen) return false;
        unique_hdc memory(::CreateCompatibleDC(screen.get()));
        unique_hbitmap bitmap(::CreateCompatibleBitmap(screen.get(), width, height));
        if (!memory || !bitmap) return false;
        HGDIOBJ old = ::SelectObject(memory.get(), bitmap.get());
        BOOL copied =
            ::BitBlt(memory.get(), 0, 0, width, height, screen.get(), rect.left, rect.top, SRCCOPY | CAPTUREBLT);
        ::SelectObject(memory.get(), old);
        if (!copied) return false;
        const bool png = path.size() > 4 && _stricmp(path.c_str() + path.size() - 4, ".png") == 0;
        return png ? WritePng(path, bitmap.get()) : WriteBmp(path, memory.get(), bitmap.get(), width, height);
    } catch (...) {
        return false;
    }
}

// ---------------------------------------------------------------------------------------------

void RunWhileDriving(const std::function<void()>& modal, const std::function<void(Automation&)>& driver,
                     DWORD timeoutMs) {
    const DWORD uiThread = ::GetCurrentThreadId();
    std::atomic<bool> modalDone{false};
    std::exception_ptr driverError;
    std::string timeoutError;

    std::thread worker([&] {
        Automation automation(timeoutMs);
        try {
            driver(automation);
        } catch (...) {
            driverError = std::current_exception();
        }
        // Whatever the driver left open (after a failure, or because it forgot) is closed, so
        // the modal part returns and the test reports instead of hanging.
        const ULONGLONG deadline = ::GetTickCount64() + (driverError ? 0 : timeoutMs);
        LPARAM round = 0;
        while (!modalDone.load()) {
            if (::GetTickCount64() >= deadline) {
                if (!driverError && timeoutError.empty())
                    timeoutError = "the dialog was still open after the driver finished";
                ::EnumThreadWindows(uiThread, CloseThreadWindow, round++);
                ::Sleep(100);
            } else {
                ::Sleep(kPollMs);
            }
        }
    });
    std::exception_ptr modalError;
    try {
        modal();
    } catch (...) {
        modalError = std::current_exception();
    }
    modalDone = true;
    worker.join();
    if (driverError) std::rethrow_exception(driverError);
    if (modalError) std::rethrow_exception(modalError);
    if (!timeoutError.empty()) throw AutomationError(timeoutError);
}

}  // namespace hv::uiauto
