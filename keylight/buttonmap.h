// The table of the panel's buttons, by id in ascending order.
#pragma once

#include <map>

#include "ibutton.h"

namespace keylight {

// Non-owning: start-up owns the buttons and deletes them after the event loop has ended;
// a copy of the map copies the pointers only.
using ButtonMap = std::map<int, IButton*>;

}  // namespace keylight
