#pragma once

#include "clock.h"

#include <iosfwd>
#include <string>

namespace stopwatch {

// Type codes of the events, as addEvent takes them.
enum EventType { DeltaType = 0, TimeStampType = 1 };

// A named timing. Progress messages (when verbose) go to standard output, failures to
// standard error. An event is idle until start(), running until a successful stop().
class Event {
public:
    virtual ~Event();

    // Starts timing; ignored while running.
    virtual void start() = 0;
    // Ends timing; ignored while idle. A failed clock read leaves the event running.
    virtual void stop() = 0;
    // Back to the state of a new event.
    virtual void reset() = 0;
    // Writes the header of this kind's table.
    virtual void printHeader(std::ostream& os) = 0;
    // Writes this event's table row, without line end; the header first when the header flag
    // is set.
    virtual void print(std::ostream& os) = 0;

    const std::string& name() const { return _name; }
    const std::string& description() const { return _description; }
    int type() const { return _type; }
    bool isRunning() const { return _running; }

    // Makes the next print() write the table header before the row.
    void setHeaderFlag(bool on) { _header_flag = on; }
    // Makes every successful stop() print the row on standard output.
    void setPrintOnStop(bool on) { _print_on_stop = on; }

protected:
    Event(std::string name, std::string description, int type, bool verbose, Clock& clock);

    // Writes "<label> = <s> seconds, <us> usecs." with a line end to standard output.
    static void printTime(const char* label, const TimeValue& time);
    // Reads the clock into time, announced on standard output first when verbose; when the clock
    // cannot be read, writes failure to standard error and returns false.
    bool readTime(const char* announcement, TimeValue& time, const char* failure);

    bool _verbose;
    std::string _name;
    std::string _description;
    int _type;
    bool _header_flag = false;
    bool _print_on_stop = false;
    bool _running = false;
    Clock& _clock;
};

}  // namespace stopwatch
