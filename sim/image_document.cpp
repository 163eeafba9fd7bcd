#include "image_document.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <array>
#include <cctype>

#include "text.h"

namespace vek::sim {

namespace {

using Json = nlohmann::json;

// ---- What older images may contain that JSON does not allow ------------------------------
//
// The simulator used to read images with a reader of its own that let two things through
// that nlohmann-json refuses, and a stored image may rely on either: numbers with leading
// zeros ("74": 01), and text that is not UTF-8 (a configuration index typed in Latin-1,
// which is how the master shows those registers). Both are rewritten before the library
// sees them, byte for byte in place, so that an error's line and column still point into
// the file: the extra zeros become spaces, and each stray byte in a string becomes DEL
// (which JSON lets stand unescaped in text) and is put back when the string is read.

struct Relaxed {
  std::string text;
  // For each DEL the strings will yield, in file order: the byte it stands for (a real DEL,
  // written raw or as \u007F, stands for itself).
  std::string delBytes;
};

// Length of the well-formed UTF-8 sequence at s[i] as RFC 3629 (and nlohmann-json) has it, 0 if none.
std::size_t utf8Length(std::string_view s, std::size_t i) {
  const auto at = [&](std::size_t k) { return i + k < s.size() ? static_cast<unsigned char>(s[i + k]) : 0u; };
  const auto tail = [&](std::size_t k, unsigned lo = 0x80, unsigned hi = 0xBF) { return at(k) >= lo && at(k) <= hi; };
  const unsigned c = at(0);
  if (c < 0x80) return 1;
  if (c >= 0xC2 && c <= 0xDF) return tail(1) ? 2 : 0;
  if (c == 0xE0) return tail(1, 0xA0) && tail(2) ? 3 : 0;
  if (c == 0xED) return tail(1, 0x80, 0x9F) && tail(2) ? 3 : 0;  // not a UTF-16 surrogate
  if (c >= 0xE1 && c <= 0xEF) return tail(1) && tail(2) ? 3 : 0;
  if (c == 0xF0) return tail(1, 0x90) && tail(2) && tail(3) ? 4 : 0;
  if (c >= 0xF1 && c <= 0xF3) return tail(1) && tail(2) && tail(3) ? 4 : 0;
  if (c == 0xF4) return tail(1, 0x80, 0x8F) && tail(2) && tail(3) ? 4 : 0;
  return 0;
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// Characters that continue a number or a word: a '0' or '-' after one of them does not start a number.
bool continuesToken(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '+' || c == '-'; }

bool isDelEscape(std::string_view s, std::size_t backslash) {
  if (s.substr(backslash + 1, 1) != "u") return false;
  const std::string_view hex = s.substr(backslash + 2, 4);
  return hex.size() == 4 && hex.substr(0, 3) == "007" && (hex[3] == 'f' || hex[3] == 'F');
}

Relaxed relax(std::string_view in) {
  Relaxed r{std::string(in), {}};
  std::string& t = r.text;
  bool inString = false;
  for (std::size_t i = 0; i < t.size();) {
    const char c = t[i];
    if (inString) {
      if (c == '"') {
        inString = false;
        ++i;
      } else if (c == '\\') {
        if (isDelEscape(t, i)) r.delBytes += '\x7f';
        i += 2;
      } else if (const std::size_t n = utf8Length(t, i); n == 0 || c == '\x7f') {
        r.delBytes += c;
        t[i++] = '\x7f';
      } else {
        i += n;
      }
      continue;
    }
    if (c == '"') {
      inString = true;
    } else if ((c == '-' || c == '0') && (i == 0 || !continuesToken(t[i - 1]))) {
      // "-007.5" becomes "  -7.5": a zero followed by a digit is one too many.
      const std::size_t digits = c == '-' ? i + 1 : i;
      std::size_t z = digits;
      while (z + 1 < t.size() && t[z] == '0' && isDigit(t[z + 1])) ++z;
      if (z > digits) {
        std::fill(t.begin() + static_cast<std::ptrdiff_t>(digits), t.begin() + static_cast<std::ptrdiff_t>(z), ' ');
        if (c == '-') std::swap(t[i], t[z - 1]);
      }
      i = std::max(z, i + 1);
      continue;
    }
    ++i;
  }
  return r;
}

// ---- Where and what an error is ----------------------------------------------------------
//
// The library tells how far it read and describes the error in English; the messages below
// are the ones this program has always given, placed at the start of the thing that is
// wrong. The library's wording is matched on its text (nlohmann-json 3.11); a message it
// does not know is passed on as it is.

std::string place(std::string_view text, std::size_t at) {
  int line = 1, col = 1;
  for (std::size_t i = 0; i < at && i < text.size(); ++i) {
    if (text[i] == '\n') { ++line; col = 1; } else { ++col; }
  }
  return "line " + std::to_string(line) + ", column " + std::to_string(col) + ": ";
}

// The character read last when `end` characters were read (the end of the file counts as one).
std::size_t lastRead(std::string_view t, std::size_t end) { return std::min(end == 0 ? 0 : end - 1, t.size()); }

bool isNumberChar(char c) { return isDigit(c) || c == '-' || c == '+' || c == '.' || c == 'e' || c == 'E'; }

// Where the token that ends just before `end` begins; `name` is how the library called it.
std::size_t tokenStart(std::string_view t, std::size_t end, std::string_view name) {
  end = std::min(end, t.size());
  if (name == "end of input") return t.size();
  if (name == "number literal") {
    while (end > 0 && isNumberChar(t[end - 1])) --end;
    return end;
  }
  if (name == "string literal") {
    // Back from the closing quote to the first quote not escaped by an odd run of backslashes.
    for (std::size_t q = t.rfind('"', end >= 2 ? end - 2 : 0); q != std::string_view::npos && q > 0;
         q = t.rfind('"', q - 1)) {
      std::size_t slashes = 0;
      while (slashes < q && t[q - 1 - slashes] == '\\') ++slashes;
      if (slashes % 2 == 0) return q;
    }
    return 0;
  }
  for (std::string_view word : {"true", "false", "null"}) {
    if (name == cat(word, " literal")) return end >= word.size() ? end - word.size() : 0;
  }
  return end > 0 ? end - 1 : 0;  // a single character: { } [ ] , :
}

// Where a word that should have been true, false or null begins: `end` is just past the
// first character that did not fit.
std::size_t wordStart(std::string_view t, std::size_t end) {
  const std::size_t bad = lastRead(t, end);
  for (std::size_t k = 4; k >= 1; --k) {
    if (k > bad) continue;
    const std::string_view read = t.substr(bad - k, k);
    for (std::string_view word : {"true", "false", "null"}) {
      if (k < word.size() && word.substr(0, k) == read) return bad - k;
    }
  }
  return bad;
}

std::string unexpectedCharacter(std::string_view t, std::size_t at) {
  if (at >= t.size()) return "unexpected end of file";
  return cat("unexpected character '", t.substr(at, 1), "'");
}

// The library's description of a character-level error, in this program's words.
std::string lexerMessage(std::string_view lexer) {
  constexpr std::array<std::pair<std::string_view, std::string_view>, 10> kWords{{
      {"invalid string: missing closing quote", "unterminated string"},
      {"invalid string: control character", "control character in string"},
      {"invalid string: forbidden character after backslash", "unknown escape"},
      {"invalid string: '\\u' must be followed by 4 hex digits", "bad \\u escape"},
      {"invalid string: surrogate", "unpaired surrogate in \\u escape"},
      {"invalid string: ill-formed UTF-8", "text is not UTF-8"},
      {"invalid number; expected digit after '-'", "a number needs digits"},
      {"invalid number; expected digit after '.'", "digits must follow '.'"},
      {"invalid number; expected digit after exponent", "digits must follow the exponent"},
      {"invalid number; expected '+', '-', or digit after exponent", "digits must follow the exponent"},
  }};
  for (const auto& [theirs, ours] : kWords) {
    if (lexer.starts_with(theirs)) return std::string(ours);
  }
  return std::string(lexer);
}

std::string describe(std::string_view t, std::size_t end, const Json::exception& ex) {
  if (ex.id == 406) {  // the only out-of-range error a parse gives: a number beyond double
    return place(t, tokenStart(t, end, "number literal")) + "number out of range";
  }
  // "[json.exception.parse_error.101] parse error at ...: syntax error while parsing
  //  <context> - <what>[; last read: '<text>'][; expected <token>]"
  const std::string_view what = ex.what();
  const std::size_t dash = what.find(" - ");
  if (dash == std::string_view::npos) return place(t, end) + std::string(what);
  const std::string_view head = what.substr(0, dash);
  const std::size_t parsing = head.rfind("while parsing ");
  const std::string_view context = parsing == std::string_view::npos ? "" : head.substr(parsing + 14);
  std::string_view detail = what.substr(dash + 3);
  const bool afterEnd = detail.ends_with("; expected end of input");

  // Where the token that does not fit begins, and what is wrong with it.
  std::size_t at = 0;
  std::string says;
  bool outOfPlace = true;  // a whole token where the grammar wants another, not a broken one
  if (const std::size_t readAt = detail.find("; last read: '"); readAt != std::string_view::npos) {
    const std::string_view lexer = detail.substr(0, readAt);
    if (lexer == "invalid literal") {
      at = wordStart(t, end);
      const bool word = at < t.size() && (t[at] == 't' || t[at] == 'f' || t[at] == 'n');
      says = word ? "unknown word" : unexpectedCharacter(t, at);
    } else {
      // A broken string or number: the character read last is the one that does not fit.
      at = lastRead(t, end);
      outOfPlace = false;
      says = lexer.starts_with("invalid string") && at == t.size() ? "unterminated string" : lexerMessage(lexer);
    }
  } else {  // "unexpected <token>; expected <token>"
    detail.remove_prefix(std::min(detail.size(), std::string_view("unexpected ").size()));
    const std::string_view token = detail.substr(0, detail.find("; expected"));
    at = tokenStart(t, end, token);
    says = unexpectedCharacter(t, at);
  }
  const bool atEnd = at >= t.size();
  if (afterEnd) {
    says = "unexpected text after the end of the document";
  } else if (outOfPlace) {
    if (context == "object key") says = "expected a member name in quotes";
    else if (context == "object separator") says = "expected ':'";
    else if (context == "object") says = atEnd ? "unterminated object" : "expected ',' or '}'";
    else if (context == "array") says = atEnd ? "unterminated array" : "expected ',' or ']'";
  }
  return place(t, at) + says;
}

// ---- The reader ------------------------------------------------------------------------
//
// Events rather than nlohmann's own document: that one keeps only the last of two equal
// keys, and the image reader has always seen every member in the order of the file (two
// "registers" sections both count; a register named twice is an error it reports).

class Collector final : public nlohmann::json_sax<Json> {
 public:
  Collector(std::string_view text, std::string delBytes) : text_(text), delBytes_(std::move(delBytes)) {}

  ImageDocument take() { return std::move(doc_); }

  bool null() override { return value(ImageMember::Kind::Other); }
  bool boolean(bool) override { return value(ImageMember::Kind::Other); }
  // Only a number written with a minus sign arrives here, so 0 is "-0": keep its sign.
  bool number_integer(number_integer_t v) override {
    return value(ImageMember::Kind::Number, v == 0 ? -0.0 : static_cast<double>(v), std::to_string(v));
  }
  bool number_unsigned(number_unsigned_t v) override {
    return value(ImageMember::Kind::Number, static_cast<double>(v), std::to_string(v));
  }
  bool number_float(number_float_t v, const string_t& written) override {
    return value(ImageMember::Kind::Number, v, written);
  }
  bool string(string_t& s) override { return value(ImageMember::Kind::String, 0, restore(s)); }
  bool binary(binary_t&) override { return value(ImageMember::Kind::Other); }
  bool start_object(std::size_t) override { return open(ImageMember::Kind::Object); }
  bool start_array(std::size_t) override { return open(ImageMember::Kind::Other); }
  bool end_object() override { return close(); }
  bool end_array() override { return close(); }
  bool key(string_t& k) override {
    if (depth_ == 1) section_ = restore(k);
    else if (depth_ == 2) key_ = restore(k);
    else restore(k);
    return true;
  }
  bool parse_error(std::size_t end, const std::string&, const Json::exception& ex) override {
    doc_.error = describe(text_, end, ex);
    return false;
  }

 private:
  // Depth 0 is the image, 1 a section's value, 2 a register's; deeper values only make
  // the register's value "not a number".
  bool value(ImageMember::Kind kind, double number = 0, std::string text = {}) {
    if (depth_ == 0) {
      doc_.isObject = kind == ImageMember::Kind::Object;
    } else if (depth_ == 1 && doc_.isObject) {
      doc_.members.push_back({section_, std::nullopt, kind, number, std::move(text)});
      sectionIsObject_ = kind == ImageMember::Kind::Object;
    } else if (depth_ == 2 && sectionIsObject_) {
      doc_.members.push_back({section_, key_, kind, number, std::move(text)});
    }
    return true;
  }
  bool open(ImageMember::Kind kind) {
    value(kind);
    ++depth_;
    return true;
  }
  bool close() {
    --depth_;
    return true;
  }

  std::string restore(std::string& s) {
    for (char& c : s) {
      if (c == '\x7f' && next_ < delBytes_.size()) c = delBytes_[next_++];
    }
    return s;
  }

  std::string_view text_;
  std::string delBytes_;
  std::size_t next_ = 0;
  ImageDocument doc_;
  int depth_ = 0;
  bool sectionIsObject_ = false;
  std::string section_, key_;
};

}  // namespace

ImageDocument readImageDocument(std::string_view text) {
  Relaxed relaxed = relax(text);
  Collector collector(text, std::move(relaxed.delBytes));  // errors quote the file as written
  // Strict: nothing may follow the image; comments are not JSON and never were accepted.
  const bool ok = Json::sax_parse(relaxed.text, &collector, nlohmann::json::input_format_t::json, true, false);
  ImageDocument doc = collector.take();
  doc.ok = ok;  // false only after parse_error, which has said why
  return doc;
}

}  // namespace vek::sim
