#pragma once
// An item's Attachments collection and its Attachment objects.
#include "outlook-sim/src/SimSession.h"

namespace hvsim {

hv::com_ptr<IDispatch> NewAttachments(std::shared_ptr<ItemData> item);

}  // namespace hvsim
