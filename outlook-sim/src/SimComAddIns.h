#pragma once
// Application.COMAddIns and its COMAddIn objects.
#include "outlook-sim/src/SimSession.h"

namespace hvsim {

hv::com_ptr<IDispatch> NewComAddIns(std::shared_ptr<Session> s);
// The add-in at `index` of the model's list.
hv::com_ptr<IDispatch> NewComAddIn(std::shared_ptr<Session> s, size_t index);

}  // namespace hvsim
