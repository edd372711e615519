# Precompiled headers for the Windows build. Under the cross compiler the Windows, GoogleTest and
# JSON headers cost several seconds to parse per source file, more than most files' own code, and
# the whole build ran into the test budget. Each product library builds one header of its own;
# the test programs share the one built for hv_testmain (same flags), so a one-file program does
# not pay for a header of its own.

# The headers nearly every product file includes: only system headers, so that precompiling
# them changes nothing but the time.
set(HV_PCH_PRODUCT <windows.h> <ole2.h> <oleauto.h> <commctrl.h> <algorithm> <cstdint> <cstring> <functional> <map>
    <memory> <string> <utility> <vector>)
set(HV_PCH_TESTS <winsock2.h> ${HV_PCH_PRODUCT} <gtest/gtest.h> <gmock/gmock.h> <nlohmann/json.hpp> <atomic> <chrono> <thread>)

function(hv_product_pch target)
  target_precompile_headers(${target} PRIVATE ${HV_PCH_PRODUCT})
endfunction()
