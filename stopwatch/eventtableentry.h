#pragma once

#include "clock.h"
#include "event.h"

#include <memory>
#include <string>

namespace stopwatch {

// Where the report sends an event's row.
enum ReportMode { ReportNowhere = 0, ReportToStdout = 1, ReportToLog = 2, ReportToBoth = 3 };

// One row of a StopWatch's table: the report mode and the event it owns.
class EventTableEntry {
public:
    // Creates a Delta for type 0, a TimeStamp for type 1; any other type is reported on
    // standard error and leaves the entry without an event.
    EventTableEntry(int type, const std::string& name, const std::string& description, int mode,
                    bool verbose, Clock& clock);

    // The event, or null when the type was unknown. Owned by the entry.
    Event* event() const { return _event.get(); }
    int mode() const { return _mode; }
    void setMode(int mode) { _mode = mode; }

private:
    int _mode;
    std::unique_ptr<Event> _event;
};

}  // namespace stopwatch
