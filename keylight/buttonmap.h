// The table of the panel's buttons, by id in ascending order, and what owns the buttons.
#pragma once

#include <map>
#include <memory>
#include <vector>

#include "ibutton.h"

namespace keylight {

// A view: a copy of the map copies the pointers only. The buttons belong to the OwnedButtons
// that PanelMapBuilder::buildMap returned with the map, which must outlive every copy in use.
using ButtonMap = std::map<int, IButton*>;

using OwnedButtons = std::vector<std::unique_ptr<IButton>>;

}  // namespace keylight
