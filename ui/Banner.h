#pragma once
// The product banner (bitmap 26036) drawn over a hidden placeholder control of a dialog, with
// magenta as the transparent colour.
#include <windows.h>
#include "win/UniqueAny.h"

class CBanner {
public:
    // Hides the placeholder and loads the bitmap.
    void Attach(HWND dialog, int placeholderId);
    // From WM_PAINT of the dialog: paints the dialog's update region and the banner.
    void Paint(HWND dialog);

private:
    RECT m_rcPlace = {};
    hv::unique_hbitmap m_hBitmap;
};
