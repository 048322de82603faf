#include "eventtableentry.h"

#include "delta.h"
#include "timestamp.h"

#include <iostream>

namespace stopwatch {

EventTableEntry::EventTableEntry(int type, const std::string& name, const std::string& description,
                                 int mode, bool verbose, Clock& clock)
    : _mode(mode) {
    switch (type) {
    case DeltaType:
        _event = std::make_unique<Delta>(name, description, verbose, clock);
        break;
    case TimeStampType:
        _event = std::make_unique<TimeStamp>(name, description, verbose, clock);
        break;
    default:
        std::cerr << "EventTableEntry():  Unknown Event type '" << type << "'";
        break;
    }
}

}  // namespace stopwatch
