#pragma once
// Collapsing and expanding a dialog between a few fixed window sizes. The first size is the
// dialog as its template lays it out; the second ends at the bottom edge of a marker control,
// so that everything below the marker drops out of sight.
#include <windows.h>

class CExpander {
public:
    enum { MAX_SIZES = 5 };

    // Records the full size and the size down to the marker's bottom edge. Call once the
    // dialog exists and before it is resized.
    void RecordSizes(HWND dialog, int markerId) noexcept;
    // Appends one more size; false when the table is full.
    bool AddSize(SIZE size) noexcept;
    // Takes the stored size `index`, keeping position and Z order; false for an unknown index.
    bool ApplySize(HWND dialog, int index) const noexcept;

    int SizeCount() const noexcept { return m_nSizes; }
    SIZE GetSize(int index) const noexcept;

protected:
    SIZE m_sizes[MAX_SIZES] = {};
    int m_nSizes = 0;
};
