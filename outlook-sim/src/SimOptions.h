#pragma once
// Outlook's Tools / Options dialog as far as add-ins see it: the "OptionsPagesAdd" event with a
// PropertyPages collection, and a dialog that hosts each added page as an in-place ActiveX
// control on a tab, gives it a PropertyPageSite through its client site, enables Apply when the
// page reports a change (OnStatusChange), calls Dirty and Apply on Apply and OK, and releases the
// controls when it closes.
#include <windows.h>
#include <oaidl.h>

#include <memory>
#include <string>
#include <vector>

#include "win/ComPtr.h"

namespace hvsim {

class SimOutlook;

// Control ids of the dialog (caption "Options").
constexpr int kOptionsTabId = 1001;
constexpr int kOptionsApplyId = 0x3021;  // the property sheet's "Apply" (ID_APPLY_NOW)

// The PropertyPages collection handed to OptionsPagesAdd ({00063080-0000-0000-C000-000000000046}).
struct PropertyPageEntry {
    std::string progId;            // when added by ProgID
    hv::com_ptr<IUnknown> object;  // when added as an object
    std::string caption;
};

class OptionsDialog {
public:
    explicit OptionsDialog(SimOutlook& outlook);
    ~OptionsDialog();
    OptionsDialog(const OptionsDialog&) = delete;
    OptionsDialog& operator=(const OptionsDialog&) = delete;

    // Raises OptionsPagesAdd, then shows the dialog (modeless, on this thread) with the built-in
    // "Preferences" tab followed by one tab per added page; each page is created, sited and
    // activated. Returns the dialog window.
    HWND Open();
    bool IsOpen() const { return m_dialog != nullptr; }
    HWND Window() const { return m_dialog; }
    // Tabs: "Preferences", then the captions given to PropertyPages.Add.
    std::vector<std::string> TabCaptions() const;
    bool SelectTab(const std::string& caption);
    // The window of an added page's control (null when it failed to load).
    HWND PageWindow(const std::string& caption) const;
    bool ApplyEnabled() const;
    // The buttons: Apply (Dirty, then Apply on every dirty page), OK (the same, then close),
    // Cancel (close). Clicking the dialog's own buttons does the same.
    void Apply();
    void Ok();
    void Cancel();
    // Pages that could not be created or sited, with the reason.
    const std::vector<std::string>& Errors() const { return m_errors; }
    // How many OnStatusChange calls the page sites received.
    int StatusChanges() const { return m_statusChanges; }

    struct Page;
    // Called by a page site.
    void OnStatusChange();

private:
    static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
    void CreatePages();
    void Close();
    void ShowSelected();
    RECT PageRect() const;

    SimOutlook& m_outlook;
    HWND m_dialog = nullptr;
    std::vector<std::unique_ptr<Page>> m_pages;
    std::shared_ptr<std::vector<PropertyPageEntry>> m_entries;
    std::vector<std::string> m_errors;
    int m_statusChanges = 0;
};

hv::com_ptr<IDispatch> NewPropertyPages(IDispatch* application,
                                        std::shared_ptr<std::vector<PropertyPageEntry>> entries);

}  // namespace hvsim
