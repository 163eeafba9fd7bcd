// Fault injection: rules that decide, request by request, which line fault to play.
#pragma once
#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "rng.h"

namespace vek::sim {

// "0.25" fires with probability 0.25 on each request; "every:3" fires on requests 3, 6, 9...
// A rule counts the requests addressed to this slave, each rule on its own.
class FaultRule {
public:
    static FaultRule never() { return FaultRule{}; }
    static FaultRule probability(double p)
    {
        FaultRule r;
        r.kind_ = Kind::Probability;
        r.p_ = p;
        return r;
    }
    static FaultRule everyNth(std::uint64_t n)
    {
        FaultRule r;
        r.kind_ = Kind::EveryNth;
        r.n_ = n;
        return r;
    }
    // nullopt and a message in *error when the text is not a rule.
    static std::optional<FaultRule> parse(std::string_view text, std::string* error);

    bool active() const { return kind_ != Kind::Never; }
    // Called once per request; advances the rule's own count.
    bool fires(Rng& rng);
    std::string describe() const;

private:
    enum class Kind { Never, Probability, EveryNth };
    Kind kind_ = Kind::Never;
    double p_ = 0.0;
    std::uint64_t n_ = 0;
    std::uint64_t seen_ = 0;
};

struct FaultConfig {
    FaultRule drop;   // the request is lost: not carried out, not answered
    FaultRule delay;  // carried out, answered delayMs late
    unsigned delayMs = 0;
    FaultRule corruptCrc;  // carried out, reply CRC wrong
    FaultRule wrongSlave;  // carried out, reply carries another slave address (CRC matches it)
    FaultRule shortReply;  // carried out, last reply byte missing
    FaultRule longReply;   // carried out, one byte more after the CRC
    FaultRule noise;       // carried out, garbage bytes right before the reply
    FaultRule exception;   // not carried out, answered with exceptionCode
    std::uint8_t exceptionCode = 4;
    // Writes (function 6 or 16) touching one of these registers, counted from 1, are not
    // carried out and are answered with exception 04: a transmitter that will not take a value.
    std::set<int> refuseWrites;
    std::optional<std::uint64_t> hangupAfter;  // close the port after this many requests
    std::optional<unsigned> returnAfterMs;     // and open a new one this much later
};

// What the rules decided for one request.
struct FaultDecision {
    bool drop = false;
    bool delay = false;
    bool corruptCrc = false;
    bool wrongSlave = false;
    bool shortReply = false;
    bool longReply = false;
    bool noise = false;
    bool exception = false;
    bool any() const
    {
        return drop || delay || corruptCrc || wrongSlave || shortReply || longReply || noise || exception;
    }
    // "corrupt-crc,noise" for the log.
    std::string names() const;
};

class FaultInjector {
public:
    FaultInjector(FaultConfig config, std::uint64_t seed) : config_(std::move(config)), rng_(seed) {}
    const FaultConfig& config() const { return config_; }

    // Every rule is asked for every request, so that each keeps its own count.
    FaultDecision decide();

    // Mangles a finished reply as decided (drop, delay and exception are the caller's).
    void mangle(std::vector<std::uint8_t>& reply, const FaultDecision& d);

private:
    FaultConfig config_;
    Rng rng_;
};

}  // namespace vek::sim
