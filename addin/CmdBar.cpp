#include "addin/CmdBar.h"

#include <cstring>

#include "addin/CmdBtn.h"
#include "common/DiagLog.h"
#include "common/Registration.h"
#include "ui/ClipBack.h"
#include "win/Dispatcher.h"
#include "win/Errors.h"
#include "win/Strings.h"
#include "win/UniqueAny.h"

namespace {

hv::com_ptr<IDispatch> GetObject(IDispatch* object, const wchar_t* name) {
    hv::unique_variant value;
    THROW_IF_FAILED(CDispatcher::GetProperty(object, name, value.put()));
    THROW_HR_IF(E_POINTER, !value.AsDispatch());
    return hv::com_ptr<IDispatch>(value.AsDispatch());
}

void Put(IDispatch* object, const wchar_t* name, hv::unique_variant value) {
    THROW_IF_FAILED(CDispatcher::PutProperty(object, name, &value));
}

// A packed DIB (header, colours, bits) of a bitmap, in a movable global block.
HGLOBAL PackedDib(HBITMAP bitmap, WORD bits) {
    BITMAP info = {};
    if (!::GetObjectW(bitmap, sizeof(info), &info)) return nullptr;
    const DWORD colours = bits <= 8 ? (1u << bits) : 0;
    const DWORD stride = ((info.bmWidth * bits + 31) / 32) * 4;
    const DWORD imageSize = stride * info.bmHeight;
    const SIZE_T size = sizeof(BITMAPINFOHEADER) + colours * sizeof(RGBQUAD) + imageSize;
    HGLOBAL block = ::GlobalAlloc(GMEM_MOVEABLE | GMEM_SHARE, size);
    if (!block) return nullptr;
    auto* header = static_cast<BITMAPINFO*>(::GlobalLock(block));
    if (!header) {
        ::GlobalFree(block);
        return nullptr;
    }
    std::memset(header, 0, size);
    header->bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    header->bmiHeader.biWidth = info.bmWidth;
    header->bmiHeader.biHeight = info.bmHeight;
    header->bmiHeader.biPlanes = 1;
    header->bmiHeader.biBitCount = bits;
    header->bmiHeader.biCompression = BI_RGB;
    header->bmiHeader.biSizeImage = imageSize;
    header->bmiHeader.biClrUsed = colours;
    BYTE* pixels = reinterpret_cast<BYTE*>(header) + sizeof(BITMAPINFOHEADER) + colours * sizeof(RGBQUAD);
    HDC screen = ::GetDC(nullptr);
    const int lines = ::GetDIBits(screen, bitmap, 0, info.bmHeight, pixels, header, DIB_RGB_COLORS);
    ::ReleaseDC(nullptr, screen);
    ::GlobalUnlock(block);
    if (lines == 0) {
        ::GlobalFree(block);
        return nullptr;
    }
    return block;
}

HGLOBAL CopyBlock(HGLOBAL source) {
    const SIZE_T size = ::GlobalSize(source);
    HGLOBAL copy = ::GlobalAlloc(GMEM_MOVEABLE | GMEM_SHARE, size);
    if (!copy) return nullptr;
    void* to = ::GlobalLock(copy);
    const void* from = ::GlobalLock(source);
    if (to && from) std::memcpy(to, from, size);
    if (from) ::GlobalUnlock(source);
    if (to) ::GlobalUnlock(copy);
    return copy;
}

}  // namespace

CCmdBar::~CCmdBar() {
    if (m_pBar) {
        CDispatcher::CallMethod(m_pBar.get(), L"Delete", nullptr, 0, nullptr);
        m_pBar.reset();
    }
    for (CCmdBtn* button : m_buttons) {
        button->Disconnect();
        button->Release();
    }
    m_buttons.clear();
}

HRESULT CCmdBar::Create(IDispatch* window, const std::string& name) try {
    if (!window || name.empty()) return E_INVALIDARG;
    m_pWindow = window;
    m_strName = name;
    hv::com_ptr<IDispatch> bars = GetObject(window, L"CommandBars");
    hv::unique_variant bar;
    hv::unique_variant nameArg = hv::unique_variant::FromString(name);
    if (FAILED(CDispatcher::CallMethod(bars.get(), L"Item", bar.put(), 1, &nameArg)) || !bar.AsDispatch()) {
        // Name, Position msoBarTop, MenuBar false, Temporary true (reversed for Invoke).
        hv::unique_variant args[4] = {hv::unique_variant::FromBool(true), hv::unique_variant::FromBool(false),
                                      hv::unique_variant::FromLong(1), hv::unique_variant::FromString(name)};
        bar.reset();
        if (FAILED(CDispatcher::CallMethod(bars.get(), L"Add", bar.put(), 4, args)) || !bar.AsDispatch()) return E_FAIL;
    }
    m_pBar = bar.AsDispatch();
    return S_OK;
}
CATCH_RETURN()

HRESULT CCmdBar::AddButton(CCmdBtn* button, BOOL inspector) {
    CLogBlock block("COutAddIn::AddButton");
    try {
        if (!m_pBar || !button) return E_INVALIDARG;
        button->AddRef();
        m_buttons.push_back(button);
        if (inspector) {
            hv::unique_variant wordMail;
            if (SUCCEEDED(CDispatcher::CallMethod(m_pWindow.get(), L"IsWordMail", wordMail.put(), 0, nullptr)) &&
                !wordMail.IsEmpty() && wordMail.AsBool())
                m_fWordMail = true;
        }
        hv::com_ptr<IDispatch> controls = GetObject(m_pBar.get(), L"Controls");
        const std::string caption = hv::LoadResString(button->m_nCaptionId);
        THROW_HR_IF(E_INVALIDARG, caption.empty());
        hv::unique_variant control;
        hv::unique_variant captionArg = hv::unique_variant::FromString(caption);
        if (SUCCEEDED(CDispatcher::CallMethod(controls.get(), L"Item", control.put(), 1, &captionArg)) &&
            control.AsDispatch()) {
            THROW_IF_FAILED(button->TagIt(control.AsDispatch(), button->m_strTag));
        } else {
            control.reset();
            hv::unique_variant type = hv::unique_variant::FromLong(1);  // msoControlButton
            THROW_IF_FAILED(CDispatcher::CallMethod(controls.get(), L"Add", control.put(), 1, &type));
            THROW_HR_IF(E_POINTER, !control.AsDispatch());
            const bool paste = CRegistration::VersionBelow(CRegistration::OutlookVersion(), "11") || m_fWordMail;
            SetUpControl(control.AsDispatch(), button, caption, paste);
        }
        THROW_IF_FAILED(button->Connect(control.AsDispatch()));
        button->m_pWindow = m_pWindow;
        button->m_fInspectorButton = inspector ? 1 : 0;
        return S_OK;
    } catch (...) {
        return hv::ResultFromCaughtException();
    }
}

void CCmdBar::SetUpControl(IDispatch* control, CCmdBtn* button, const std::string& caption, bool pasteFace) {
    Put(control, L"Caption", hv::unique_variant::FromString(caption));
    Put(control, L"Style", hv::unique_variant::FromLong(3));  // msoButtonIconAndCaption
    if (!button->m_strTag.empty()) Put(control, L"Tag", hv::unique_variant::FromString(button->m_strTag));
    if (pasteFace) {
        PasteFace(control, button);
    } else {
        button->m_pFace = std::make_unique<CButtonPicture>(button->m_nFaceId);
        button->m_pMask = std::make_unique<CButtonPicture>(button->m_nMaskId);
        THROW_IF_FAILED(button->m_pFace->Result());
        THROW_IF_FAILED(button->m_pMask->Result());
        Put(control, L"Picture", hv::unique_variant::FromDispatch(button->m_pFace->Get()));
        Put(control, L"Mask", hv::unique_variant::FromDispatch(button->m_pMask->Get()));
    }
    Put(control, L"Visible", hv::unique_variant::FromLong(1));
}

void CCmdBar::PasteFace(IDispatch* control, CCmdBtn* button) {
    CClipBack backup;
    hv::unique_hbitmap face(static_cast<HBITMAP>(
        ::LoadImageW(hv::ThisModule(), MAKEINTRESOURCEW(button->m_nFaceId), IMAGE_BITMAP, 0, 0, LR_LOADMAP3DCOLORS)));
    THROW_HR_IF(E_FAIL, !face);
    BITMAP info = {};
    THROW_HR_IF(E_FAIL, !::GetObjectW(face.get(), sizeof(info), &info));

    // The mask: white where the face has the colour of its top-left pixel, black elsewhere.
    hv::unique_hbitmap mask(::CreateBitmap(info.bmWidth, info.bmHeight, 1, 1, nullptr));
    THROW_HR_IF(E_FAIL, !mask);
    {
        hv::unique_hdc faceDc(::CreateCompatibleDC(nullptr));
        hv::unique_hdc maskDc(::CreateCompatibleDC(nullptr));
        HGDIOBJ oldFace = ::SelectObject(faceDc.get(), face.get());
        HGDIOBJ oldMask = ::SelectObject(maskDc.get(), mask.get());
        const COLORREF background = ::GetPixel(faceDc.get(), 0, 0);
        for (int y = 0; y < info.bmHeight; ++y)
            for (int x = 0; x < info.bmWidth; ++x)
                ::SetPixel(maskDc.get(), x, y,
                           ::GetPixel(faceDc.get(), x, y) == background ? RGB(255, 255, 255) : RGB(0, 0, 0));
        ::SelectObject(faceDc.get(), oldFace);
        ::SelectObject(maskDc.get(), oldMask);
    }
    hv::unique_hglobal faceDib(PackedDib(face.get(), 24));
    hv::unique_hglobal faceCopy(faceDib ? CopyBlock(faceDib.get()) : nullptr);
    hv::unique_hglobal maskDib(PackedDib(mask.get(), 1));
    THROW_HR_IF(E_OUTOFMEMORY, !faceDib || !faceCopy || !maskDib);

    THROW_HR_IF(E_FAIL, !::OpenClipboard(nullptr));
    ::EmptyClipboard();
    const UINT faceFormat = ::RegisterClipboardFormatA("Toolbar Button Face");
    const UINT maskFormat = ::RegisterClipboardFormatA("Toolbar Button Mask");
    // The clipboard owns what it accepted.
    if (::SetClipboardData(CF_DIB, faceDib.get())) faceDib.release();
    if (faceFormat && ::SetClipboardData(faceFormat, faceCopy.get())) faceCopy.release();
    if (maskFormat && ::SetClipboardData(maskFormat, maskDib.get())) maskDib.release();
    ::CloseClipboard();
    const HRESULT pasted = CDispatcher::CallMethod(control, L"PasteFace", nullptr, 0, nullptr);
    backup.Restore();
    THROW_IF_FAILED(pasted);
}

HRESULT CCmdBar::SetVisibility(const char* controlName, BOOL visible) {
    CLogBlock block("COutAddIn::SetVisibility");
    try {
        THROW_HR_IF(E_INVALIDARG, !m_pBar);
        if (!controlName) {
            Put(m_pBar.get(), L"Visible", hv::unique_variant::FromLong(visible ? 1 : 0));
        } else {
            hv::com_ptr<IDispatch> controls = GetObject(m_pBar.get(), L"Controls");
            hv::unique_variant name = hv::unique_variant::FromString(controlName);
            hv::unique_variant control;
            THROW_IF_FAILED(CDispatcher::CallMethod(controls.get(), L"Item", control.put(), 1, &name));
            THROW_HR_IF(E_POINTER, !control.AsDispatch());
            Put(control.AsDispatch(), L"Visible", hv::unique_variant::FromLong(visible ? 1 : 0));
        }
        return S_OK;
    } catch (...) {
        return hv::ResultFromCaughtException();
    }
}

HRESULT CCmdBar::Render(const CCmdBarState& state) {
    CLogBlock block("COutAddIn::Render");
    try {
        THROW_HR_IF(E_INVALIDARG, !m_pBar);
        Put(m_pBar.get(), L"Top", hv::unique_variant::FromLong(state.m_nTop));
        Put(m_pBar.get(), L"Left", hv::unique_variant::FromLong(state.m_nLeft));
        Put(m_pBar.get(), L"Position", hv::unique_variant::FromLong(state.m_nPosition));
        Put(m_pBar.get(), L"RowIndex", hv::unique_variant::FromLong(state.m_nRowIndex));
        Put(m_pBar.get(), L"Visible", hv::unique_variant::FromLong(0));
        return S_OK;
    } catch (...) {
        return hv::ResultFromCaughtException();
    }
}

void CCmdBar::DisconnectButtons() {
    for (CCmdBtn* button : m_buttons) button->Disconnect();
}
