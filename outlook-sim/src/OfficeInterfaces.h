#pragma once
// The Office and Outlook interfaces the host speaks to add-ins through, declared from their
// public IIDs and member order (Office's own headers are not part of mingw-w64):
//   IDTExtensibility2      {B65AD801-ABAF-11D0-BB8B-00A0C90F2744}  (MSADDNDR: AddInDesignerObjects)
//   IRibbonExtensibility   {000C0396-0000-0000-C000-000000000046}  (Office: GetCustomUI)
//   IRibbonControl         {000C0395-0000-0000-C000-000000000046}  (Office: Id, Context, Tag)
//   PropertyPage           {0006307E-0000-0000-C000-000000000046}  (Outlook: GetPageInfo, Dirty, Apply)
//   PropertyPageSite       {0006307F-0000-0000-C000-000000000046}  (Outlook: Application, Class,
//                                                                    Session, Parent, OnStatusChange)
//   PropertyPages          {00063080-0000-0000-C000-000000000046}  (Outlook: answered by IDispatch)
// All are dual (IDispatch-based) interfaces.
#include <windows.h>
#include <oaidl.h>

namespace hvsim {

enum ext_ConnectMode { ext_cm_AfterStartup = 0, ext_cm_Startup = 1, ext_cm_External = 2, ext_cm_CommandLine = 3 };
enum ext_DisconnectMode { ext_dm_HostShutdown = 0, ext_dm_UserClosed = 1 };

}  // namespace hvsim

struct IDTExtensibility2 : public IDispatch {
    virtual HRESULT STDMETHODCALLTYPE OnConnection(IDispatch* application, int connectMode, IDispatch* addInInst,
                                                   SAFEARRAY** custom) = 0;
    virtual HRESULT STDMETHODCALLTYPE OnDisconnection(int removeMode, SAFEARRAY** custom) = 0;
    virtual HRESULT STDMETHODCALLTYPE OnAddInsUpdate(SAFEARRAY** custom) = 0;
    virtual HRESULT STDMETHODCALLTYPE OnStartupComplete(SAFEARRAY** custom) = 0;
    virtual HRESULT STDMETHODCALLTYPE OnBeginShutdown(SAFEARRAY** custom) = 0;
};
__CRT_UUID_DECL(IDTExtensibility2, 0xB65AD801, 0xABAF, 0x11D0, 0xBB, 0x8B, 0x00, 0xA0, 0xC9, 0x0F, 0x27, 0x44)

struct IRibbonExtensibility : public IDispatch {
    virtual HRESULT STDMETHODCALLTYPE GetCustomUI(BSTR ribbonId, BSTR* ribbonXml) = 0;
};
__CRT_UUID_DECL(IRibbonExtensibility, 0x000C0396, 0, 0, 0xC0, 0, 0, 0, 0, 0, 0, 0x46)

struct IRibbonControl : public IDispatch {
    virtual HRESULT STDMETHODCALLTYPE get_Id(BSTR* id) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Context(IDispatch** context) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Tag(BSTR* tag) = 0;
};
__CRT_UUID_DECL(IRibbonControl, 0x000C0395, 0, 0, 0xC0, 0, 0, 0, 0, 0, 0, 0x46)

// Outlook's options-page contract (Outlook type library, interface PropertyPage).
struct OutlookPropertyPage : public IDispatch {
    virtual HRESULT STDMETHODCALLTYPE GetPageInfo(BSTR* helpFile, long* helpContext) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Dirty(VARIANT_BOOL* dirty) = 0;
    virtual HRESULT STDMETHODCALLTYPE Apply() = 0;
};
__CRT_UUID_DECL(OutlookPropertyPage, 0x0006307E, 0, 0, 0xC0, 0, 0, 0, 0, 0, 0, 0x46)

struct OutlookPropertyPageSite : public IDispatch {
    virtual HRESULT STDMETHODCALLTYPE get_Application(IDispatch** application) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Class(long* cls) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Session(IDispatch** session) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Parent(IDispatch** parent) = 0;
    virtual HRESULT STDMETHODCALLTYPE OnStatusChange() = 0;
};
__CRT_UUID_DECL(OutlookPropertyPageSite, 0x0006307F, 0, 0, 0xC0, 0, 0, 0, 0, 0, 0, 0x46)

namespace hvsim {
inline const IID IID_OutlookPropertyPages = {0x00063080, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
// DISPIDs of the dual interfaces' members, for callers that go through IDispatch.
constexpr DISPID DISPID_PropertyPageSite_OnStatusChange = 8448;
constexpr DISPID DISPID_PropertyPage_Dirty = 8449;
}  // namespace hvsim
