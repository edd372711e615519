#pragma once
// The protocol object of the add-in: logs the user in with the stored credentials silently,
// and shows the login dialog when there are none or the service rejects them.
#include <windows.h>
#include "service/Protocol.h"

class CProtocolUI : public CProtocol {
public:
    explicit CProtocolUI(LONG_PTR owner = 0, HWND parent = nullptr) noexcept : CProtocol(owner), m_hParent(parent) {}

    // 0 when logged in, HV_E_LOGIN_CANCELLED (the failure whose code is ERROR_CANCELLED, 1223)
    // when the user gave up, else a connection failure.
    HRESULT LoginUser(CCredentials* credentials, long itemClass) override;

    HWND m_hParent;  // owner window of the login dialog
};
