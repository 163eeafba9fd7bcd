// The measurements over time: one point per valid poll of this session (up to a day of
// them), and the points of a measurement log read back from its file.
#pragma once
#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <deque>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace vek {

struct Measurements;

// The series the trend can show, in the order of TrendPoint::values.
enum TrendSeries { kLevelPercent, kLevelMm, kDistanceMm, kTemperature, kOutputMa, kTrendSeriesCount };

struct TrendSeriesInfo {
    const char* name;  // "Level"
    const char* unit;  // "%": series of the same unit share a value axis
};
const TrendSeriesInfo& TrendSeriesOf(int series);

struct TrendPoint {
    double wallTime = 0;  // seconds since the epoch
    std::array<double, kTrendSeriesCount> values{};
};

// A day at the fastest polling the program does (one poll a second) at most; older points go.
inline constexpr double kTrendSpanSeconds = 24 * 3600.0;
inline constexpr std::size_t kTrendMaxPoints = 24 * 3600;

TrendPoint TrendPointOf(double wallTime, const Measurements& m);

class TrendRecorder {
public:
    // Keeps at most `maxPoints` points (kTrendMaxPoints for the program), none over a day old.
    explicit TrendRecorder(std::size_t maxPoints = kTrendMaxPoints) : maxPoints_(maxPoints > 0 ? maxPoints : 1) {}
    // Appends a point and drops those more than a day older than it.
    void Add(const TrendPoint& p);
    const std::deque<TrendPoint>& points() const { return points_; }
    // Forgets every point and gives their memory back.
    void Clear() { std::deque<TrendPoint>().swap(points_); }
    // Called after every Add while set (the trend window, while open).
    std::function<void()> onChange;

private:
    std::deque<TrendPoint> points_;
    std::size_t maxPoints_;
};

// Which points of `points` (in time order) to draw for series `series` on a plot `columns`
// pixels wide showing the times [from, to]: in each pixel column, the first, lowest, highest
// and last point there (each once, in time order), so the line keeps every extreme and joins
// the next column where the data does; and the last point before `from` and the first after
// `to`, so the line runs on to the plot's edges. When no more points than columns lie in
// [from, to], every one of them. A value that is not a number is never taken as an extreme.
// Gives the indices, ascending. `Points` is any indexable sequence of TrendPoint.
template <class Points>
std::vector<std::size_t> TrendPointsToDraw(const Points& points, int series, double from, double to, int columns)
{
    // The first point later than t (at or later, when `orAt`).
    const auto firstFrom = [&points](double t, bool orAt) {
        std::size_t lo = 0, hi = points.size();
        while (lo < hi) {
            const std::size_t mid = lo + (hi - lo) / 2;
            if (points[mid].wallTime < t || (!orAt && points[mid].wallTime == t))
                lo = mid + 1;
            else
                hi = mid;
        }
        return lo;
    };
    const std::size_t first = firstFrom(from, true), end = std::max(first, firstFrom(to, false));
    std::vector<std::size_t> out;
    if (first > 0)
        out.push_back(first - 1);
    columns = std::max(columns, 1);
    if (end - first <= static_cast<std::size_t>(columns) || !(to > from)) {
        for (std::size_t i = first; i < end; ++i)
            out.push_back(i);
    } else {
        const auto s = static_cast<std::size_t>(series);
        const double perSecond = columns / (to - from);
        const auto columnOf = [&](std::size_t i) {
            const double c = std::floor((points[i].wallTime - from) * perSecond);
            return c < columns - 1 ? static_cast<int>(c) : columns - 1;
        };
        for (std::size_t i = first; i < end;) {
            const int c = columnOf(i);
            std::size_t j = i, lo = end, hi = end;
            for (; j < end && columnOf(j) == c; ++j) {
                const double v = points[j].values[s];
                if (std::isnan(v))
                    continue;
                if (lo == end || v < points[lo].values[s])
                    lo = j;
                if (hi == end || v > points[hi].values[s])
                    hi = j;
            }
            // In time order; a column whose values are all not numbers keeps its ends only.
            for (std::size_t k : {i, std::min(lo, hi), std::max(lo, hi), j - 1})
                if (k < end && (out.empty() || k > out.back()))
                    out.push_back(k);
            i = j;
        }
    }
    if (end < points.size())
        out.push_back(end);
    return out;
}

// A measurement log read back: its points, or why the file is not such a log.
struct LogReadResult {
    bool ok = false;
    std::string error;  // names the line that is wrong when one is
    std::vector<TrendPoint> points;
};
// Reads the text of a log written by the data logger (LogHeader, then FormatLogRow rows).
// Dates and times are local time, as the logger wrote them.
LogReadResult ReadLogText(const std::string& text);
// The largest log "Open Log..." reads: far above the 2 MB at which the logger ends a log, far
// below what would strain the chart (some 1.1 million rows).
inline constexpr long long kLargestLog = 64LL << 20;
// Reads the log file `path` as ReadLogText does. Anything that is not a regular file (a
// pipe, a device, a folder) and a file larger than kLargestLog are refused unread; every
// error names the file.
LogReadResult ReadLogFile(const std::string& path);

// ReadLogText and ReadLogFile a few rows at a time, so that a window can read a large log
// between its other events: each Read takes as many rows as it is given, then returns.
class LogReader {
public:
    // Reads `text`, the text of a log.
    explicit LogReader(std::string text) : LogReader(std::move(text), {}, {}) {}
    // Reads the log file `path`. The file itself is read at once (a few milliseconds for the
    // largest); a file refused unread leaves the reader done, with the reason.
    static LogReader OfFile(const std::string& path);

    // Reads up to `rows` more rows; true once the reading is done (the whole log read, or a
    // line found that is not a row).
    bool Read(std::size_t rows);
    bool done() const { return done_; }
    std::size_t rowsRead() const { return result_.points.size(); }
    // The part of the text read so far, 0 to 1.
    double fractionRead() const;
    // What was read; complete once done. Errors name the file when it came from one.
    LogReadResult& result() { return result_; }

private:
    // A refused file (`refused` saying why) is done at once.
    LogReader(std::string text, std::string path, std::string refused);
    void fail(std::string why);
    bool timeOf(const std::string& date, const std::string& time, double& out);

    std::string text_;
    std::string path_;  // empty when the text came without a file
    std::size_t pos_ = 0;
    int lineNo_ = 1;
    bool done_ = false;
    LogReadResult result_;
    std::array<int, 5> minute_{};  // the last row's year, month, day, hour and minute
    double minuteStart_ = 0;       // that minute's start in seconds since the epoch
};

}  // namespace vek
