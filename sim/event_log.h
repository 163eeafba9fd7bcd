// The --log record: one JSON object a line, every frame in and out and every change the
// master caused, stamped with the monotonic clock in seconds.
#pragma once
#include <cstdint>
#include <cstdio>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "line.h"

namespace vek::sim {

class EventLog {
public:
    virtual ~EventLog() = default;
    // dir is "rx" or "tx"; note says why a frame was ignored or which faults shaped a reply.
    virtual void frame(Micros t, std::string_view dir, std::span<const std::uint8_t> bytes, std::string_view note) = 0;
    // A named event with extra members, each already a JSON value ("12", "\"even\"").
    virtual void event(Micros t, std::string_view name,
                       const std::vector<std::pair<std::string, std::string>>& fields) = 0;
};

std::string hexBytes(std::span<const std::uint8_t> bytes);  // "01 03 00 00"
std::string jsonString(std::string_view text);              // quoted and escaped

// Formats entries as JSON lines; the pure half of the file log.
std::string formatFrame(Micros t, std::string_view dir, std::span<const std::uint8_t> bytes, std::string_view note);
std::string formatEvent(Micros t, std::string_view name,
                        const std::vector<std::pair<std::string, std::string>>& fields);

class JsonLinesLog final : public EventLog {
public:
    // Takes ownership of the stream. Every line is flushed so a test or `tail -f` sees it at once.
    explicit JsonLinesLog(std::FILE* out) : out_(out) {}
    ~JsonLinesLog() override;
    JsonLinesLog(const JsonLinesLog&) = delete;
    JsonLinesLog& operator=(const JsonLinesLog&) = delete;

    void frame(Micros t, std::string_view dir, std::span<const std::uint8_t> bytes, std::string_view note) override;
    void event(Micros t, std::string_view name,
               const std::vector<std::pair<std::string, std::string>>& fields) override;

private:
    void put(const std::string& line);
    std::FILE* out_;
};

}  // namespace vek::sim
