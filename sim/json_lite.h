// Just enough JSON to read a register image: objects, arrays, strings, numbers, literals.
#pragma once
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vek::sim::json {

struct Value {
  enum class Kind { Null, Bool, Number, String, Array, Object };
  Kind kind = Kind::Null;
  bool boolean = false;
  double number = 0;
  std::string text;                    // the number's source text too, to tell 12 from 12.0
  std::vector<Value> items;
  // Members in file order; duplicates are kept so that the reader can complain about them.
  std::vector<std::pair<std::string, Value>> members;
};

struct ParseResult {
  bool ok = false;
  Value value;
  std::string error;  // "line 3, column 7: expected ':'"
};

ParseResult parse(std::string_view text);

}  // namespace vek::sim::json
