#pragma once
// Where the user left the explorer's "Halvane" bar: "CmdBarTop", "CmdBarLeft", "CmdBarPos",
// "CmdBarRowIndex" and "CmdBarVisible". Nothing in the add-in writes them.
#include <windows.h>

#include "common/Config.h"

class CCmdBarState {
public:
    // Fails unless all five values are stored.
    HRESULT Load() {
        CMDBAR_STATE state;
        const HRESULT hr = CConfig().GetCmdBarState(state);
        if (FAILED(hr)) return hr;
        m_nTop = static_cast<LONG>(state.top);
        m_nLeft = static_cast<LONG>(state.left);
        m_nPosition = static_cast<LONG>(state.position);
        m_nRowIndex = static_cast<LONG>(state.rowIndex);
        m_fVisible = state.visible;
        return S_OK;
    }

    LONG m_nTop = -1;
    LONG m_nLeft = -1;
    LONG m_nPosition = -1;
    LONG m_nRowIndex = -1;
    DWORD m_fVisible = 0;
};
