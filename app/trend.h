// The measurements over time: one point per valid poll of this session (up to a day of
// them), and the points of a measurement log read back from its file.
#pragma once
#include <array>
#include <cstddef>
#include <deque>
#include <functional>
#include <string>
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

}  // namespace vek
