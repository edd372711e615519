#pragma once
// "Sync with HV": synchronises the selected tasks or appointments of the current folder, or
// everything when nothing is selected.
#include "addin/CmdBtn.h"

class CSyncBtn : public CCmdBtn {
public:
    CSyncBtn(UINT captionId, UINT faceId, UINT maskId) noexcept : CCmdBtn(captionId, faceId, maskId) {}
    HRESULT OnClick() override;

    // What the last click asked of the synchronisation (tests read it).
    long m_nLastScope = 0;
    long m_nLastKinds = 0;
    long m_nLastCount = 0;
};
