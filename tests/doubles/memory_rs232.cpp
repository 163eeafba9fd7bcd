#include "memory_rs232.h"

#include <algorithm>

namespace vek::platform {

MemoryRs232::MemoryRs232(VirtualClock& clock) : clock_(clock)
{
    clock_.setBeforeAdvance([this] { deliverWritten(); });
}

int MemoryRs232::OpenComConfig(int port, const std::string& deviceName, long baud, int parity, int dataBits,
                               int stopBits, int, int)
{
    opens.push_back({port, baud, parity, dataBits, stopBits});
    openNames.push_back(deviceName);
    if (port < 1 || port > 99)
        return fail(RS_ERR_INVALID_PORT);
    if (absent.count(port)) {
        release(port);  // a reopening that drops the device ends its claim, as the real port does
        open_.erase(port);
        return fail(RS_ERR_CANNOT_OPEN);
    }
    if (connectingOpens > 0) {
        --connectingOpens;
        return fail(RS_ERR_CONNECTING);
    }
    auto named = devices.find(port);
    open_[port] = named != devices.end() ? named->second : ResolveComPort(port);
    lines_[port] = opens.back();
    // Reconfiguring discards both queues, as the real port does.
    in_[port].clear();
    pending_[port].clear();
    return lastError_ = 0;
}

int MemoryRs232::CloseCom(int port)
{
    closes.push_back(port);
    release(port);
    if (!open_.erase(port))
        return fail(RS_ERR_NOT_OPEN);
    in_[port].clear();
    pending_[port].clear();
    return lastError_ = 0;
}

int MemoryRs232::ClaimCom(int port)
{
    if (port < 1 || port > 99)
        return fail(RS_ERR_INVALID_PORT);
    if (claimed_.count(port))
        return lastError_ = 0;
    if (absent.count(port))
        return fail(RS_ERR_CANNOT_OPEN);
    if (busy.count(port))
        return fail(RS_ERR_BUSY);
    if (!open_.count(port)) {
        auto named = devices.find(port);
        open_[port] = named != devices.end() ? named->second : ResolveComPort(port);
    }
    claimed_[port] = line(port);
    return lastError_ = 0;
}

int MemoryRs232::ReleaseCom(int port)
{
    if (!open_.count(port))
        return fail(RS_ERR_NOT_OPEN);
    release(port);
    return lastError_ = 0;
}

void MemoryRs232::release(int port)
{
    auto it = claimed_.find(port);
    if (it == claimed_.end())
        return;
    if (it->second)
        lines_[port] = *it->second;
    else
        lines_.erase(port);
    claimed_.erase(it);
}

std::optional<MemoryRs232::OpenCall> MemoryRs232::line(int port) const
{
    auto it = lines_.find(port);
    return it == lines_.end() ? std::nullopt : std::optional<OpenCall>(it->second);
}

int MemoryRs232::ComWrtByte(int port, int byte)
{
    if (!open_.count(port))
        return fail(RS_ERR_NOT_OPEN);
    pending_[port].push_back(static_cast<std::uint8_t>(byte));
    lastError_ = 0;
    return byte & 0xFF;
}

int MemoryRs232::ComWrt(int port, const std::uint8_t* buffer, int count)
{
    if (!open_.count(port))
        return fail(RS_ERR_NOT_OPEN);
    pending_[port].insert(pending_[port].end(), buffer, buffer + count);
    lastError_ = 0;
    return count;
}

int MemoryRs232::ComRd(int port, std::uint8_t* buffer, int count)
{
    if (!open_.count(port))
        return fail(RS_ERR_NOT_OPEN);
    if (failNextRead < 0) {
        const int code = failNextRead;
        failNextRead = 0;
        return fail(code);
    }
    auto& q = in_[port];
    int n = 0;
    while (n < count && !q.empty()) {
        buffer[n++] = q.front();
        q.pop_front();
    }
    lastError_ = n < count ? RS_ERR_TIMEOUT : 0;
    return n;
}

int MemoryRs232::ComPeek(int port, std::uint8_t* buffer, int count)
{
    if (!open_.count(port))
        return fail(RS_ERR_NOT_OPEN);
    if (failNextPeek < 0) {
        const int code = failNextPeek;
        failNextPeek = 0;
        return fail(code);
    }
    const auto& q = in_[port];
    const int n = std::min(count, static_cast<int>(q.size()));
    std::copy_n(q.begin(), n > 0 ? n : 0, buffer);
    lastError_ = 0;
    return n > 0 ? n : 0;
}

int MemoryRs232::GetInQLen(int port)
{
    if (!open_.count(port))
        return fail(RS_ERR_NOT_OPEN);
    lastError_ = 0;
    return static_cast<int>(in_[port].size());
}

int MemoryRs232::SetComTime(int port, double seconds)
{
    timeouts[port] = seconds;
    if (!open_.count(port))
        return fail(RS_ERR_NOT_OPEN);
    return lastError_ = 0;
}

std::string MemoryRs232::GetRS232ErrorString(int code) { return Rs232ErrorText(code); }

std::string MemoryRs232::DevicePath(int port) const
{
    auto it = open_.find(port);
    return it == open_.end() ? std::string() : it->second;
}

void MemoryRs232::inject(int port, const Bytes& bytes)
{
    if (!open_.count(port))
        return;  // nobody listens on a closed port
    in_[port].insert(in_[port].end(), bytes.begin(), bytes.end());
}

void MemoryRs232::injectAfter(int port, double seconds, const Bytes& bytes)
{
    clock_.schedule(clock_.now() + seconds, [this, port, bytes] { inject(port, bytes); });
}

void MemoryRs232::deliverWritten()
{
    for (auto& [port, bytes] : pending_) {
        if (bytes.empty())
            continue;
        Bytes frame;
        frame.swap(bytes);
        frames.push_back(frame);
        if (peer)
            peer(port, frame);
    }
}

std::size_t MemoryRs232::queued(int port) const
{
    auto it = in_.find(port);
    return it == in_.end() ? 0 : it->second.size();
}

}  // namespace vek::platform
