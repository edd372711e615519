#include "sync/Expander.h"

void CExpander::RecordSizes(HWND dialog, int markerId) noexcept {
    m_nSizes = 0;
    RECT window{};
    if (!::GetWindowRect(dialog, &window)) return;
    AddSize(SIZE{window.right - window.left, window.bottom - window.top});

    HWND marker = ::GetDlgItem(dialog, markerId);
    RECT rcMarker{};
    if (!marker || !::GetWindowRect(marker, &rcMarker)) return;
    // The frame below the client area stays, so the marker ends up at the client's bottom.
    RECT client{};
    ::GetClientRect(dialog, &client);
    POINT bottom{0, client.bottom};
    ::ClientToScreen(dialog, &bottom);
    const LONG frame = window.bottom - bottom.y;
    AddSize(SIZE{window.right - window.left, rcMarker.bottom - window.top + frame});
}

bool CExpander::AddSize(SIZE size) noexcept {
    if (m_nSizes >= MAX_SIZES) return false;
    m_sizes[m_nSizes++] = size;
    return true;
}

bool CExpander::ApplySize(HWND dialog, int index) const noexcept {
    if (index < 0 || index >= m_nSizes) return false;
    ::SetWindowPos(dialog, nullptr, 0, 0, m_sizes[index].cx, m_sizes[index].cy,
                   SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    ::InvalidateRect(dialog, nullptr, TRUE);
    ::UpdateWindow(dialog);
    return true;
}

SIZE CExpander::GetSize(int index) const noexcept {
    if (index < 0 || index >= m_nSizes) return SIZE{0, 0};
    return m_sizes[index];
}
