// A set-up backup beside what the transmitter holds, one row per set-up value, with what a
// restore did to each: what the compare window shows. Plain data, so app/ builds it and
// the window (Qt, above app/) only draws it.
#pragma once
#include <string>
#include <vector>

namespace vek {

struct SetupRow {
    enum class State {
        Same,        // the transmitter holds the backup's value
        Differs,     // it does not, and nothing was tried
        Written,     // a restore wrote it: echoed and read back as the backup's value
        Failed,      // a restore tried and did not get there (refused, no echo, another readback)
        NotWritten,  // it differs, and the restore left it alone (outcome says why)
    };
    int reg = 0;  // counted from 1
    std::string name;
    std::string backup, transmitter;  // as the windows show them
    State state = State::Same;
    std::string outcome;  // what the restore did, or why it did not
};

struct SetupComparison {
    std::string file;         // the backup's path
    std::string made;         // "2026-12-07 14:40:00 by version 2.4.0, COM1 (/dev/ttyUSB0) 9600 none"
    std::string backupOf;     // "Gauge 5m (17) at slave address 1"
    std::string transmitter;  // the same for the transmitter now
    std::string note;         // a warning above the table, "" when none
    std::string summary;      // a restore's result, "" when there was none
    std::vector<SetupRow> rows;

    int differing() const
    {
        int n = 0;
        for (const SetupRow& r : rows)
            n += r.state != SetupRow::State::Same && r.state != SetupRow::State::Written;
        return n;
    }
};

}  // namespace vek
