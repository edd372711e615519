#include "ui/Banner.h"
#include "ui/UiRes.h"
#include "win/Strings.h"

void CBanner::Attach(HWND dialog, int placeholderId) {
    HWND place = ::GetDlgItem(dialog, placeholderId);
    if (place) {
        ::GetWindowRect(place, &m_rcPlace);
        ::MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&m_rcPlace), 2);
        ::ShowWindow(place, SW_HIDE);
    }
    m_hBitmap.reset(static_cast<HBITMAP>(
        ::LoadImageW(hv::ThisModule(), MAKEINTRESOURCEW(IDB_BANNER), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION)));
}

void CBanner::Paint(HWND dialog) {
    PAINTSTRUCT ps;
    HDC dc = ::BeginPaint(dialog, &ps);
    if (dc && m_hBitmap) {
        BITMAP bm = {};
        ::GetObjectW(m_hBitmap.get(), sizeof(bm), &bm);
        hv::unique_hdc mem(::CreateCompatibleDC(dc));
        if (mem) {
            HGDIOBJ old = ::SelectObject(mem.get(), m_hBitmap.get());
            // Drawn at its own size from the placeholder's corner; magenta lets the face show.
            ::TransparentBlt(dc, m_rcPlace.left, m_rcPlace.top, bm.bmWidth, bm.bmHeight, mem.get(), 0, 0, bm.bmWidth,
                             bm.bmHeight, RGB(255, 0, 255));
            ::SelectObject(mem.get(), old);
        }
    }
    ::EndPaint(dialog, &ps);
}
