#include "panelmapbuilder.h"

#include <cstdio>

#include "buttontesserax.h"

namespace keylight {

namespace {

constexpr int kButtonCount = 24;

bool isKnownPanelType(int type) { return type == 3 || type == 4 || type == 5; }

}  // namespace

PanelMapBuilder::PanelMapBuilder(int panelType) : _panel_type(panelType) {}

void PanelMapBuilder::buildMap(ButtonMap& out, FPGA* fpga) {
    if (!isKnownPanelType(_panel_type)) {
        printf("Error: Panel type is invalid - should be Mosaic/Lattice/Tessera");
        return;
    }
    ButtonMap built;
    for (int id = 0; id < kButtonCount; ++id) {
        addButton(built, id, new Button_TesseraX(id, fpga));
    }
    out = built;
}

void PanelMapBuilder::addButton(ButtonMap& map, int id, IButton* button) {
    const auto found = map.find(id);
    if (found == map.end()) {
        map.emplace(id, button);
    } else if (found->second != button) {
        printf("error: overwriting exiting button, id = %d\n", id);
    }
}

}  // namespace keylight
