#include "ui/ClipBack.h"

#include <cstring>

namespace {

// Formats that are not plain memory, or that the system makes from others.
bool Skipped(UINT format) {
    switch (format) {
        case CF_BITMAP:
        case CF_METAFILEPICT:
        case CF_PALETTE:
        case CF_OWNERDISPLAY:
        case CF_DSPBITMAP:
        case CF_DSPMETAFILEPICT:
            return true;
        default:
            return format >= 0x200 && format <= 0x2FF;  // private and GDI-object ranges
    }
}

HANDLE CopyGlobal(HANDLE source) {
    const SIZE_T size = ::GlobalSize(source);
    const void* from = ::GlobalLock(source);
    if (!from) return nullptr;
    HGLOBAL copy = ::GlobalAlloc(GMEM_MOVEABLE | GMEM_SHARE, size ? size : 1);
    void* to = copy ? ::GlobalLock(copy) : nullptr;
    if (to) {
        std::memcpy(to, from, size);
        ::GlobalUnlock(copy);
    } else if (copy) {
        ::GlobalFree(copy);
        copy = nullptr;
    }
    ::GlobalUnlock(source);
    return copy;
}

}  // namespace

CClipData::~CClipData() {
    if (!m_hData || m_fHandedOver) return;
    if (m_nFormat == CF_ENHMETAFILE || m_nFormat == CF_DSPENHMETAFILE)
        ::DeleteEnhMetaFile(static_cast<HENHMETAFILE>(m_hData));
    else
        ::GlobalFree(m_hData);
}

CClipBack::CClipBack() {
    if (!::OpenClipboard(nullptr)) return;
    for (UINT format = ::EnumClipboardFormats(0); format != 0; format = ::EnumClipboardFormats(format)) {
        if (Skipped(format)) continue;
        HANDLE data = ::GetClipboardData(format);
        if (!data) continue;
        auto entry = std::make_unique<CClipData>();
        entry->m_nFormat = format;
        if (format > CF_ENHMETAFILE) {
            char name[101] = {};
            if (::GetClipboardFormatNameA(format, name, sizeof(name)) > 0) entry->m_strName = name;
        }
        if (format == CF_ENHMETAFILE || format == CF_DSPENHMETAFILE)
            entry->m_hData = ::CopyEnhMetaFileA(static_cast<HENHMETAFILE>(data), nullptr);
        else
            entry->m_hData = CopyGlobal(data);
        if (entry->m_hData) m_entries.push_back(std::move(entry));
    }
    ::CloseClipboard();
}

CClipBack::~CClipBack() = default;

bool CClipBack::Restore() {
    if (!::OpenClipboard(nullptr)) return false;
    ::EmptyClipboard();
    for (auto& entry : m_entries) {
        if (!entry->m_hData || entry->m_fHandedOver) continue;
        UINT format = entry->m_nFormat;
        if (!entry->m_strName.empty()) {
            const UINT registered = ::RegisterClipboardFormatA(entry->m_strName.c_str());
            if (registered) format = registered;
        }
        if (::SetClipboardData(format, entry->m_hData)) entry->m_fHandedOver = true;
    }
    ::CloseClipboard();
    return true;
}
