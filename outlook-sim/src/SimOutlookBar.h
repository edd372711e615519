#pragma once
// The Outlook Bar as add-ins reach it: Explorer.Panes.Item("OutlookBar").Contents.Groups, with
// groups of shortcuts kept in the profile's model (Model::outlookBarGroups).
#include <windows.h>
#include <oaidl.h>

#include <memory>

#include "win/ComPtr.h"

namespace hvsim {

class Model;

// The explorer's Panes collection ("OutlookBar" only, when the profile has an Outlook Bar).
hv::com_ptr<IDispatch> NewPanes(std::shared_ptr<Model> model, IDispatch* application);

}  // namespace hvsim
