// Trend points from the polls, and the measurement log read back into points.
#include "trend.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <utility>

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

// The whole field, after leading spaces, is the number.
bool wholeNumber(const std::string& s, double& v)
{
    char* end = nullptr;
    const long long x = std::strtoll(s.c_str(), &end, 10);
    if (end == s.c_str() || end != s.c_str() + s.size())
        return false;
    v = static_cast<double>(x);
    return true;
}

bool decimal(const std::string& s, double& v)
{
    char* end = nullptr;
    v = std::strtod(s.c_str(), &end);
    return end != s.c_str() && end == s.c_str() + s.size();
}

}  // namespace

// mktime looks at the time zone's file on every call, and a log's rows come seconds apart:
// the start of each minute is worked out once (zones change their offset on whole minutes).
bool LogReader::timeOf(const std::string& date, const std::string& time, double& out)
{
    std::tm tm{};
    int n1 = 0, n2 = 0;
    if (std::sscanf(date.c_str(), "%2d-%2d-%4d%n", &tm.tm_mon, &tm.tm_mday, &tm.tm_year, &n1) != 3 || n1 != 10 ||
        std::sscanf(time.c_str(), "%2d:%2d:%2d%n", &tm.tm_hour, &tm.tm_min, &tm.tm_sec, &n2) != 3 || n2 != 8)
        return false;
    if (tm.tm_mon < 1 || tm.tm_mon > 12 || tm.tm_mday < 1 || tm.tm_mday > 31 || tm.tm_hour > 23 || tm.tm_min > 59 ||
        tm.tm_sec > 60)
        return false;
    const std::array<int, 5> minute = {tm.tm_year, tm.tm_mon, tm.tm_mday, tm.tm_hour, tm.tm_min};
    const int second = tm.tm_sec;
    if (minute != minute_) {
        tm.tm_mon -= 1;
        tm.tm_year -= 1900;
        tm.tm_sec = 0;
        tm.tm_isdst = -1;
        minute_ = minute;
        minuteStart_ = static_cast<double>(std::mktime(&tm));
    }
    out = minuteStart_ + second;
    return true;
}

namespace {

// What the logger writes for a relay; empty before the first decoded reply named it.
bool relayText(const std::string& s) { return s == "ON" || s == "OFF" || s.empty(); }

}  // namespace

LogReader::LogReader(std::string text, std::string path, std::string refused)
    : text_(std::move(text)), path_(std::move(path))
{
    const std::string header = LogHeader();
    if (!refused.empty())
        fail(std::move(refused));
    else if (text_.compare(0, header.size(), header) != 0)
        fail("This is not a measurement log of this program: its first line is not the log's header.");
    pos_ = header.size();
}

LogReader LogReader::OfFile(const std::string& path)
{
    using Result = platform::WholeFile::Result;
    platform::WholeFile file = platform::ReadWholeFile(path, kLargestLog);
    std::string why;
    switch (file.result) {
    case Result::Read: break;
    case Result::NotRegular: why = "it is " + file.why + ", not a log file."; break;
    case Result::TooLarge:
        why = "it is " + std::to_string(file.size) + " bytes: larger than the " + std::to_string(kLargestLog >> 20) +
              " MiB (" + std::to_string(kLargestLog) + " bytes) Open Log reads.";
        break;
    case Result::Unreadable: why = "it cannot be read (" + file.why + ")."; break;
    }
    return LogReader(std::move(file.text), path, std::move(why));
}

void LogReader::fail(std::string why)
{
    result_ = LogReadResult{};
    result_.error = path_.empty() ? std::move(why) : "\"" + path_ + "\": " + why;
    done_ = true;
    std::string().swap(text_);
}

double LogReader::fractionRead() const
{
    return done_ || text_.empty() ? 1.0 : static_cast<double>(pos_) / static_cast<double>(text_.size());
}

bool LogReader::Read(std::size_t rows)
{
    for (std::size_t n = 0; n < rows && !done_ && pos_ < text_.size(); ++n) {
        ++lineNo_;
        std::size_t end = text_.find('\n', pos_);
        if (end == std::string::npos)
            end = text_.size();
        std::string line = text_.substr(pos_, end - pos_);
        pos_ = end + 1;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        const auto f = fields(line);
        TrendPoint p;
        double status = 0;
        const bool ok = f.size() == 10 && timeOf(f[0], f[1], p.wallTime) && wholeNumber(f[2], p.values[kDistanceMm]) &&
                        wholeNumber(f[3], p.values[kLevelMm]) && decimal(f[4], p.values[kLevelPercent]) &&
                        decimal(f[5], p.values[kTemperature]) && decimal(f[6], p.values[kOutputMa]) &&
                        wholeNumber(f[7], status) && relayText(f[8]) && relayText(f[9]);
        if (!ok)
            fail("Line " + std::to_string(lineNo_) + " is not a row of a measurement log.");
        else
            result_.points.push_back(p);
    }
    if (!done_ && pos_ >= text_.size()) {
        result_.ok = true;
        done_ = true;
        std::string().swap(text_);
    }
    return done_;
}

LogReadResult ReadLogText(const std::string& text)
{
    LogReader r(text);
    while (!r.Read(static_cast<std::size_t>(-1))) {
    }
    return std::move(r.result());
}

LogReadResult ReadLogFile(const std::string& path)
{
    LogReader r = LogReader::OfFile(path);
    while (!r.Read(static_cast<std::size_t>(-1))) {
    }
    return std::move(r.result());
}

}  // namespace vek
