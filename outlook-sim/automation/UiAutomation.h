#pragma once
// Drives the product's dialogs from a test as a user would, through Win32 messages: wait for a
// window by caption, read and set controls by id, tick check boxes, click buttons, read list
// views and tree views, pick combo box entries, answer message boxes, take screenshots.
//
// A test runs the product's modal dialog on its own (user-interface) thread and drives it from
// a second thread: RunWhileDriving() does that pairing. Everything here is meant for windows of
// this process: list-view and tree-view reads pass pointers through SendMessage, which only
// works inside one address space.
//
// Failures (a window that does not appear in time, a control id that does not exist) throw
// hv::uiauto::AutomationError, so a driver simply stops at the first surprise; RunWhileDriving
// then closes what is left open and rethrows on the test thread.
#include <windows.h>
#include <commctrl.h>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace hv::uiauto {

struct AutomationError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// One tree-view item, listed depth first.
struct TreeItem {
    HTREEITEM handle = nullptr;
    int level = 0;     // 0 for roots
    std::string text;  // ANSI
    std::string path;  // texts from the root joined by '\\'
    bool expanded = false;
    bool selected = false;
    bool hasChildren = false;
};

class Automation {
public:
    // timeoutMs: how long the Wait... calls and the checks after a click wait by default.
    explicit Automation(DWORD timeoutMs = 10000) noexcept : m_timeout(timeoutMs) {}

    DWORD Timeout() const noexcept { return m_timeout; }
    void SetTimeout(DWORD ms) noexcept { m_timeout = ms; }

    // --- windows --------------------------------------------------------------------------
    // A visible top-level window of this process whose caption is exactly `caption` (and whose
    // class is `className` when given). Throws after the timeout (0 = the default timeout).
    HWND WaitForWindow(const std::string& caption, const char* className = nullptr, DWORD timeoutMs = 0) const;
    // The same for a dialog (class "#32770").
    HWND WaitForDialog(const std::string& caption, DWORD timeoutMs = 0) const;
    // Null when no such window is open now.
    static HWND FindTopLevel(const std::string& caption, const char* className = nullptr) noexcept;
    // A visible top-level window whose caption starts with `prefix`.
    static HWND FindTopLevelByPrefix(const std::string& prefix, const char* className = nullptr) noexcept;
    // Waits until `window` is destroyed (or hidden); false on timeout.
    bool WaitForClose(HWND window, DWORD timeoutMs = 0) const noexcept;
    // Waits until `predicate` holds, polling; false on timeout.
    bool WaitUntil(const std::function<bool()>& predicate, DWORD timeoutMs = 0) const;
    static std::string GetCaption(HWND window);
    static std::string GetClass(HWND window);
    // Every visible top-level window of this process, captions and classes, for diagnostics.
    static std::vector<HWND> TopLevelWindows();

    // --- controls -------------------------------------------------------------------------
    // The child with control id `id`; throws when there is none.
    static HWND Control(HWND dialog, int id);
    static bool HasControl(HWND dialog, int id) noexcept { return ::GetDlgItem(dialog, id) != nullptr; }
    static std::string GetText(HWND dialog, int id);
    // WM_SETTEXT: the control notifies its parent (EN_CHANGE) as after a paste.
    static void SetText(HWND dialog, int id, const std::string& text);
    // Types the text character by character (WM_CHAR, posted), as a user would; for edits and
    // the edit field of a drop-down combo box. Waits until the characters were consumed.
    void TypeText(HWND dialog, int id, const std::string& text) const;
    static bool IsEnabled(HWND dialog, int id);
    static bool IsVisible(HWND dialog, int id);
    static bool IsChecked(HWND dialog, int id);
    // Clicks the check box when its state differs, so the dialog sees BN_CLICKED.
    void SetChecked(HWND dialog, int id, bool checked) const;
    // BM_CLICK posted to the button: the click runs inside the dialog's own message loop, so a
    // handler that opens another modal dialog does not block the driver.
    static void Click(HWND dialog, int id);
    // WM_COMMAND (id, BN_CLICKED) posted to the dialog: for buttons that are disabled or hidden
    // on purpose nothing is sent; use this to press IDOK/IDCANCEL as the keyboard would.
    static void Command(HWND dialog, int id);
    // Waits until the window's thread has dispatched everything posted to it so far (for
    // instance the handler of a Click that does not open a dialog).
    void Settle(HWND window) const;
    // Closes the window as its close box would (WM_CLOSE, posted).
    static void Close(HWND window);

    // --- list view (report style) -----------------------------------------------------------
    static int ListViewCount(HWND dialog, int id);
    static int ListViewColumnCount(HWND dialog, int id);
    // Each row's cells, column by column.
    static std::vector<std::vector<std::string>> ListViewRows(HWND dialog, int id);
    static std::string ListViewCell(HWND dialog, int id, int row, int column);
    // Selects (and focuses) one row, clearing other selections; the dialog gets LVN_ITEMCHANGED.
    static void ListViewSelect(HWND dialog, int id, int row);
    static std::vector<int> ListViewSelection(HWND dialog, int id);
    // Check boxes of LVS_EX_CHECKBOXES list views.
    static bool ListViewIsChecked(HWND dialog, int id, int row);
    static void ListViewSetChecked(HWND dialog, int id, int row, bool checked);
    static std::vector<std::string> ListViewColumns(HWND dialog, int id);

    // --- tree view ----------------------------------------------------------------------------
    static std::vector<TreeItem> TreeViewItems(HWND dialog, int id);
    // The first item whose path (texts joined by '\\' from the root) equals `path`; null if none.
    static HTREEITEM TreeViewFind(HWND dialog, int id, const std::string& path);
    // Selects the item (TVN_SELCHANGING/TVN_SELCHANGED go to the dialog); throws if absent.
    static void TreeViewSelect(HWND dialog, int id, const std::string& path);
    static void TreeViewExpand(HWND dialog, int id, const std::string& path);
    static std::string TreeViewSelectedPath(HWND dialog, int id);

    // --- combo box ----------------------------------------------------------------------------
    static std::vector<std::string> ComboItems(HWND dialog, int id);
    static int ComboSelection(HWND dialog, int id);
    // Selects the entry and tells the dialog (CBN_SELCHANGE), as a pick from the list does.
    static void ComboSelect(HWND dialog, int id, int index);
    // Selects the entry with exactly this text; throws if absent.
    static void ComboSelectText(HWND dialog, int id, const std::string& text);

    // --- message boxes --------------------------------------------------------------------------
    // Waits for a message box (dialog "#32770") whose text contains `textPart`, presses button
    // `buttonId` (IDOK, IDYES, ...) and returns the full text. Throws on timeout.
    std::string AnswerMessageBox(const std::string& textPart, int buttonId, DWORD timeoutMs = 0) const;
    // The static texts of a dialog, joined by '\n' (the text of a message box).
    static std::string DialogText(HWND dialog);

    // --- screenshots ----------------------------------------------------------------------------
    // The whole display, or only `window`'s rectangle; ".png" is written as PNG, anything else
    // as a 24-bit BMP. Returns false when the capture or the write failed.
    static bool SaveScreenshot(const std::string& path, HWND window = nullptr) noexcept;

private:
    DWORD Effective(DWORD ms) const noexcept { return ms ? ms : m_timeout; }
    DWORD m_timeout;
};

// Runs `modal` on the calling thread (it opens the product's modal dialog and returns when the
// dialog ends) while `driver` drives it from a second thread. When the driver throws, or does
// not finish within timeoutMs, or the modal part is still running timeoutMs after the driver
// returned, every window of the calling thread is closed so `modal` can return, and the
// failure is rethrown here as AutomationError (or the driver's own exception).
void RunWhileDriving(const std::function<void()>& modal, const std::function<void(Automation&)>& driver,
                     DWORD timeoutMs = 20000);

}  // namespace hv::uiauto
