#pragma once
// An item's Recipients collection and its Recipient objects.
#include "outlook-sim/src/SimSession.h"

namespace hvsim {

hv::com_ptr<IDispatch> NewRecipients(std::shared_ptr<ItemData> item);

}  // namespace hvsim
