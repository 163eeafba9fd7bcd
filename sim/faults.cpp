#include "faults.h"

#include <charconv>
#include <cstdio>

#include "slave.h"
#include "text.h"

namespace vek::sim {

std::optional<FaultRule> FaultRule::parse(std::string_view text, std::string* error)
{
    constexpr std::string_view kEvery = "every:";
    if (text.substr(0, kEvery.size()) == kEvery) {
        const auto digits = text.substr(kEvery.size());
        std::uint64_t n = 0;
        const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), n);
        if (ec != std::errc{} || end != digits.data() + digits.size() || n == 0) {
            if (error)
                *error = cat("'", text, "': every:N needs a whole number N of at least 1");
            return std::nullopt;
        }
        return everyNth(n);
    }
    // from_chars for double is in libstdc++ 11+, and unlike strtod ignores the locale.
    double p = -1.0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), p);
    if (text.empty() || ec != std::errc{} || end != text.data() + text.size() || !(p >= 0.0 && p <= 1.0)) {
        if (error)
            *error = cat("'", text, "' is not a rule: give a probability from 0 to 1 or every:N");
        return std::nullopt;
    }
    return p == 0.0 ? never() : probability(p);
}

bool FaultRule::fires(Rng& rng)
{
    switch (kind_) {
    case Kind::Never: return false;
    case Kind::Probability: return p_ >= 1.0 || rng.uniform() < p_;
    case Kind::EveryNth: return ++seen_ % n_ == 0;
    }
    return false;
}

std::string FaultRule::describe() const
{
    switch (kind_) {
    case Kind::Never: return "never";
    case Kind::Probability: {
        char buf[32];
        std::snprintf(buf, sizeof buf, "probability %g", p_);
        return buf;
    }
    case Kind::EveryNth: return "every " + std::to_string(n_) + ". request";
    }
    return "?";
}

std::string FaultDecision::names() const
{
    std::string out;
    auto add = [&out](bool on, const char* name) {
        if (!on)
            return;
        if (!out.empty())
            out += ',';
        out += name;
    };
    add(drop, "drop");
    add(exception, "exception");
    add(delay, "delay");
    add(corruptCrc, "corrupt-crc");
    add(wrongSlave, "wrong-slave");
    add(shortReply, "short");
    add(longReply, "long");
    add(noise, "noise");
    return out;
}

FaultDecision FaultInjector::decide()
{
    FaultDecision d;
    d.drop = config_.drop.fires(rng_);
    d.delay = config_.delay.fires(rng_);
    d.corruptCrc = config_.corruptCrc.fires(rng_);
    d.wrongSlave = config_.wrongSlave.fires(rng_);
    d.shortReply = config_.shortReply.fires(rng_);
    d.longReply = config_.longReply.fires(rng_);
    d.noise = config_.noise.fires(rng_);
    d.exception = config_.exception.fires(rng_);
    return d;
}

void FaultInjector::mangle(std::vector<std::uint8_t>& reply, const FaultDecision& d)
{
    if (reply.size() < 4)
        return;
    if (d.wrongSlave) {
        // A neighbour on the bus answering in our place: a valid frame, only the address is off.
        reply[0] = static_cast<std::uint8_t>(reply[0] % 247 + 1);
        reply.resize(reply.size() - 2);
        appendCrc(reply);
    }
    if (d.corruptCrc) {
        reply[reply.size() - 1] ^= 0x5A;
        reply[reply.size() - 2] ^= 0xA5;
    }
    if (d.longReply)
        reply.push_back(static_cast<std::uint8_t>(rng_.next()));
    if (d.shortReply)
        reply.pop_back();
    if (d.noise) {
        const auto count = rng_.between(1, 4);
        std::vector<std::uint8_t> garbage;
        for (std::uint64_t i = 0; i < count; ++i)
            garbage.push_back(static_cast<std::uint8_t>(rng_.next()));
        reply.insert(reply.begin(), garbage.begin(), garbage.end());
    }
}

}  // namespace vek::sim
