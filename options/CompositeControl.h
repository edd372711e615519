#pragma once
// A composite ActiveX control of our own: a child dialog from a resource template, with the
// interfaces a container needs to site it (IOleObject), activate it in place
// (IOleInPlaceObject, IOleInPlaceActiveObject, IOleControl), draw it (IViewObject2), persist it
// (IPersistStreamInit, IPersistPropertyBag, IQuickActivate), hand out data (IDataObject) and
// describe it (IProvideClassInfo2, ISpecifyPropertyPages, ISupportErrorInfo).
//
// The derived class owns the reference count and QueryInterface (it adds its own interfaces);
// QueryControlInterface answers for the ones here. Nothing thrown leaves a COM method.
#include <windows.h>
#include <ole2.h>
#include <ocidl.h>
#include <olectl.h>
#include "win/ComPtr.h"
#include "win/Dialog.h"

class CCompositeControl : public hv::CDialogBase,
                          public IOleObject,
                          public IOleInPlaceObject,
                          public IOleInPlaceActiveObject,
                          public IOleControl,
                          public IViewObject2,
                          public IPersistStreamInit,
                          public IPersistPropertyBag,
                          public IQuickActivate,
                          public IDataObject,
                          public IProvideClassInfo2,
                          public ISpecifyPropertyPages,
                          public ISupportErrorInfo {
public:
    // What the control tells containers about itself (also written to the registry).
    static constexpr DWORD MISC_STATUS = OLEMISC_RECOMPOSEONRESIZE | OLEMISC_CANTLINKINSIDE | OLEMISC_INSIDEOUT |
                                         OLEMISC_ACTIVATEWHENVISIBLE | OLEMISC_SETCLIENTSITEFIRST;

    CCompositeControl(UINT templateId, const CLSID& clsid, const IID& defaultIid);
    virtual ~CCompositeControl();

    // The interfaces of this class, AddRef'ed into *out; E_NOINTERFACE for any other.
    HRESULT QueryControlInterface(REFIID iid, void** out) noexcept;

    bool IsInPlaceActive() const noexcept { return m_fInPlaceActive; }
    bool IsUIActive() const noexcept { return m_fUIActive; }
    IOleClientSite* ClientSite() const noexcept { return m_pClientSite.get(); }

    // IOleObject
    STDMETHODIMP SetClientSite(IOleClientSite* site) override;
    STDMETHODIMP GetClientSite(IOleClientSite** site) override;
    STDMETHODIMP SetHostNames(LPCOLESTR containerApp, LPCOLESTR containerObject) override;
    STDMETHODIMP Close(DWORD saveOption) override;
    STDMETHODIMP SetMoniker(DWORD which, IMoniker* moniker) override;
    STDMETHODIMP GetMoniker(DWORD assign, DWORD which, IMoniker** moniker) override;
    STDMETHODIMP InitFromData(IDataObject* data, BOOL creation, DWORD reserved) override;
    STDMETHODIMP GetClipboardData(DWORD reserved, IDataObject** data) override;
    STDMETHODIMP DoVerb(LONG verb, LPMSG msg, IOleClientSite* activeSite, LONG index, HWND parent,
                        LPCRECT posRect) override;
    STDMETHODIMP EnumVerbs(IEnumOLEVERB** verbs) override;
    STDMETHODIMP Update() override;
    STDMETHODIMP IsUpToDate() override;
    STDMETHODIMP GetUserClassID(CLSID* clsid) override;
    STDMETHODIMP GetUserType(DWORD form, LPOLESTR* userType) override;
    STDMETHODIMP SetExtent(DWORD aspect, SIZEL* size) override;
    STDMETHODIMP GetExtent(DWORD aspect, SIZEL* size) override;
    STDMETHODIMP Advise(IAdviseSink* sink, DWORD* connection) override;
    STDMETHODIMP Unadvise(DWORD connection) override;
    STDMETHODIMP EnumAdvise(IEnumSTATDATA** advise) override;
    STDMETHODIMP GetMiscStatus(DWORD aspect, DWORD* status) override;
    STDMETHODIMP SetColorScheme(LOGPALETTE* palette) override;

    // IOleWindow (both in-place interfaces)
    STDMETHODIMP GetWindow(HWND* hwnd) override;
    STDMETHODIMP ContextSensitiveHelp(BOOL enterMode) override;
    // IOleInPlaceObject
    STDMETHODIMP InPlaceDeactivate() override;
    STDMETHODIMP UIDeactivate() override;
    STDMETHODIMP SetObjectRects(LPCRECT posRect, LPCRECT clipRect) override;
    STDMETHODIMP ReactivateAndUndo() override;
    // IOleInPlaceActiveObject
    STDMETHODIMP TranslateAccelerator(LPMSG msg) override;
    STDMETHODIMP OnFrameWindowActivate(BOOL activate) override;
    STDMETHODIMP OnDocWindowActivate(BOOL activate) override;
    STDMETHODIMP ResizeBorder(LPCRECT border, IOleInPlaceUIWindow* uiWindow, BOOL frameWindow) override;
    STDMETHODIMP EnableModeless(BOOL enable) override;

    // IOleControl
    STDMETHODIMP GetControlInfo(CONTROLINFO* info) override;
    STDMETHODIMP OnMnemonic(MSG* msg) override;
    STDMETHODIMP OnAmbientPropertyChange(DISPID dispid) override;
    STDMETHODIMP FreezeEvents(BOOL freeze) override;

    // IViewObject2
    STDMETHODIMP Draw(DWORD aspect, LONG index, void* aspectInfo, DVTARGETDEVICE* target, HDC targetDev, HDC draw,
                      LPCRECTL bounds, LPCRECTL windowBounds, BOOL(STDMETHODCALLTYPE* cont)(ULONG_PTR),
                      ULONG_PTR contArg) override;
    STDMETHODIMP GetColorSet(DWORD aspect, LONG index, void* aspectInfo, DVTARGETDEVICE* target, HDC targetDev,
                             LOGPALETTE** colors) override;
    STDMETHODIMP Freeze(DWORD aspect, LONG index, void* aspectInfo, DWORD* freeze) override;
    STDMETHODIMP Unfreeze(DWORD freeze) override;
    STDMETHODIMP SetAdvise(DWORD aspects, DWORD flags, IAdviseSink* sink) override;
    STDMETHODIMP GetAdvise(DWORD* aspects, DWORD* flags, IAdviseSink** sink) override;
    STDMETHODIMP GetExtent(DWORD aspect, LONG index, DVTARGETDEVICE* target, LPSIZEL size) override;

    // IPersist, IPersistStreamInit, IPersistPropertyBag: the page keeps its state in the
    // registry, so there is nothing to load or save beyond accepting the calls.
    STDMETHODIMP GetClassID(CLSID* clsid) override;
    STDMETHODIMP IsDirty() override;
    STDMETHODIMP Load(LPSTREAM stream) override;
    STDMETHODIMP Save(LPSTREAM stream, BOOL clearDirty) override;
    STDMETHODIMP GetSizeMax(ULARGE_INTEGER* size) override;
    STDMETHODIMP InitNew() override;
    STDMETHODIMP Load(IPropertyBag* bag, IErrorLog* log) override;
    STDMETHODIMP Save(IPropertyBag* bag, BOOL clearDirty, BOOL saveAll) override;

    // IQuickActivate
    STDMETHODIMP QuickActivate(QACONTAINER* container, QACONTROL* control) override;
    STDMETHODIMP SetContentExtent(LPSIZEL size) override;
    STDMETHODIMP GetContentExtent(LPSIZEL size) override;

    // IDataObject: the control renders no data formats; data advises are kept.
    STDMETHODIMP GetData(FORMATETC* format, STGMEDIUM* medium) override;
    STDMETHODIMP GetDataHere(FORMATETC* format, STGMEDIUM* medium) override;
    STDMETHODIMP QueryGetData(FORMATETC* format) override;
    STDMETHODIMP GetCanonicalFormatEtc(FORMATETC* in, FORMATETC* out) override;
    STDMETHODIMP SetData(FORMATETC* format, STGMEDIUM* medium, BOOL release) override;
    STDMETHODIMP EnumFormatEtc(DWORD direction, IEnumFORMATETC** formats) override;
    STDMETHODIMP DAdvise(FORMATETC* format, DWORD flags, IAdviseSink* sink, DWORD* connection) override;
    STDMETHODIMP DUnadvise(DWORD connection) override;
    STDMETHODIMP EnumDAdvise(IEnumSTATDATA** advise) override;

    // IProvideClassInfo2
    STDMETHODIMP GetClassInfo(ITypeInfo** info) override;
    STDMETHODIMP GetGUID(DWORD kind, GUID* guid) override;

    // ISpecifyPropertyPages
    STDMETHODIMP GetPages(CAUUID* pages) override;

    // ISupportErrorInfo
    STDMETHODIMP InterfaceSupportsErrorInfo(REFIID iid) override;

protected:
    // The site changed (null: the container let go of the control).
    virtual void OnClientSiteChanged() {}
    // Type information of this module's type library (TYPELIB resource 1).
    static HRESULT LoadTypeInfo(const GUID& guid, ITypeInfo** info);

    // A control never ends its own dialog: Enter and Escape belong to the container.
    void OnOK() override {}
    void OnCancel() override {}

private:
    HRESULT InPlaceActivate(LONG verb, HWND parentHint, LPCRECT posHint);
    HRESULT UIActivate();
    // The natural size of the template in HIMETRIC, from the dialog font's base units.
    SIZEL TemplateExtent() const;
    void SendViewChange();

    CLSID m_clsid;
    IID m_defaultIid;
    hv::com_ptr<IOleClientSite> m_pClientSite;
    hv::com_ptr<IOleInPlaceSite> m_pInPlaceSite;
    hv::com_ptr<IOleInPlaceFrame> m_pInPlaceFrame;
    hv::com_ptr<IOleInPlaceUIWindow> m_pInPlaceUIWindow;
    hv::com_ptr<IOleAdviseHolder> m_pOleAdviseHolder;
    hv::com_ptr<IDataAdviseHolder> m_pDataAdviseHolder;
    hv::com_ptr<IAdviseSink> m_pViewAdviseSink;
    DWORD m_dwViewAdviseAspects = 0;
    DWORD m_dwViewAdviseFlags = 0;
    SIZEL m_sizeExtent{};
    bool m_fInPlaceActive = false;
    bool m_fUIActive = false;
};
