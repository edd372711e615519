#pragma once
// The MAPI NameSpace.
#include "outlook-sim/src/SimSession.h"

namespace hvsim {

hv::com_ptr<IDispatch> NewNamespace(std::shared_ptr<Session> s);

}  // namespace hvsim
