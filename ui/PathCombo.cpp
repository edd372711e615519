#include "ui/PathCombo.h"
#include <commctrl.h>
#include "win/Strings.h"

namespace {
constexpr UINT_PTR kSubclassId = 0x4856;  // 'HV'

// Lower case by the rules of the user's code page, so that "É" matches "é" as "D" matches "d".
std::string Lower(std::string text) {
    if (!text.empty()) ::CharLowerBuffA(&text[0], static_cast<DWORD>(text.size()));
    return text;
}
}  // namespace

CPathCombo::~CPathCombo() {
    if (m_hEdit && ::IsWindow(m_hEdit)) ::RemoveWindowSubclass(m_hEdit, &CPathCombo::EditProc, kSubclassId);
}

bool CPathCombo::Subclass(HWND combo) {
    m_hCombo = combo;
    COMBOBOXINFO info = {};
    info.cbSize = sizeof(info);
    if (!combo || !::GetComboBoxInfo(combo, &info) || !info.hwndItem) return false;
    m_hEdit = info.hwndItem;
    return ::SetWindowSubclass(m_hEdit, &CPathCombo::EditProc, kSubclassId, reinterpret_cast<DWORD_PTR>(this)) != FALSE;
}

LRESULT CALLBACK CPathCombo::EditProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                      DWORD_PTR data) noexcept {
    auto* self = reinterpret_cast<CPathCombo*>(data);
    if (msg == WM_NCDESTROY) ::RemoveWindowSubclass(hwnd, &CPathCombo::EditProc, kSubclassId);
    if (self && (msg == WM_KEYDOWN || msg == WM_CHAR)) {
        try {
            if (self->OnKey(msg, wParam)) return 0;
        } catch (...) {
        }
    }
    return ::DefSubclassProc(hwnd, msg, wParam, lParam);
}

bool CPathCombo::OnKey(UINT msg, WPARAM key) {
    if (!m_pPaths) return false;
    if (msg == WM_CHAR) {
        // Typed characters arrive here even when no key-down was seen (text sent by a program).
        m_fFilter = key != VK_BACK;
        return false;
    }
    if (key == VK_DELETE || key == VK_BACK) {
        m_fFilter = false;
        return false;
    }
    m_fFilter = true;
    if (key != VK_DOWN && key != VK_UP) return false;
    if (!::SendMessageW(m_hCombo, CB_GETDROPPEDSTATE, 0, 0)) return false;
    const int count = static_cast<int>(::SendMessageW(m_hCombo, CB_GETCOUNT, 0, 0));
    if (count <= 1) return false;
    int current = static_cast<int>(::SendMessageW(m_hCombo, CB_GETCURSEL, 0, 0));
    int next;
    if (key == VK_DOWN)
        next = (current < 0 || current >= count - 1) ? 0 : current + 1;
    else
        next = current <= 0 ? count - 1 : current - 1;
    ::SendMessageW(m_hCombo, CB_SETCURSEL, static_cast<WPARAM>(next), 0);
    return true;
}

void CPathCombo::OnEditChange() {
    if (!m_fFilter || !m_hCombo) return;
    m_fFilter = false;
    int length = ::GetWindowTextLengthW(m_hCombo);
    std::wstring wide(static_cast<size_t>(length) + 1, L'\0');
    length = ::GetWindowTextW(m_hCombo, &wide[0], length + 1);
    wide.resize(static_cast<size_t>(length > 0 ? length : 0));
    const std::string typed = hv::ToAnsi(wide);

    ::SendMessageW(m_hCombo, CB_RESETCONTENT, 0, 0);
    bool added = false;
    if (!typed.empty() && m_pPaths) {
        const std::string needle = Lower(typed);
        for (const auto& path : *m_pPaths) {
            if (Lower(path->category_name).find(needle) == std::string::npos) continue;
            std::wstring text = hv::ToWide(path->category_name);
            LRESULT index = ::SendMessageW(m_hCombo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
            if (index < 0) continue;
            ::SendMessageW(m_hCombo, CB_SETITEMDATA, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(path.get()));
            added = true;
        }
    }
    if (added && !::SendMessageW(m_hCombo, CB_GETDROPPEDSTATE, 0, 0))
        ::SendMessageW(m_hCombo, CB_SHOWDROPDOWN, TRUE, 0);
    // Emptying and opening the list may have changed the edit: it keeps exactly what was typed,
    // caret at its end.
    ::SendMessageW(m_hCombo, CB_SETEDITSEL, 0, MAKELPARAM(0, -1));
    if (m_hEdit) {
        ::SendMessageW(m_hEdit, EM_SCROLLCARET, 0, 0);
        ::SendMessageW(m_hEdit, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(wide.c_str()));
    }
}

CUserPath* CPathCombo::SelectedPath() const {
    if (!m_hCombo) return nullptr;
    LRESULT index = ::SendMessageW(m_hCombo, CB_GETCURSEL, 0, 0);
    if (index < 0) return nullptr;
    LRESULT data = ::SendMessageW(m_hCombo, CB_GETITEMDATA, static_cast<WPARAM>(index), 0);
    if (data == CB_ERR) return nullptr;
    return reinterpret_cast<CUserPath*>(data);
}
