// The test options page (HvSimTest.OptionsPage).
#include <windows.h>
#include <objbase.h>

namespace hvsimtest {
IUnknown* CreateTestOptionsPage() {
    return nullptr;
}
}  // namespace hvsimtest
