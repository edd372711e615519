#pragma once
// How the simulated Outlook delivers its item events in a test run: HV_TEST_DELIVERY names one
// of the modes below ("sync", Outlook's friendliest order, when unset). The change-driven cases
// run under each of them (scripts/strict-matrix), and a few of them in every run.
#include <cstdlib>
#include <string>
#include <vector>

#include "outlook-sim/src/SimOutlook.h"

namespace hvtest {

// "sync": at once, once. "async": from the message loop, after the call that caused them.
// "twice": "ItemChange" twice for one save. "late": one more "ItemChange" 300 ms after each
// save, as cached mode gives. "close-after": an inspector's "Close" after its save and
// "ItemChange" (the default is before).
inline std::vector<std::string> DeliveryModes() {
    return {"sync", "async", "twice", "late", "close-after"};
}

inline std::string TestDelivery() {
    const char* v = std::getenv("HV_TEST_DELIVERY");
    return v && *v ? std::string(v) : std::string("sync");
}

// Sets the simulator's delivery to `mode`; false for a name it does not know.
inline bool ApplyDelivery(hvsim::EventDelivery& d, const std::string& mode) {
    d = hvsim::EventDelivery();
    if (mode == "async")
        d.asynchronous = true;
    else if (mode == "twice")
        d.itemChangeTwice = true;
    else if (mode == "late")
        d.lateItemChangeMs = 300;
    else if (mode == "close-after")
        d.closeAfterWrite = true;
    else if (mode != "sync")
        return false;
    return true;
}

// Runs the message loop until the simulator has no event left to deliver (asynchronous or late
// ones); false if some are still due after `timeoutMs`.
inline bool SettleEvents(hvsim::SimOutlook& outlook, unsigned long timeoutMs = 10000) {
    return outlook.PumpEventsUntil([&] { return !outlook.EventsPending(); }, timeoutMs);
}

}  // namespace hvtest
