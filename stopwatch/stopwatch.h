#pragma once

// Named wall-clock timings in a bounded table, reported as fixed-width text tables on standard
// output, in a log file, or both.
//
// A caller adds an event, keeps the returned pointer (owned by the StopWatch) and calls start()
// and stop() on it around the code to be timed. Failures are reported as text on standard error
// and through the results; nothing ends the process. No locking: a StopWatch and its events
// belong to one thread.

#include "clock.h"
#include "delta.h"
#include "event.h"
#include "eventtableentry.h"
#include "timestamp.h"

#include <fstream>
#include <memory>
#include <string>
#include <vector>

namespace stopwatch {

class StopWatch {
public:
    // Holds up to maximumEvents events (none when it is 0 or less). A non-empty logFileName
    // is opened for writing with truncation; a failed open leaves the log silently unusable.
    StopWatch(int maximumEvents, const std::string& logFileName, bool verbose,
              Clock& clock = systemClock());
    // Reports when asked to (setReportOnDestruction), closes the log and deletes the events.
    ~StopWatch();

    StopWatch(const StopWatch&) = delete;
    StopWatch& operator=(const StopWatch&) = delete;

    // Adds a Delta (type 0) or TimeStamp (type 1) reported by mode. Returns the new event, or
    // null when the table is full or the type is unknown. Without a log file the mode
    // becomes 1 (standard output).
    Event* addEvent(const std::string& name, const std::string& description, int type, int mode,
                    bool verbose);
    // Closes the current log file and opens name with truncation. False for an empty name
    // and when the file cannot be opened (the name is taken all the same).
    bool setLogFile(const std::string& name);
    // Sets the mode of the first event called name. False without a log file or a match.
    bool setLogMode(const std::string& name, int mode);
    // Sets the mode of the first event with event's name and description. Modes 2 and 3 need
    // a log file. False for a null event or no match.
    bool setLogMode(const Event* event, int mode);
    // Deletes the first event called name. False when there is none.
    bool deleteEvent(const std::string& name);
    // Deletes the first event with event's name and description. False for a null event or
    // no match; event must not be used afterwards when true.
    bool deleteEvent(const Event* event);

    // Makes the destructor print the report.
    void setReportOnDestruction(bool on) { _report_on_destruction = on; }

private:
    void report();
    void reportPass(int type);
    // Index of the first entry whose event matches, warning about entries without event.
    int findEntry(const std::string& name, const std::string* description) const;

    bool _verbose;
    int _maximum_events;
    std::string _log_file_name;
    std::ofstream _log;
    std::vector<std::unique_ptr<EventTableEntry>> _table;
    bool _report_on_destruction = false;
    Clock& _clock;
};

}  // namespace stopwatch
