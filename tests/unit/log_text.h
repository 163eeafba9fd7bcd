// The text of a measurement log as the data logger writes it, for the tests that read logs
// back: `rows` rows one second apart from 10:00:00 on 14 March 2016, row i with distance i,
// level 3000 - i mm and level i / 10 %; row `badRow` (counted from 0) has a word for its
// level, so it is no row of a log.
#pragma once
#include <cstdio>
#include <string>

#include "vek_app.h"

namespace vek::test {

// Row i's time in seconds since the epoch when read as UTC (the tests run with TZ=UTC).
inline double LogRowTime(int i) { return 1457949600.0 + i; }

inline std::string LogText(int rows, int badRow = -1)
{
    std::string text = LogHeader();
    char row[128];
    for (int i = 0; i < rows; ++i) {
        const int s = 36000 + i;
        std::snprintf(row, sizeof row, "03-14-2016\t%02d:%02d:%02d\t%5d\t%s\t%.1f\t21.5\t10.1\t   0\tON\tOFF\n",
                      s / 3600 % 24, s / 60 % 60, s % 60, i, i == badRow ? "lots" : std::to_string(3000 - i).c_str(),
                      i / 10.0);
        text += row;
    }
    return text;
}

}  // namespace vek::test
