#pragma once
// "Add to HV": sends the open item, or the explorer's selection, to Halvane through the Add
// Item dialog; a recurring appointment goes through a synchronisation run.
#include "addin/CmdBtn.h"

class CAddBtn : public CCmdBtn {
public:
    CAddBtn(UINT captionId, UINT faceId, UINT maskId) noexcept : CCmdBtn(captionId, faceId, maskId) {}
    HRESULT OnClick() override;
};
