// Builds the button table of the panel. The layout is fixed in code: every accepted panel
// type has buttons 0 to 23.
#pragma once

#include "buttonmap.h"

namespace keylight {

class FPGA;

class PanelMapBuilder {
public:
    // Panel type codes 3, 4 and 5 (Mosaic, Lattice, Tessera) are accepted; start-up uses 5.
    explicit PanelMapBuilder(int panelType = 5);

    // Replaces the contents of out with buttons 0 to 23 and returns them: out only points to
    // them. An unknown panel type prints an error, leaves out as it was and returns none.
    [[nodiscard]] OwnedButtons buildMap(ButtonMap& out, FPGA* fpga);

    // Inserts button under id unless the id is taken; a different button under a taken id is
    // reported and not inserted. The map does not own button.
    void addButton(ButtonMap& map, int id, IButton* button);

private:
    int _panel_type;
};

}  // namespace keylight
