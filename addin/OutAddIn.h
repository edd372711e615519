#pragma once
// The add-in object Outlook (or Word hosting Outlook's mail editor) creates and drives through
// IDTExtensibility2. It owns the event sinks and the shared state that keeps their work apart
// (critical section, operation-in-progress flag, last closed item), answers the ribbon and
// serves the ribbon callbacks through its own IDispatch.
#include <windows.h>
#include <oaidl.h>
#include <memory>
#include <string>

#include "addin/CtrlData.h"
#include "addin/DispatchObject.h"
#include "addin/OfficeInterfaces.h"
#include "win/ComTypes.h"

class CCmdBar;
class CExplorerEvents;
class CInspectorsEvents;
class CItemsEvents;
class COutlookEvents;
class CSettingsWatch;
class CWordEvents;

class COutAddIn : public IDTExtensibility2, public IDTRibbonExtensibility {
public:
    enum : DISPID { DISPID_GETCUSTOMIMAGE = 1 };
    static const DISPATCH_ENTRY s_table[];

    COutAddIn() noexcept;
    virtual ~COutAddIn();
    COutAddIn(const COutAddIn&) = delete;
    COutAddIn& operator=(const COutAddIn&) = delete;

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    // IDispatch: the ribbon's callbacks; no type information.
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) override;
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids) override;
    HRESULT STDMETHODCALLTYPE Invoke(DISPID dispid, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params,
                                     VARIANT* result, EXCEPINFO* excepInfo, UINT* argError) override;
    // IDTExtensibility2
    HRESULT STDMETHODCALLTYPE OnConnection(IDispatch* application, ext_ConnectMode connectMode, IDispatch* addInInst,
                                           SAFEARRAY** custom) override;
    HRESULT STDMETHODCALLTYPE OnDisconnection(ext_DisconnectMode removeMode, SAFEARRAY** custom) override;
    HRESULT STDMETHODCALLTYPE OnAddInsUpdate(SAFEARRAY** custom) override;
    HRESULT STDMETHODCALLTYPE OnStartupComplete(SAFEARRAY** custom) override;
    HRESULT STDMETHODCALLTYPE OnBeginShutdown(SAFEARRAY** custom) override;
    // IDTRibbonExtensibility
    HRESULT STDMETHODCALLTYPE GetCustomUI(BSTR ribbonId, BSTR* ribbonXml) override;

    // The button image: the PNG resource decoded over transparent black, as an IPictureDisp.
    HRESULT GetCustomImage(VARIANT* control, VARIANT* result);

    // ---- state (readable by tests) ----
    CWordEvents* m_pWordEvents = nullptr;
    ULONG m_cRef = 0;
    CRITICAL_SECTION m_cs;
    bool m_fCsReady = false;
    IDispatch* m_pApplication = nullptr;
    IDispatch* m_pShortcutGroups = nullptr;
    // What the group's links were made of, and the watch that rebuilds them when the stored
    // credentials change while Outlook runs.
    std::string m_strShortcutStamp;
    std::unique_ptr<CSettingsWatch> m_pSettingsWatch;
    IDispatch* m_pInspectors = nullptr;
    CInspectorsEvents* m_pInspectorsEvents = nullptr;
    COutlookEvents* m_pOutlookEvents = nullptr;
    CItemsEvents* m_pCalendarItemsEvents = nullptr;
    CItemsEvents* m_pTasksItemsEvents = nullptr;
    hv::unique_variant m_calendarItems;
    hv::unique_variant m_tasksItems;
    CExplorerEvents* m_pExplorerEvents = nullptr;
    CCmdBar* m_pExplorerBar = nullptr;
    LONG m_fOperation = 0;
    CCtrlData* m_pLastClosed = nullptr;
    LONG m_fConnected = 0;

    // The Outlook version text ("11" when unknown).
    static std::string OutlookVersion();

private:
    void SinkItemChanges();
    void SinkNewInspector();
    void SinkOutlookEvents();
    void SinkWordEvents();
    void SinkExplorerEvents();
    // The Outlook Bar group "Halvane" (OutAddInShortcuts.cpp).
    void AddSortcuts();
    void AddOneShortcut(IDispatch* shortcuts, const std::string& userName, const std::string& m,
                        const std::string& rurl, const std::string& name, const std::string& iconPath);
    void RemoveShortcuts();
    void RefreshShortcuts();
    void AddExplorerButtons();
    // Hands the shared state to a sink the add-in made.
    template <typename Sink>
    void Share(Sink* sink);
};

// Module-wide bookkeeping of the add-in library.
class CHvOutModule {
public:
    static LONG& LiveObjects() noexcept;   // COutAddIn objects alive
    static LONG& FactoryLocks() noexcept;  // LockServer count
    static LONG& ModuleLocks() noexcept;   // the module's own lock count
    static bool& RibbonAsked() noexcept;   // the host asked for the ribbon interface
    // S_FALSE while anything above keeps the library in use, else S_OK.
    static HRESULT CanUnloadNow() noexcept;
    // Registration of the library at `modulePath` (the registry script, the type library, the
    // add-in's keys), and its removal.
    static HRESULT RegisterServer(const std::string& modulePath);
    static HRESULT UnregisterServer(const std::string& modulePath);
};
