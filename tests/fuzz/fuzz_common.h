// What the fuzz targets share: how a broken promise is reported (an abort, which libFuzzer
// records with the input that caused it), value comparison, the rule that a control only
// ever holds a value of its own data type, and a scratch folder for the files they write.
#pragma once
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "panel_model.h"

namespace vek::fuzz {

inline void check(bool ok, const char* what, const std::string& detail = {})
{
    if (!ok) {
        std::fprintf(stderr, "fuzz check failed: %s %s\n", what, detail.c_str());
        std::abort();
    }
}

// Equal values; a NaN from the line equals a NaN, since both show the same.
inline bool same(const ui::Value& a, const ui::Value& b)
{
    if (std::holds_alternative<double>(a) && std::holds_alternative<double>(b)) {
        const double x = std::get<double>(a), y = std::get<double>(b);
        return x == y || (std::isnan(x) && std::isnan(y));
    }
    return a == b;
}

// Text only in text controls, whole numbers within the width of the control's type,
// floating values only in floating controls.
inline void checkTyped(const ui::Control& c)
{
    using ui::DataType;
    const ui::Value& v = c.value;
    if (c.kind == ui::Kind::TextMsg || c.type == DataType::String) {
        check(std::holds_alternative<std::string>(v), "text control holds a number:", c.constant);
        return;
    }
    if (c.type == DataType::Float || c.type == DataType::Double) {
        check(std::holds_alternative<double>(v), "floating control holds no float:", c.constant);
        if (c.type == DataType::Float) {
            const double d = std::get<double>(v);
            check(std::isnan(d) || static_cast<double>(static_cast<float>(d)) == d,
                  "float control holds more than single precision:", c.constant);
        }
        return;
    }
    if (c.type == DataType::None)
        return;
    check(std::holds_alternative<long long>(v), "whole-number control holds no whole number:", c.constant);
    const long long n = std::get<long long>(v);
    long long lo = 0, hi = 0;
    switch (c.type) {
    case DataType::Int: lo = INT32_MIN, hi = INT32_MAX; break;
    case DataType::Short: lo = INT16_MIN, hi = INT16_MAX; break;
    case DataType::UShort: lo = 0, hi = UINT16_MAX; break;
    case DataType::UInt: lo = 0, hi = UINT32_MAX; break;
    default: return;
    }
    check(n >= lo && n <= hi, "value outside its type's width:", c.constant + "=" + std::to_string(n));
}

// A folder of the target's own for the files it writes, in memory (/dev/shm) where there is
// one, named after the target and the process; removed with everything in it at the end.
struct ScratchDir {
    explicit ScratchDir(const std::string& target)
    {
        namespace fs = std::filesystem;
        const fs::path base = fs::exists("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path();
        path = base / ("vek-fuzz-" + target + "-" + std::to_string(::getpid()));
        fs::create_directories(path);
    }
    ~ScratchDir()
    {
        std::error_code ec;
        std::filesystem::remove_all(path, ec);
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    std::string file(const std::string& name) const { return (path / name).string(); }

    std::filesystem::path path;
};

}  // namespace vek::fuzz
