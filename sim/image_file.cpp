#include "image_file.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <fstream>
#include <optional>
#include <sstream>

#include "json_lite.h"

namespace vek::sim {

namespace {

std::optional<int> registerNumber(const std::string& key) {
  int n = 0;
  const auto [end, ec] = std::from_chars(key.data(), key.data() + key.size(), n);
  if (key.empty() || ec != std::errc{} || end != key.data() + key.size()) return std::nullopt;
  return n;
}

bool claim(ImageLoad& load, int n, const char* what) {
  if (!load.given.insert(n).second) {
    load.error = std::string(what) + " sets register " + std::to_string(n) + " a second time";
    return false;
  }
  return true;
}

}  // namespace

ImageLoad applyImageJson(std::string_view document, RegisterImage& image) {
  ImageLoad load;
  const auto parsed = json::parse(document);
  if (!parsed.ok) { load.error = parsed.error; return load; }
  if (parsed.value.kind != json::Value::Kind::Object) { load.error = "the image must be a JSON object"; return load; }

  for (const auto& [section, body] : parsed.value.members) {
    if (section == "registers" || section == "floats") {
      if (body.kind != json::Value::Kind::Object) { load.error = "\"" + section + "\" must be an object"; return load; }
      const bool isFloat = section == "floats";
      for (const auto& [key, v] : body.members) {
        const auto n = registerNumber(key);
        const int last = isFloat ? kRegisterCount - 1 : kRegisterCount;
        if (!n || *n < 1 || *n > last) {
          load.error = section + ": \"" + key + "\" is not a register number (1 to " + std::to_string(last) + ")";
          return load;
        }
        if (v.kind != json::Value::Kind::Number) {
          load.error = section + " " + key + ": the value must be a number";
          return load;
        }
        if (isFloat) {
          if (!std::isfinite(static_cast<float>(v.number))) { load.error = "floats " + key + ": out of single-precision range"; return load; }
          if (!claim(load, *n, "floats") || !claim(load, *n + 1, "floats")) return load;
          image.setFloat(*n, static_cast<float>(v.number));
        } else {
          if (v.number != std::floor(v.number) || v.number < 0 || v.number > 65535) {
            load.error = "registers " + key + ": " + v.text + " is not a whole number from 0 to 65535";
            return load;
          }
          if (!claim(load, *n, "registers")) return load;
          image.set(*n, static_cast<std::uint16_t>(v.number));
        }
      }
    } else if (section == "config_index") {
      if (body.kind != json::Value::Kind::String || body.text.size() > reg::kConfigIndexLength) {
        load.error = "\"config_index\" must be text of at most 8 characters";
        return load;
      }
      for (int i = 0; i < reg::kConfigIndexLength; ++i) {
        if (!claim(load, reg::kConfigIndex + i, "config_index")) return load;
      }
      image.setConfigIndex(body.text);
    } else {
      load.error = "unknown member \"" + section + "\" (expected registers, floats, config_index)";
      return load;
    }
  }
  load.ok = true;
  return load;
}

ImageLoad loadImageFile(const std::string& path, RegisterImage& image) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    ImageLoad load;
    load.error = path + ": cannot read: " + std::strerror(errno);
    return load;
  }
  std::ostringstream text;
  text << in.rdbuf();
  ImageLoad load = applyImageJson(text.str(), image);
  if (!load.ok) load.error = path + ": " + load.error;
  return load;
}

}  // namespace vek::sim
