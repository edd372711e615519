#pragma once
// WinINet with RAII ownership of its handles.
#include <windows.h>
#include <wininet.h>
#include "win/UniqueAny.h"

namespace hv {
namespace details {
struct close_internet {
    void operator()(HINTERNET h) const noexcept { ::InternetCloseHandle(h); }
};
}  // namespace details
using unique_hinternet = unique_any<HINTERNET, details::close_internet>;
}  // namespace hv
