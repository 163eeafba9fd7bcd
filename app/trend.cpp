// Trend points from the polls, and the measurement log read back into points.
#include "trend.h"

#include <cstdio>
#include <ctime>

#include "app_state.h"
#include "files.h"
#include "vek_app.h"

namespace vek {

const TrendSeriesInfo& TrendSeriesOf(int series)
{
    static const TrendSeriesInfo info[kTrendSeriesCount] = {
        {"Level", "%"},
        {"Level", "mm"},
        {"Distance", "mm"},
        {"Temperature",
         "\xC2\xB0"
         "C"},
        {"Output", "mA"},
    };
    return info[series];
}

TrendPoint TrendPointOf(double wallTime, const Measurements& m)
{
    TrendPoint p;
    p.wallTime = wallTime;
    p.values = {m.levelPercent, static_cast<double>(m.levelMm), static_cast<double>(m.distanceMm), m.temperature,
                m.outputMa};
    return p;
}

void TrendRecorder::Add(const TrendPoint& p)
{
    points_.push_back(p);
    while (points_.size() > maxPoints_ || p.wallTime - points_.front().wallTime > kTrendSpanSeconds)
        points_.pop_front();
    if (onChange)
        onChange();
}

namespace {

// Splits at tabs; the row's line end is already gone.
std::vector<std::string> fields(const std::string& line)
{
    std::vector<std::string> out(1);
    for (char c : line) {
        if (c == '\t')
            out.emplace_back();
        else
            out.back() += c;
    }
    return out;
}

bool wholeNumber(const std::string& s, double& v)
{
    int n = 0;
    long long x = 0;
    if (std::sscanf(s.c_str(), " %lld%n", &x, &n) != 1 || n != static_cast<int>(s.size()))
        return false;
    v = static_cast<double>(x);
    return true;
}

bool decimal(const std::string& s, double& v)
{
    int n = 0;
    return std::sscanf(s.c_str(), " %lf%n", &v, &n) == 1 && n == static_cast<int>(s.size());
}

bool timeOf(const std::string& date, const std::string& time, double& out)
{
    std::tm tm{};
    int n1 = 0, n2 = 0;
    if (std::sscanf(date.c_str(), "%2d-%2d-%4d%n", &tm.tm_mon, &tm.tm_mday, &tm.tm_year, &n1) != 3 || n1 != 10 ||
        std::sscanf(time.c_str(), "%2d:%2d:%2d%n", &tm.tm_hour, &tm.tm_min, &tm.tm_sec, &n2) != 3 || n2 != 8)
        return false;
    if (tm.tm_mon < 1 || tm.tm_mon > 12 || tm.tm_mday < 1 || tm.tm_mday > 31 || tm.tm_hour > 23 || tm.tm_min > 59 ||
        tm.tm_sec > 60)
        return false;
    tm.tm_mon -= 1;
    tm.tm_year -= 1900;
    tm.tm_isdst = -1;
    out = static_cast<double>(std::mktime(&tm));
    return true;
}

// What the logger writes for a relay; empty before the first decoded reply named it.
bool relayText(const std::string& s) { return s == "ON" || s == "OFF" || s.empty(); }

}  // namespace

LogReadResult ReadLogText(const std::string& text)
{
    LogReadResult r;
    const std::string header = LogHeader();
    if (text.compare(0, header.size(), header) != 0) {
        r.error = "This is not a measurement log of this program: its first line is not the log's header.";
        return r;
    }
    std::size_t pos = header.size();
    int lineNo = 1;
    while (pos < text.size()) {
        ++lineNo;
        std::size_t end = text.find('\n', pos);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(pos, end - pos);
        pos = end + 1;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        const auto f = fields(line);
        TrendPoint p;
        double status = 0;
        const bool ok = f.size() == 10 && timeOf(f[0], f[1], p.wallTime) && wholeNumber(f[2], p.values[kDistanceMm]) &&
                        wholeNumber(f[3], p.values[kLevelMm]) && decimal(f[4], p.values[kLevelPercent]) &&
                        decimal(f[5], p.values[kTemperature]) && decimal(f[6], p.values[kOutputMa]) &&
                        wholeNumber(f[7], status) && relayText(f[8]) && relayText(f[9]);
        if (!ok) {
            r.error = "Line " + std::to_string(lineNo) + " is not a row of a measurement log.";
            r.points.clear();
            return r;
        }
        r.points.push_back(p);
    }
    r.ok = true;
    return r;
}

LogReadResult ReadLogFile(const std::string& path)
{
    using Result = platform::WholeFile::Result;
    const platform::WholeFile file = platform::ReadWholeFile(path, kLargestLog);
    LogReadResult r;
    switch (file.result) {
    case Result::Read: r = ReadLogText(file.text); break;
    case Result::NotRegular: r.error = "it is " + file.why + ", not a log file."; break;
    case Result::TooLarge:
        r.error = "it is " + std::to_string(file.size) + " bytes: larger than the " +
                  std::to_string(kLargestLog >> 20) + " MiB (" + std::to_string(kLargestLog) +
                  " bytes) Open Log reads.";
        break;
    case Result::Unreadable: r.error = "it cannot be read (" + file.why + ")."; break;
    }
    if (!r.ok)
        r.error = "\"" + path + "\": " + r.error;
    return r;
}

}  // namespace vek
