#pragma once
// An item's UserProperties collection and its UserProperty objects.
#include "outlook-sim/src/SimSession.h"

namespace hvsim {

// The UserProperties of `item` (of an occurrence, pass its series: occurrences have none of
// their own).
hv::com_ptr<IDispatch> NewUserProperties(std::shared_ptr<Session> s, std::shared_ptr<ItemData> item);

}  // namespace hvsim
