#include "engine.h"

#include <algorithm>

namespace vek::sim {

namespace {
// The model is stepped this often between requests, so that relay delays run on time even
// when nobody is polling.
constexpr Micros kModelStep = 250'000;
// "Slave device failure": the device heard a proper request and would not carry it out.
constexpr std::uint8_t kRefusedWriteCode = 0x04;
}  // namespace

Engine::Engine(EngineConfig config, RegisterImage image, Transmitter transmitter, EventLog* log, Micros startedAt)
    : config_(std::move(config)),
      image_(image),
      transmitter_(std::move(transmitter)),
      log_(log),
      startedAt_(startedAt),
      address_(config_.address),
      line_(config_.line),
      assembler_(silenceUs(config_.line)),
      faults_(config_.faults, mix64(config_.seed ^ 0xFA017ull)),
      nextModelStep_(startedAt)
{
    stepModel(startedAt);
}

void Engine::receive(std::span<const std::uint8_t> bytes, Micros now, std::optional<unsigned> peerBaud)
{
    if (!portOpen_ || bytes.empty())
        return;
    const bool garbled = config_.checkBaud && peerBaud && *peerBaud != line_.baud;
    assembler_.feed(bytes.data(), bytes.size(), now, garbled);
}

void Engine::stepModel(Micros now)
{
    transmitter_.update(image_, now - startedAt_);
    nextModelStep_ = now + kModelStep;
}

void Engine::tick(Micros now)
{
    if (!portOpen_) {
        if (returnAt_ && now >= *returnAt_) {
            portOpen_ = true;
            returnAt_.reset();
            if (log_)
                log_->event(now, "return", {});
        }
    }
    while (auto frame = assembler_.take(now))
        handle(*frame, now);
    if (now >= nextModelStep_)
        stepModel(now);
    if (hangupDue_ && queue_.empty())
        hangUp(now);
}

void Engine::hangUp(Micros now)
{
    hangupDue_ = false;
    hungUpOnce_ = true;
    portOpen_ = false;
    assembler_.reset();
    if (config_.faults.returnAfterMs)
        returnAt_ = now + static_cast<Micros>(*config_.faults.returnAfterMs) * 1000;
    if (log_)
        log_->event(now, "hangup", {{"requests", std::to_string(requests_)}});
}

void Engine::logWrites(const std::vector<RegisterWrite>& writes, Micros now)
{
    if (!log_)
        return;
    for (const auto& w : writes) {
        log_->event(now, "write",
                    {{"register", std::to_string(w.number)},
                     {"old", std::to_string(w.before)},
                     {"value", std::to_string(w.after)}});
    }
}

void Engine::applyEffects(const std::optional<std::uint8_t>& address, const std::optional<LineSettings>& line,
                          Micros now)
{
    if (address && *address != address_) {
        address_ = *address;
        if (log_)
            log_->event(now, "address", {{"slave", std::to_string(address_)}});
    }
    if (line && *line != line_) {
        line_ = *line;
        assembler_.setSilence(silenceUs(line_));
        lineChanged_ = true;
        if (log_) {
            log_->event(now, "line",
                        {{"baud", std::to_string(line_.baud)}, {"parity", jsonString(parityName(line_.parity))}});
        }
    }
}

bool Engine::refusesWrite(const Request& req) const
{
    const auto& refused = config_.faults.refuseWrites;
    const auto& f = req.frame;
    if (refused.empty() || (req.function != 6 && req.function != 16) || f.size() < 8)
        return false;
    const int first = ((f[2] << 8) | f[3]) + 1;
    const int count = req.function == 6 ? 1 : (f[4] << 8) | f[5];
    for (int n = first; n < first + count; ++n)
        if (refused.count(n))
            return true;
    return false;
}

void Engine::handle(const RxFrame& frame, Micros now)
{
    Screened s;
    if (frame.garbled)
        s.reason = Ignored::Garbled;
    else if (frame.overflow)
        s.reason = Ignored::TooLong;
    else
        s = screen(frame.bytes, address_);
    if (s.reason != Ignored::None) {
        if (log_)
            log_->frame(frame.lastByteAt, "rx", frame.bytes, std::string("ignored: ") + describe(s.reason));
        return;
    }
    const Request& req = s.request;
    if (log_)
        log_->frame(frame.lastByteAt, "rx", frame.bytes, req.broadcast() ? "broadcast" : "");

    stepModel(now);
    if (req.broadcast()) {
        const Outcome out = execute(req, image_, line_);
        logWrites(out.writes, now);
        // Nobody answers a broadcast, so its effects need not wait for an echo.
        applyEffects(out.newAddress, out.newLine, now);
        return;
    }

    ++requests_;
    const bool hangupHere = config_.faults.hangupAfter && !hungUpOnce_ && requests_ == *config_.faults.hangupAfter;
    if (hangupHere)
        hangupDue_ = true;

    const FaultDecision d = faults_.decide();
    if (d.drop) {
        if (log_)
            log_->event(now, "fault", {{"fault", jsonString("drop")}});
        return;
    }
    Outcome out;
    if (d.exception) {
        out.reply = exceptionFrame(req.address, req.function, config_.faults.exceptionCode);
    } else if (refusesWrite(req)) {
        out.reply = exceptionFrame(req.address, req.function, kRefusedWriteCode);
    } else {
        out = execute(req, image_, line_);
        logWrites(out.writes, now);
    }
    if (out.reply.empty())
        return;
    faults_.mangle(out.reply, d);

    Pending p;
    p.start = now + (config_.pacing ? config_.turnaround : 0) +
              (d.delay ? static_cast<Micros>(config_.faults.delayMs) * 1000 : 0);
    p.start = std::max(p.start, queueFreeAt_);
    p.charTime = config_.pacing ? charTimeUs(line_) : 0;
    p.bytes = std::move(out.reply);
    p.note = d.names();
    p.newAddress = out.newAddress;
    p.newLine = out.newLine;
    p.tag = tag_;
    queueFreeAt_ = p.start + p.charTime * static_cast<Micros>(p.bytes.size());
    queue_.push_back(std::move(p));
}

std::vector<std::uint8_t> Engine::takeOutput(Micros now)
{
    std::vector<std::uint8_t> out;
    while (!queue_.empty() && portOpen_) {
        Pending& p = queue_.front();
        if (now < p.start)
            break;
        std::size_t due = p.bytes.size();
        if (p.charTime > 0)
            due = std::min(due, static_cast<std::size_t>((now - p.start) / p.charTime) + 1);
        if (p.sent == 0 && log_)
            log_->frame(now, "tx", p.bytes, p.note);
        out.insert(out.end(), p.bytes.begin() + static_cast<std::ptrdiff_t>(p.sent),
                   p.bytes.begin() + static_cast<std::ptrdiff_t>(due));
        p.sent = due;
        if (p.sent < p.bytes.size())
            break;
        applyEffects(p.newAddress, p.newLine, now);
        queue_.pop_front();
    }
    if (hangupDue_ && queue_.empty())
        hangUp(now);
    return out;
}

std::vector<Engine::TaggedReply> Engine::takeReplies(Micros now)
{
    std::vector<TaggedReply> out;
    while (!queue_.empty() && portOpen_) {
        Pending& p = queue_.front();
        // Whole replies only: due once its last byte would have left.
        const Micros last = p.start + p.charTime * static_cast<Micros>(p.bytes.empty() ? 0 : p.bytes.size() - 1);
        if (now < last)
            break;
        if (log_)
            log_->frame(now, "tx", p.bytes, p.note);
        out.push_back({p.tag, std::move(p.bytes)});
        applyEffects(p.newAddress, p.newLine, now);
        queue_.pop_front();
    }
    if (hangupDue_ && queue_.empty())
        hangUp(now);
    return out;
}

Micros Engine::nextWake(Micros now) const
{
    Micros wake = nextModelStep_;
    if (const auto d = assembler_.deadline())
        wake = std::min(wake, *d);
    if (!queue_.empty()) {
        const Pending& p = queue_.front();
        wake = std::min(wake, p.charTime > 0 ? p.start + p.charTime * static_cast<Micros>(p.sent) : p.start);
    }
    if (returnAt_)
        wake = std::min(wake, *returnAt_);
    if (hangupDue_ && queue_.empty())
        wake = now;
    return std::max(wake, now);
}

}  // namespace vek::sim
