#pragma once
// The Tools / Options page of Halvane for Outlook: a composite control over dialog 28003 that
// edits the credentials and the synchronisation switches, tests the credentials against the
// service and shows the library's version. Outlook drives it through its PropertyPage
// interface (Dirty, Apply) and learns of changes through the page site's OnStatusChange.
#include <string>
#include "options/CompositeControl.h"
#include "options/HvToolsOpts_i.h"

class CPropPage : public CCompositeControl, public IPropPage, public PropertyPage {
public:
    // The shortest interval between automatic synchronisations the page accepts, and what an
    // unticked page shows in the minutes box.
    enum : DWORD { MIN_SYNC_QUANTUM = 5, DEFAULT_SHOWN_QUANTUM = 15 };
    enum : DISPID { DISPID_GETPAGEINFO = 0x2100, DISPID_DIRTY = 0x2101, DISPID_APPLY = 0x2102 };

    // Plays the warning when the minutes box is corrected; tests replace it.
    using BeepFn = void (*)();
    static BeepFn s_pfnBeep;

    // A new page with one reference, owned by the caller.
    static HRESULT CreateInstance(IUnknown* outer, REFIID iid, void** out);

    CPropPage();
    ~CPropPage() override;

    // IUnknown (one identity for every interface)
    STDMETHODIMP QueryInterface(REFIID iid, void** out) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

    // IDispatch, shared by IPropPage and PropertyPage: the PropertyPage members by name.
    STDMETHODIMP GetTypeInfoCount(UINT* count) override;
    STDMETHODIMP GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) override;
    STDMETHODIMP GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids) override;
    STDMETHODIMP Invoke(DISPID id, REFIID iid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                        EXCEPINFO* excepInfo, UINT* argError) override;

    // PropertyPage
    STDMETHODIMP GetPageInfo(BSTR* helpFile, long* helpContext) override;
    STDMETHODIMP get_Dirty(VARIANT_BOOL* dirty) override;
    STDMETHODIMP Apply() override;

    STDMETHODIMP InPlaceDeactivate() override;

    // State a test can look at.
    bool IsInitialized() const noexcept { return m_fInitialized; }
    PropertyPageSite* PageSite() const noexcept { return m_pPageSite.get(); }

    // The leading decimal digits of a text as a number (0 when there are none; saturates).
    static DWORD ParseMinutes(const std::string& text);

    // What the page's controls hold, kept when its window goes away so that a later Apply (or
    // the next activation) still has the user's edits.
    struct Values {
        std::string user;
        std::string password;
        std::string minutes;
        bool syncAutomatically = false;
        bool syncAtStartup = false;
        bool autoPush = false;
        bool deleteOutlookItems = false;
        bool deleteHVItems = false;
    };
    // Writes the values to the settings; the result of storing the credentials.
    static HRESULT Store(const Values& values);

protected:
    void OnClientSiteChanged() override;
    BOOL OnInitDialog() override;
    bool OnCommand(WORD id, WORD code, HWND control) override;
    void OnDestroy() override;

private:
    // Sets the dirty flag and tells the site, once the page has been filled.
    void MarkDirty();
    void OnSyncQuantumLeft();
    HRESULT OnTestCredentials();
    void EnableItem(int id, bool enable) const { ::EnableWindow(GetItem(id), enable ? TRUE : FALSE); }
    Values ReadControls() const;
    void WriteControls(const Values& values);
    // Fills the controls from the settings.
    void LoadSettings();

    LONG m_cRef = 1;
    hv::com_ptr<PropertyPageSite> m_pPageSite;
    VARIANT m_varDirty;
    bool m_fInitialized = false;
    // The values of a window that is gone, while they are not applied.
    Values m_values;
    bool m_fHaveValues = false;
    // Set while the page writes into its own controls, so that is no user change.
    bool m_fUpdating = false;
};
