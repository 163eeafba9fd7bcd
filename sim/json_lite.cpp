#include "json_lite.h"

#include <charconv>
#include <cstdint>

namespace vek::sim::json {

namespace {

// Nesting deeper than any register image needs is refused instead of recursing without end.
constexpr int kMaxDepth = 32;

class Parser {
 public:
  explicit Parser(std::string_view t) : t_(t) {}

  ParseResult run() {
    ParseResult r;
    skipSpace();
    if (!value(r.value, 0)) { r.error = where() + error_; return r; }
    skipSpace();
    if (pos_ != t_.size()) { r.error = where() + "unexpected text after the end of the document"; return r; }
    r.ok = true;
    return r;
  }

 private:
  bool fail(std::string msg) { error_ = std::move(msg); return false; }

  std::string where() const {
    int line = 1, col = 1;
    for (std::size_t i = 0; i < pos_ && i < t_.size(); ++i) {
      if (t_[i] == '\n') { ++line; col = 1; } else { ++col; }
    }
    return "line " + std::to_string(line) + ", column " + std::to_string(col) + ": ";
  }

  void skipSpace() {
    while (pos_ < t_.size() && (t_[pos_] == ' ' || t_[pos_] == '\t' || t_[pos_] == '\n' || t_[pos_] == '\r')) ++pos_;
  }

  bool literal(std::string_view word) {
    if (t_.substr(pos_, word.size()) != word) return fail("unknown word");
    pos_ += word.size();
    return true;
  }

  bool value(Value& v, int depth) {
    if (depth > kMaxDepth) return fail("nested too deeply");
    if (pos_ >= t_.size()) return fail("unexpected end of file");
    const char c = t_[pos_];
    if (c == '{') return object(v, depth);
    if (c == '[') return array(v, depth);
    if (c == '"') { v.kind = Value::Kind::String; return string(v.text); }
    if (c == 't') { v.kind = Value::Kind::Bool; v.boolean = true; return literal("true"); }
    if (c == 'f') { v.kind = Value::Kind::Bool; v.boolean = false; return literal("false"); }
    if (c == 'n') { v.kind = Value::Kind::Null; return literal("null"); }
    if (c == '-' || (c >= '0' && c <= '9')) return number(v);
    return fail(std::string("unexpected character '") + c + "'");
  }

  bool number(Value& v) {
    const std::size_t start = pos_;
    if (t_[pos_] == '-') ++pos_;
    auto digits = [&] {
      const std::size_t d = pos_;
      while (pos_ < t_.size() && t_[pos_] >= '0' && t_[pos_] <= '9') ++pos_;
      return pos_ > d;
    };
    if (!digits()) return fail("a number needs digits");
    if (pos_ < t_.size() && t_[pos_] == '.') { ++pos_; if (!digits()) return fail("digits must follow '.'"); }
    if (pos_ < t_.size() && (t_[pos_] == 'e' || t_[pos_] == 'E')) {
      ++pos_;
      if (pos_ < t_.size() && (t_[pos_] == '+' || t_[pos_] == '-')) ++pos_;
      if (!digits()) return fail("digits must follow the exponent");
    }
    v.kind = Value::Kind::Number;
    v.text = std::string(t_.substr(start, pos_ - start));
    const auto [end, ec] = std::from_chars(v.text.data(), v.text.data() + v.text.size(), v.number);
    if (ec != std::errc{} || end != v.text.data() + v.text.size()) return fail("number out of range");
    return true;
  }

  static void putUtf8(std::string& out, std::uint32_t cp) {
    if (cp < 0x80) {
      out += static_cast<char>(cp);
    } else if (cp < 0x800) {
      out += static_cast<char>(0xC0 | (cp >> 6));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
      out += static_cast<char>(0xE0 | (cp >> 12));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    }
  }

  bool string(std::string& out) {
    ++pos_;  // opening quote
    out.clear();
    while (true) {
      if (pos_ >= t_.size()) return fail("unterminated string");
      const char c = t_[pos_++];
      if (c == '"') return true;
      if (static_cast<unsigned char>(c) < 0x20) return fail("control character in string");
      if (c != '\\') { out += c; continue; }
      if (pos_ >= t_.size()) return fail("unterminated string");
      const char e = t_[pos_++];
      switch (e) {
        case '"': out += '"'; break;
        case '\\': out += '\\'; break;
        case '/': out += '/'; break;
        case 'b': out += '\b'; break;
        case 'f': out += '\f'; break;
        case 'n': out += '\n'; break;
        case 'r': out += '\r'; break;
        case 't': out += '\t'; break;
        case 'u': {
          if (pos_ + 4 > t_.size()) return fail("short \\u escape");
          std::uint32_t cp = 0;
          const auto [end, ec] = std::from_chars(t_.data() + pos_, t_.data() + pos_ + 4, cp, 16);
          if (ec != std::errc{} || end != t_.data() + pos_ + 4) return fail("bad \\u escape");
          pos_ += 4;
          putUtf8(out, cp);
          break;
        }
        default: return fail("unknown escape");
      }
    }
  }

  bool array(Value& v, int depth) {
    v.kind = Value::Kind::Array;
    ++pos_;
    skipSpace();
    if (pos_ < t_.size() && t_[pos_] == ']') { ++pos_; return true; }
    while (true) {
      skipSpace();
      Value item;
      if (!value(item, depth + 1)) return false;
      v.items.push_back(std::move(item));
      skipSpace();
      if (pos_ >= t_.size()) return fail("unterminated array");
      if (t_[pos_] == ',') { ++pos_; continue; }
      if (t_[pos_] == ']') { ++pos_; return true; }
      return fail("expected ',' or ']'");
    }
  }

  bool object(Value& v, int depth) {
    v.kind = Value::Kind::Object;
    ++pos_;
    skipSpace();
    if (pos_ < t_.size() && t_[pos_] == '}') { ++pos_; return true; }
    while (true) {
      skipSpace();
      if (pos_ >= t_.size() || t_[pos_] != '"') return fail("expected a member name in quotes");
      std::string key;
      if (!string(key)) return false;
      skipSpace();
      if (pos_ >= t_.size() || t_[pos_] != ':') return fail("expected ':'");
      ++pos_;
      skipSpace();
      Value member;
      if (!value(member, depth + 1)) return false;
      v.members.emplace_back(std::move(key), std::move(member));
      skipSpace();
      if (pos_ >= t_.size()) return fail("unterminated object");
      if (t_[pos_] == ',') { ++pos_; continue; }
      if (t_[pos_] == '}') { ++pos_; return true; }
      return fail("expected ',' or '}'");
    }
  }

  std::string_view t_;
  std::size_t pos_ = 0;
  std::string error_;
};

}  // namespace

ParseResult parse(std::string_view text) { return Parser(text).run(); }

}  // namespace vek::sim::json
