#pragma once
// A series' RecurrencePattern, with its Exceptions and their Exception objects.
#include "outlook-sim/src/SimSession.h"

namespace hvsim {

// The pattern of `series`, seen from an item object that holds the series' version `snapshot`:
// the occurrences and exceptions it gives are copies over that version.
hv::com_ptr<IDispatch> NewRecurrencePattern(std::shared_ptr<Session> s, std::shared_ptr<ItemData> series,
                                            long snapshot);

}  // namespace hvsim
