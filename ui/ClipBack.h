#pragma once
// Saves the whole clipboard and puts it back, so that code which has to pass pictures through
// the clipboard (pasting a command-bar button face) leaves the user's clipboard as it was.
#include <windows.h>
#include <memory>
#include <string>
#include <vector>

// One clipboard format and an owned copy of its data.
class CClipData {
public:
    CClipData() = default;
    ~CClipData();
    CClipData(const CClipData&) = delete;
    CClipData& operator=(const CClipData&) = delete;

    UINT m_nFormat = 0;
    std::string m_strName;  // the registered name (at most 100 bytes); empty for standard formats
    HANDLE m_hData = nullptr;
    bool m_fHandedOver = false;  // the clipboard owns the data now
};

class CClipBack {
public:
    // Takes the backup.
    CClipBack();
    ~CClipBack();
    CClipBack(const CClipBack&) = delete;
    CClipBack& operator=(const CClipBack&) = delete;

    // Empties the clipboard and puts every saved format back; false when it cannot be opened.
    bool Restore();

    const std::vector<std::unique_ptr<CClipData>>& Entries() const noexcept { return m_entries; }

private:
    std::vector<std::unique_ptr<CClipData>> m_entries;
};
