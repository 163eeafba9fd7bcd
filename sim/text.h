// String building by appending. GCC 12 at -O2 warns falsely (-Wrestrict) about
// `"literal" + std::string(...)`; appending into one string says the same thing without it.
#pragma once
#include <string>
#include <string_view>

namespace vek::sim {

template <typename... Parts>
std::string cat(const Parts&... parts)
{
    std::string s;
    (s.append(std::string_view(parts)), ...);
    return s;
}

}  // namespace vek::sim
