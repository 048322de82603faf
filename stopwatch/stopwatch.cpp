#include "stopwatch.h"

#include <iostream>

namespace stopwatch {

StopWatch::StopWatch(int maximumEvents, const std::string& logFileName, bool verbose, Clock& clock)
    : _verbose(verbose),
      _maximum_events(maximumEvents),
      _log_file_name(logFileName),
      _clock(clock) {
    if (!_log_file_name.empty())
        _log.open(_log_file_name, std::ios::out | std::ios::trunc);
}

StopWatch::~StopWatch() {
    if (_report_on_destruction)
        report();
    if (!_log_file_name.empty())
        _log.close();
    for (const std::unique_ptr<EventTableEntry>& entry : _table) {
        if (_verbose && entry->event() != nullptr)
            std::cout << "Deleting event '" << entry->event()->name() << "' now." << std::endl;
    }
    _table.clear();
}

Event* StopWatch::addEvent(const std::string& name, const std::string& description, int type,
                           int mode, bool verbose) {
    // Compared as int: a maximum of 0 or less means no room at all.
    if (static_cast<int>(_table.size()) >= _maximum_events) {
        if (_verbose) {
            std::cerr << "Cannot add new event.  This would exceed the "
                      << "maximum number of events (" << _maximum_events << ")" << std::endl
                      << "Remove some events using deleteEvent() and try again." << std::endl;
        }
        return nullptr;
    }
    if (_log_file_name.empty()) {
        if (_verbose) {
            std::cerr << "No logfile was specified when creating StopWatch." << std::endl
                      << "Entry '" << name << "' will be created with logging to stdout only."
                      << std::endl;
        }
        mode = ReportToStdout;
    }
    _table.push_back(
        std::make_unique<EventTableEntry>(type, name, description, mode, verbose, _clock));
    return _table.back()->event();
}

bool StopWatch::setLogFile(const std::string& name) {
    if (name.empty()) {
        std::cerr << "Error: Log file name supplied is empty." << std::endl;
        return false;
    }
    if (!_log_file_name.empty())
        _log.close();
    _log_file_name = name;
    _log.open(_log_file_name, std::ios::out | std::ios::trunc);
    return _log.is_open();
}

bool StopWatch::setLogMode(const std::string& name, int mode) {
    if (_log_file_name.empty())
        return false;
    const int index = findEntry(name, nullptr);
    if (index < 0)
        return false;
    _table[static_cast<std::size_t>(index)]->setMode(mode);
    return true;
}

bool StopWatch::setLogMode(const Event* event, int mode) {
    if (event == nullptr)
        return false;
    if (_log_file_name.empty() && (mode == ReportToLog || mode == ReportToBoth))
        return false;
    const int index = findEntry(event->name(), &event->description());
    if (index < 0)
        return false;
    _table[static_cast<std::size_t>(index)]->setMode(mode);
    return true;
}

bool StopWatch::deleteEvent(const std::string& name) {
    const int index = findEntry(name, nullptr);
    if (index < 0)
        return false;
    _table.erase(_table.begin() + index);
    return true;
}

bool StopWatch::deleteEvent(const Event* event) {
    if (event == nullptr)
        return false;
    // Copies: the event named by the caller may be the one destroyed.
    const std::string name = event->name();
    const std::string description = event->description();
    const int index = findEntry(name, &description);
    if (index < 0)
        return false;
    _table.erase(_table.begin() + index);
    return true;
}

int StopWatch::findEntry(const std::string& name, const std::string* description) const {
    for (std::size_t i = 0; i < _table.size(); ++i) {
        const Event* event = _table[i]->event();
        if (event == nullptr) {
            std::cerr << "Warning: Event at index " << i << " is NULL" << std::endl;
            continue;
        }
        if (event->name() == name &&
            (description == nullptr || event->description() == *description))
            return static_cast<int>(i);
    }
    return -1;
}

void StopWatch::report() {
    reportPass(DeltaType);
    reportPass(TimeStampType);
}

// One table: the first reported row of the pass carries the header.
void StopWatch::reportPass(int type) {
    bool first = true;
    for (const std::unique_ptr<EventTableEntry>& entry : _table) {
        Event* event = entry->event();
        if (event == nullptr || event->type() != type || entry->mode() == ReportNowhere)
            continue;
        event->setHeaderFlag(first);
        if (entry->mode() == ReportToStdout || entry->mode() == ReportToBoth) {
            event->print(std::cout);
            std::cout << std::endl;
        }
        if ((entry->mode() == ReportToLog || entry->mode() == ReportToBoth) &&
            !_log_file_name.empty()) {
            event->print(_log);
            _log << std::endl;
        }
        event->setHeaderFlag(false);
        first = false;
    }
    std::cout << std::endl;
}

}  // namespace stopwatch
