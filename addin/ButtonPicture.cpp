#include "addin/ButtonPicture.h"

#include "win/Strings.h"

CButtonPicture::CButtonPicture(UINT bitmapId) {
    HBITMAP bitmap = ::LoadBitmapW(hv::ThisModule(), MAKEINTRESOURCEW(bitmapId));
    if (!bitmap) {
        m_hr = HRESULT_FROM_WIN32(::GetLastError());
        if (SUCCEEDED(m_hr)) m_hr = E_FAIL;
        return;
    }
    PICTDESC desc = {};
    desc.cbSizeofstruct = sizeof(desc);
    desc.picType = PICTYPE_BITMAP;
    desc.bmp.hbitmap = bitmap;
    desc.bmp.hpal = nullptr;
    m_hr = ::OleCreatePictureIndirect(&desc, IID_IPictureDisp, TRUE, m_pPicture.put_void());
    if (FAILED(m_hr)) ::DeleteObject(bitmap);
}
