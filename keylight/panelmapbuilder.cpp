#include "panelmapbuilder.h"

#include <cstdio>
#include <memory>

#include "buttontesserax.h"
#include "panel.h"
#include "registers.h"

namespace keylight {

namespace {

bool isKnownPanelType(int type) {
    return type == 3 || type == 4 || type == 5;
}

}  // namespace

PanelMapBuilder::PanelMapBuilder(int panelType) : _panel_type(panelType) {}

OwnedButtons PanelMapBuilder::buildMap(ButtonMap& out, FPGA* fpga) {
    if (!isKnownPanelType(_panel_type)) {
        log_printf(log_priority::err,
                   "Error: Panel type is invalid - should be Mosaic/Lattice/Tessera");
        return {};
    }
    OwnedButtons buttons;
    ButtonMap built;
    for (int id = 0; id < BUTTON_COUNT; ++id) {
        buttons.push_back(std::make_unique<Button_TesseraX>(id, fpga));
        addButton(built, id, buttons.back().get());
    }
    out = built;
    return buttons;
}

void PanelMapBuilder::addButton(ButtonMap& map, int id, IButton* button) {
    const auto found = map.find(id);
    if (found == map.end()) {
        map.emplace(id, button);
    } else if (found->second != button) {
        log_printf(log_priority::err, "error: overwriting exiting button, id = %d\n", id);
    }
}

}  // namespace keylight
