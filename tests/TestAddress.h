// Loopback addresses of the test programs. Each build tree gets a /24 of its own inside
// 127.0.0.0/8 (HV_LOOPBACK_NET, set by ctest from a hash of the build directory), so two
// checkouts on one machine can run their tests at the same time without meeting on port 80.
#pragma once
#include <cstdlib>
#include <string>

namespace hvtest {

inline std::string LoopbackNet() {
    const char* net = std::getenv("HV_LOOPBACK_NET");
    return net && *net ? net : "127.0.0";
}

// 127.<a>.<b>.<host> of this build tree; host is the last octet the test program was given.
inline std::string Loopback(int host) {
    return LoopbackNet() + "." + std::to_string(host);
}

}  // namespace hvtest
