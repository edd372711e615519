#include "options/CompositeControl.h"
#include <cstring>
#include "win/Errors.h"
#include "win/Strings.h"

namespace {

// HIMETRIC (0.01 mm) and pixels of the screen.
LONG PixelsToHimetric(LONG pixels, int logPixels) {
    return ::MulDiv(pixels, 2540, logPixels);
}
LONG HimetricToPixels(LONG himetric, int logPixels) {
    return ::MulDiv(himetric, logPixels, 2540);
}

struct ScreenDC {
    HDC dc = ::GetDC(nullptr);
    ~ScreenDC() {
        if (dc) ::ReleaseDC(nullptr, dc);
    }
};

}  // namespace

CCompositeControl::CCompositeControl(UINT templateId, const CLSID& clsid, const IID& defaultIid)
    : hv::CDialogBase(templateId), m_clsid(clsid), m_defaultIid(defaultIid) {
    m_sizeExtent = TemplateExtent();
}

CCompositeControl::~CCompositeControl() {
    // The window calls back into this object: it goes first.
    if (GetHwnd()) ::DestroyWindow(GetHwnd());
}

HRESULT CCompositeControl::QueryControlInterface(REFIID iid, void** out) noexcept {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (iid == IID_IOleObject)
        *out = static_cast<IOleObject*>(this);
    else if (iid == IID_IOleWindow || iid == IID_IOleInPlaceObject)
        *out = static_cast<IOleInPlaceObject*>(this);
    else if (iid == IID_IOleInPlaceActiveObject)
        *out = static_cast<IOleInPlaceActiveObject*>(this);
    else if (iid == IID_IOleControl)
        *out = static_cast<IOleControl*>(this);
    else if (iid == IID_IViewObject || iid == IID_IViewObject2)
        *out = static_cast<IViewObject2*>(this);
    else if (iid == IID_IPersist || iid == IID_IPersistStreamInit)
        *out = static_cast<IPersistStreamInit*>(this);
    else if (iid == IID_IPersistPropertyBag)
        *out = static_cast<IPersistPropertyBag*>(this);
    else if (iid == IID_IQuickActivate)
        *out = static_cast<IQuickActivate*>(this);
    else if (iid == IID_IDataObject)
        *out = static_cast<IDataObject*>(this);
    else if (iid == IID_IProvideClassInfo || iid == IID_IProvideClassInfo2)
        *out = static_cast<IProvideClassInfo2*>(this);
    else if (iid == IID_ISpecifyPropertyPages)
        *out = static_cast<ISpecifyPropertyPages*>(this);
    else if (iid == IID_ISupportErrorInfo)
        *out = static_cast<ISupportErrorInfo*>(this);
    else
        return E_NOINTERFACE;
    static_cast<IOleObject*>(this)->AddRef();
    return S_OK;
}

SIZEL CCompositeControl::TemplateExtent() const {
    // The template is in dialog units of "MS Shell Dlg" 8 pt: measure that font as the dialog
    // manager does (average width of the alphabet, full height).
    SIZEL size{0, 0};
    HRSRC found =
        ::FindResourceA(hv::ThisModule(), MAKEINTRESOURCEA(TemplateId()), reinterpret_cast<LPCSTR>(RT_DIALOG));
    HGLOBAL loaded = found ? ::LoadResource(hv::ThisModule(), found) : nullptr;
    const BYTE* data = loaded ? static_cast<const BYTE*>(::LockResource(loaded)) : nullptr;
    if (!data) return size;
    short cx = 0;
    short cy = 0;
    const WORD* words = reinterpret_cast<const WORD*>(data);
    if (words[0] == 1 && words[1] == 0xFFFF) {
        // DLGTEMPLATEEX: dlgVer, signature, helpID, exStyle, style, cDlgItems, x, y, cx, cy
        std::memcpy(&cx, data + 22, sizeof(cx));
        std::memcpy(&cy, data + 24, sizeof(cy));
    } else {
        // DLGTEMPLATE: style, exStyle, cdit, x, y, cx, cy
        std::memcpy(&cx, data + 14, sizeof(cx));
        std::memcpy(&cy, data + 16, sizeof(cy));
    }
    ScreenDC screen;
    if (!screen.dc) return size;
    const int dpiX = ::GetDeviceCaps(screen.dc, LOGPIXELSX);
    const int dpiY = ::GetDeviceCaps(screen.dc, LOGPIXELSY);
    HFONT font = ::CreateFontA(-::MulDiv(8, dpiY, 72), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                               OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH, "MS Shell Dlg");
    HGDIOBJ old = font ? ::SelectObject(screen.dc, font) : nullptr;
    TEXTMETRICA metrics{};
    ::GetTextMetricsA(screen.dc, &metrics);
    SIZE alphabet{};
    static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
    ::GetTextExtentPoint32A(screen.dc, kAlphabet, 52, &alphabet);
    if (old) ::SelectObject(screen.dc, old);
    if (font) ::DeleteObject(font);
    const int baseX = alphabet.cx > 0 ? (alphabet.cx / 26 + 1) / 2 : 6;
    const int baseY = metrics.tmHeight > 0 ? metrics.tmHeight : 13;
    size.cx = PixelsToHimetric(::MulDiv(cx, baseX, 4), dpiX);
    size.cy = PixelsToHimetric(::MulDiv(cy, baseY, 8), dpiY);
    return size;
}

HRESULT CCompositeControl::LoadTypeInfo(const GUID& guid, ITypeInfo** info) {
    if (!info) return E_POINTER;
    *info = nullptr;
    wchar_t path[MAX_PATH] = {};
    if (!::GetModuleFileNameW(hv::ThisModule(), path, MAX_PATH)) return hv::HResultFromLastError();
    hv::com_ptr<ITypeLib> library;
    RETURN_IF_FAILED(::LoadTypeLibEx(path, REGKIND_NONE, library.put()));
    return library->GetTypeInfoOfGuid(guid, info);
}

void CCompositeControl::SendViewChange() {
    if (m_pViewAdviseSink && (m_dwViewAdviseAspects & DVASPECT_CONTENT))
        m_pViewAdviseSink->OnViewChange(DVASPECT_CONTENT, -1);
}

// ---------------------------------------------------------------------------------------------
// IOleObject

STDMETHODIMP CCompositeControl::SetClientSite(IOleClientSite* site) {
    try {
        if (!site && m_fInPlaceActive) InPlaceDeactivate();
        m_pClientSite = site;
        OnClientSiteChanged();
        return S_OK;
    }
    CATCH_RETURN();
}

STDMETHODIMP CCompositeControl::GetClientSite(IOleClientSite** site) {
    if (!site) return E_POINTER;
    *site = m_pClientSite.copy();
    return S_OK;
}

STDMETHODIMP CCompositeControl::SetHostNames(LPCOLESTR, LPCOLESTR) {
    return S_OK;
}

STDMETHODIMP CCompositeControl::Close(DWORD) {
    try {
        if (m_fInPlaceActive) InPlaceDeactivate();
        if (m_pOleAdviseHolder) m_pOleAdviseHolder->SendOnClose();
        return S_OK;
    }
    CATCH_RETURN();
}

STDMETHODIMP CCompositeControl::SetMoniker(DWORD, IMoniker*) {
    return E_NOTIMPL;
}

STDMETHODIMP CCompositeControl::GetMoniker(DWORD, DWORD, IMoniker** moniker) {
    if (moniker) *moniker = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP CCompositeControl::InitFromData(IDataObject*, BOOL, DWORD) {
    return E_NOTIMPL;
}

STDMETHODIMP CCompositeControl::GetClipboardData(DWORD, IDataObject** data) {
    if (data) *data = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP CCompositeControl::DoVerb(LONG verb, LPMSG, IOleClientSite* activeSite, LONG, HWND parent,
                                       LPCRECT posRect) {
    try {
        // A container may hand the site only here.
        if (!m_pClientSite && activeSite) {
            m_pClientSite = activeSite;
            OnClientSiteChanged();
        }
        switch (verb) {
            case OLEIVERB_PRIMARY:
            case OLEIVERB_SHOW:
            case OLEIVERB_UIACTIVATE:
            case OLEIVERB_INPLACEACTIVATE:
                return InPlaceActivate(verb, parent, posRect);
            case OLEIVERB_HIDE:
                UIDeactivate();
                if (GetHwnd()) ::ShowWindow(GetHwnd(), SW_HIDE);
                return S_OK;
            case OLEIVERB_OPEN:
            case OLEIVERB_DISCARDUNDOSTATE:
                return S_OK;
            default:
                return verb > 0 ? OLEOBJ_S_INVALIDVERB : E_NOTIMPL;
        }
    }
    CATCH_RETURN();
}

HRESULT CCompositeControl::InPlaceActivate(LONG verb, HWND parentHint, LPCRECT posHint) {
    if (!m_pClientSite) return E_UNEXPECTED;
    if (!m_fInPlaceActive) {
        hv::com_ptr<IOleInPlaceSite> site = m_pClientSite.try_query<IOleInPlaceSite>();
        if (!site) return E_NOINTERFACE;
        if (site->CanInPlaceActivate() != S_OK) return E_FAIL;
        RETURN_IF_FAILED(site->OnInPlaceActivate());
        m_pInPlaceSite = site;
        m_fInPlaceActive = true;
    }
    if (!GetHwnd()) {
        HWND parent = nullptr;
        if (FAILED(m_pInPlaceSite->GetWindow(&parent)) || !parent) parent = parentHint;
        RECT pos{};
        RECT clip{};
        OLEINPLACEFRAMEINFO frameInfo{};
        frameInfo.cb = sizeof(frameInfo);
        m_pInPlaceFrame.reset();
        m_pInPlaceUIWindow.reset();
        if (FAILED(m_pInPlaceSite->GetWindowContext(m_pInPlaceFrame.put(), m_pInPlaceUIWindow.put(), &pos, &clip,
                                                    &frameInfo))) {
            if (posHint) pos = *posHint;
        }
        if (!parent || !Create(parent)) {
            InPlaceDeactivate();
            return E_FAIL;
        }
        if (pos.right <= pos.left || pos.bottom <= pos.top) {
            ScreenDC screen;
            pos.right = pos.left + HimetricToPixels(m_sizeExtent.cx, ::GetDeviceCaps(screen.dc, LOGPIXELSX));
            pos.bottom = pos.top + HimetricToPixels(m_sizeExtent.cy, ::GetDeviceCaps(screen.dc, LOGPIXELSY));
        }
        ::SetWindowPos(GetHwnd(), nullptr, pos.left, pos.top, pos.right - pos.left, pos.bottom - pos.top,
                       SWP_NOZORDER | SWP_NOACTIVATE);
    }
    ::ShowWindow(GetHwnd(), SW_SHOW);
    if (verb != OLEIVERB_INPLACEACTIVATE) return UIActivate();
    return S_OK;
}

HRESULT CCompositeControl::UIActivate() {
    if (m_fUIActive) return S_OK;
    m_fUIActive = true;
    m_pInPlaceSite->OnUIActivate();
    // The first control in the tab order gets the focus, as in any dialog.
    HWND first = ::GetNextDlgTabItem(GetHwnd(), nullptr, FALSE);
    ::SetFocus(first ? first : GetHwnd());
    IOleInPlaceActiveObject* active = static_cast<IOleInPlaceActiveObject*>(this);
    if (m_pInPlaceFrame) m_pInPlaceFrame->SetActiveObject(active, nullptr);
    if (m_pInPlaceUIWindow) m_pInPlaceUIWindow->SetActiveObject(active, nullptr);
    if (m_pInPlaceFrame) m_pInPlaceFrame->SetBorderSpace(nullptr);
    return S_OK;
}

STDMETHODIMP CCompositeControl::EnumVerbs(IEnumOLEVERB** verbs) {
    if (!verbs) return E_POINTER;
    *verbs = nullptr;
    return OLE_S_USEREG;
}

STDMETHODIMP CCompositeControl::Update() {
    return S_OK;
}
STDMETHODIMP CCompositeControl::IsUpToDate() {
    return S_OK;
}

STDMETHODIMP CCompositeControl::GetUserClassID(CLSID* clsid) {
    if (!clsid) return E_POINTER;
    *clsid = m_clsid;
    return S_OK;
}

STDMETHODIMP CCompositeControl::GetUserType(DWORD form, LPOLESTR* userType) {
    if (!userType) return E_POINTER;
    return ::OleRegGetUserType(m_clsid, form, userType);
}

STDMETHODIMP CCompositeControl::SetExtent(DWORD aspect, SIZEL* size) {
    if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
    if (!size) return E_POINTER;
    m_sizeExtent = *size;
    SendViewChange();
    return S_OK;
}

STDMETHODIMP CCompositeControl::GetExtent(DWORD aspect, SIZEL* size) {
    if (aspect != DVASPECT_CONTENT) return E_FAIL;
    if (!size) return E_POINTER;
    *size = m_sizeExtent;
    return S_OK;
}

STDMETHODIMP CCompositeControl::Advise(IAdviseSink* sink, DWORD* connection) {
    if (!connection) return E_POINTER;
    *connection = 0;
    if (!m_pOleAdviseHolder) RETURN_IF_FAILED(::CreateOleAdviseHolder(m_pOleAdviseHolder.put()));
    return m_pOleAdviseHolder->Advise(sink, connection);
}

STDMETHODIMP CCompositeControl::Unadvise(DWORD connection) {
    if (!m_pOleAdviseHolder) return OLE_E_NOCONNECTION;
    return m_pOleAdviseHolder->Unadvise(connection);
}

STDMETHODIMP CCompositeControl::EnumAdvise(IEnumSTATDATA** advise) {
    if (!advise) return E_POINTER;
    *advise = nullptr;
    if (!m_pOleAdviseHolder) return S_FALSE;
    return m_pOleAdviseHolder->EnumAdvise(advise);
}

STDMETHODIMP CCompositeControl::GetMiscStatus(DWORD, DWORD* status) {
    if (!status) return E_POINTER;
    *status = MISC_STATUS;
    return S_OK;
}

STDMETHODIMP CCompositeControl::SetColorScheme(LOGPALETTE*) {
    return E_NOTIMPL;
}

// ---------------------------------------------------------------------------------------------
// In-place

STDMETHODIMP CCompositeControl::GetWindow(HWND* hwnd) {
    if (!hwnd) return E_POINTER;
    *hwnd = GetHwnd();
    return *hwnd ? S_OK : E_FAIL;
}

STDMETHODIMP CCompositeControl::ContextSensitiveHelp(BOOL) {
    return E_NOTIMPL;
}

STDMETHODIMP CCompositeControl::InPlaceDeactivate() {
    try {
        if (!m_fInPlaceActive) return S_OK;
        UIDeactivate();
        m_fInPlaceActive = false;
        if (GetHwnd()) ::DestroyWindow(GetHwnd());
        hv::com_ptr<IOleInPlaceSite> site = std::move(m_pInPlaceSite);
        m_pInPlaceFrame.reset();
        m_pInPlaceUIWindow.reset();
        if (site) site->OnInPlaceDeactivate();
        return S_OK;
    }
    CATCH_RETURN();
}

STDMETHODIMP CCompositeControl::UIDeactivate() {
    try {
        if (!m_fUIActive) return S_OK;
        m_fUIActive = false;
        if (m_pInPlaceUIWindow) m_pInPlaceUIWindow->SetActiveObject(nullptr, nullptr);
        if (m_pInPlaceFrame) m_pInPlaceFrame->SetActiveObject(nullptr, nullptr);
        if (m_pInPlaceSite) m_pInPlaceSite->OnUIDeactivate(FALSE);
        return S_OK;
    }
    CATCH_RETURN();
}

STDMETHODIMP CCompositeControl::SetObjectRects(LPCRECT posRect, LPCRECT) {
    if (!posRect) return E_POINTER;
    if (GetHwnd())
        ::SetWindowPos(GetHwnd(), nullptr, posRect->left, posRect->top, posRect->right - posRect->left,
                       posRect->bottom - posRect->top, SWP_NOZORDER | SWP_NOACTIVATE);
    return S_OK;
}

STDMETHODIMP CCompositeControl::ReactivateAndUndo() {
    return E_NOTIMPL;
}

STDMETHODIMP CCompositeControl::TranslateAccelerator(LPMSG msg) {
    // Tab, arrows and mnemonics among the page's own controls.
    if (!msg || !GetHwnd()) return S_FALSE;
    if (msg->message < WM_KEYFIRST || msg->message > WM_KEYLAST) return S_FALSE;
    if (msg->hwnd != GetHwnd() && !::IsChild(GetHwnd(), msg->hwnd)) return S_FALSE;
    return ::IsDialogMessageW(GetHwnd(), msg) ? S_OK : S_FALSE;
}

STDMETHODIMP CCompositeControl::OnFrameWindowActivate(BOOL) {
    return S_OK;
}
STDMETHODIMP CCompositeControl::OnDocWindowActivate(BOOL) {
    return S_OK;
}
STDMETHODIMP CCompositeControl::ResizeBorder(LPCRECT, IOleInPlaceUIWindow*, BOOL) {
    return S_OK;
}
STDMETHODIMP CCompositeControl::EnableModeless(BOOL) {
    return S_OK;
}

// ---------------------------------------------------------------------------------------------
// IOleControl

STDMETHODIMP CCompositeControl::GetControlInfo(CONTROLINFO* info) {
    if (!info) return E_POINTER;
    info->hAccel = nullptr;
    info->cAccel = 0;
    info->dwFlags = 0;
    return S_OK;
}

STDMETHODIMP CCompositeControl::OnMnemonic(MSG*) {
    return S_OK;
}
STDMETHODIMP CCompositeControl::OnAmbientPropertyChange(DISPID) {
    return S_OK;
}
STDMETHODIMP CCompositeControl::FreezeEvents(BOOL) {
    return S_OK;
}

// ---------------------------------------------------------------------------------------------
// IViewObject2

STDMETHODIMP CCompositeControl::Draw(DWORD aspect, LONG, void*, DVTARGETDEVICE*, HDC, HDC draw, LPCRECTL bounds,
                                     LPCRECTL, BOOL(STDMETHODCALLTYPE*)(ULONG_PTR), ULONG_PTR) {
    if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
    if (!draw || !bounds) return E_INVALIDARG;
    RECT rect{bounds->left, bounds->top, bounds->right, bounds->bottom};
    ::FillRect(draw, &rect, ::GetSysColorBrush(COLOR_BTNFACE));
    if (GetHwnd()) {
        // An active page paints itself; this is the picture a container asks for otherwise.
        POINT origin{};
        ::SetViewportOrgEx(draw, rect.left, rect.top, &origin);
        ::SendMessageW(GetHwnd(), WM_PRINT, reinterpret_cast<WPARAM>(draw),
                       PRF_CLIENT | PRF_CHILDREN | PRF_ERASEBKGND | PRF_NONCLIENT);
        ::SetViewportOrgEx(draw, origin.x, origin.y, nullptr);
    }
    return S_OK;
}

STDMETHODIMP CCompositeControl::GetColorSet(DWORD, LONG, void*, DVTARGETDEVICE*, HDC, LOGPALETTE** colors) {
    if (colors) *colors = nullptr;
    return S_FALSE;
}

STDMETHODIMP CCompositeControl::Freeze(DWORD, LONG, void*, DWORD*) {
    return E_NOTIMPL;
}
STDMETHODIMP CCompositeControl::Unfreeze(DWORD) {
    return E_NOTIMPL;
}

STDMETHODIMP CCompositeControl::SetAdvise(DWORD aspects, DWORD flags, IAdviseSink* sink) {
    m_pViewAdviseSink = sink;
    m_dwViewAdviseAspects = aspects;
    m_dwViewAdviseFlags = flags;
    return S_OK;
}

STDMETHODIMP CCompositeControl::GetAdvise(DWORD* aspects, DWORD* flags, IAdviseSink** sink) {
    if (aspects) *aspects = m_dwViewAdviseAspects;
    if (flags) *flags = m_dwViewAdviseFlags;
    if (sink) *sink = m_pViewAdviseSink.copy();
    return S_OK;
}

STDMETHODIMP CCompositeControl::GetExtent(DWORD aspect, LONG, DVTARGETDEVICE*, LPSIZEL size) {
    return GetExtent(aspect, size);
}

// ---------------------------------------------------------------------------------------------
// Persistence

STDMETHODIMP CCompositeControl::GetClassID(CLSID* clsid) {
    if (!clsid) return E_POINTER;
    *clsid = m_clsid;
    return S_OK;
}

STDMETHODIMP CCompositeControl::IsDirty() {
    return S_FALSE;
}
STDMETHODIMP CCompositeControl::Load(LPSTREAM stream) {
    return stream ? S_OK : E_POINTER;
}
STDMETHODIMP CCompositeControl::Save(LPSTREAM stream, BOOL) {
    return stream ? S_OK : E_POINTER;
}

STDMETHODIMP CCompositeControl::GetSizeMax(ULARGE_INTEGER* size) {
    if (!size) return E_POINTER;
    size->QuadPart = 0;
    return S_OK;
}

STDMETHODIMP CCompositeControl::InitNew() {
    return S_OK;
}
STDMETHODIMP CCompositeControl::Load(IPropertyBag* bag, IErrorLog*) {
    return bag ? S_OK : E_POINTER;
}
STDMETHODIMP CCompositeControl::Save(IPropertyBag* bag, BOOL, BOOL) {
    return bag ? S_OK : E_POINTER;
}

// ---------------------------------------------------------------------------------------------
// IQuickActivate

STDMETHODIMP CCompositeControl::QuickActivate(QACONTAINER* container, QACONTROL* control) {
    if (!container || !control) return E_POINTER;
    if (container->cbSize < sizeof(QACONTAINER) || control->cbSize < sizeof(QACONTROL)) return E_INVALIDARG;
    RETURN_IF_FAILED(SetClientSite(container->pClientSite));
    if (container->pAdviseSink) SetAdvise(DVASPECT_CONTENT, 0, container->pAdviseSink);
    control->dwMiscStatus = MISC_STATUS;
    control->dwViewStatus = 0;
    control->dwEventCookie = 0;
    control->dwPropNotifyCookie = 0;
    control->dwPointerActivationPolicy = 0;
    return S_OK;
}

STDMETHODIMP CCompositeControl::SetContentExtent(LPSIZEL size) {
    return SetExtent(DVASPECT_CONTENT, size);
}
STDMETHODIMP CCompositeControl::GetContentExtent(LPSIZEL size) {
    return GetExtent(DVASPECT_CONTENT, size);
}

// ---------------------------------------------------------------------------------------------
// IDataObject

STDMETHODIMP CCompositeControl::GetData(FORMATETC*, STGMEDIUM*) {
    return DV_E_FORMATETC;
}
STDMETHODIMP CCompositeControl::GetDataHere(FORMATETC*, STGMEDIUM*) {
    return DV_E_FORMATETC;
}
STDMETHODIMP CCompositeControl::QueryGetData(FORMATETC*) {
    return DV_E_FORMATETC;
}

STDMETHODIMP CCompositeControl::GetCanonicalFormatEtc(FORMATETC*, FORMATETC* out) {
    if (out) out->ptd = nullptr;
    return DATA_S_SAMEFORMATETC;
}

STDMETHODIMP CCompositeControl::SetData(FORMATETC*, STGMEDIUM*, BOOL) {
    return E_NOTIMPL;
}

STDMETHODIMP CCompositeControl::EnumFormatEtc(DWORD, IEnumFORMATETC** formats) {
    if (formats) *formats = nullptr;
    return OLE_S_USEREG;
}

STDMETHODIMP CCompositeControl::DAdvise(FORMATETC* format, DWORD flags, IAdviseSink* sink, DWORD* connection) {
    if (!connection) return E_POINTER;
    *connection = 0;
    if (!m_pDataAdviseHolder) RETURN_IF_FAILED(::CreateDataAdviseHolder(m_pDataAdviseHolder.put()));
    return m_pDataAdviseHolder->Advise(static_cast<IDataObject*>(this), format, flags, sink, connection);
}

STDMETHODIMP CCompositeControl::DUnadvise(DWORD connection) {
    if (!m_pDataAdviseHolder) return OLE_E_NOCONNECTION;
    return m_pDataAdviseHolder->Unadvise(connection);
}

STDMETHODIMP CCompositeControl::EnumDAdvise(IEnumSTATDATA** advise) {
    if (!advise) return E_POINTER;
    *advise = nullptr;
    if (!m_pDataAdviseHolder) return E_FAIL;
    return m_pDataAdviseHolder->EnumAdvise(advise);
}

// ---------------------------------------------------------------------------------------------
// Description

STDMETHODIMP CCompositeControl::GetClassInfo(ITypeInfo** info) {
    try {
        return LoadTypeInfo(m_clsid, info);
    }
    CATCH_RETURN();
}

STDMETHODIMP CCompositeControl::GetGUID(DWORD kind, GUID* guid) {
    if (!guid) return E_POINTER;
    *guid = GUID_NULL;
    // The page fires no events, so it has no default source interface.
    return kind == GUIDKIND_DEFAULT_SOURCE_DISP_IID ? E_FAIL : E_INVALIDARG;
}

STDMETHODIMP CCompositeControl::GetPages(CAUUID* pages) {
    if (!pages) return E_POINTER;
    pages->cElems = 0;
    pages->pElems = nullptr;
    return S_OK;
}

STDMETHODIMP CCompositeControl::InterfaceSupportsErrorInfo(REFIID iid) {
    return iid == m_defaultIid ? S_OK : S_FALSE;
}
