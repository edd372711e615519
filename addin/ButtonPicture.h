#pragma once
// A button picture for a command-bar control: a bitmap resource of the add-in library wrapped
// as an IPictureDisp (the picture owns the bitmap).
#include <windows.h>
#include <ocidl.h>
#include <olectl.h>

#include "win/ComPtr.h"

class CButtonPicture {
public:
    explicit CButtonPicture(UINT bitmapId);
    CButtonPicture(const CButtonPicture&) = delete;
    CButtonPicture& operator=(const CButtonPicture&) = delete;

    IPictureDisp* Get() const noexcept { return m_pPicture.get(); }
    HRESULT Result() const noexcept { return m_hr; }

private:
    hv::com_ptr<IPictureDisp> m_pPicture;
    HRESULT m_hr = E_FAIL;
};
