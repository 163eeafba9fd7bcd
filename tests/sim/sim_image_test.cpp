// Register image files: what they set, what is refused and where, and the leniencies of
// the image reader that stored files may rely on.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "image_file.h"
#include "options.h"

using namespace vek::sim;

namespace {

RegisterImage loaded(const std::string& doc) {
  RegisterImage img = RegisterImage::defaults();
  const ImageLoad r = applyImageJson(doc, img);
  EXPECT_TRUE(r.ok) << doc << " -> " << r.error;
  return img;
}

}  // namespace

TEST(SimImageFile, AppliesRegistersFloatsAndConfigIndex) {
  RegisterImage img = RegisterImage::defaults();
  const auto r = applyImageJson(R"({
    "registers": {"25": 7, "68": 18, "75": 1, "1": 65535},
    "floats": {"3": 42.5, "19": 1.0},
    "config_index": "AB"
  })", img);
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(img.get(25), 7);
  EXPECT_EQ(img.get(68), 18);
  EXPECT_EQ(img.get(1), 65535);
  EXPECT_EQ(img.getFloat(3), 42.5f);
  EXPECT_EQ(img.get(19), 0x0000);
  EXPECT_EQ(img.get(20), 0x3F80);
  EXPECT_EQ(img.get(29), 'A');
  EXPECT_EQ(img.get(31), 0);
  EXPECT_EQ(img.get(11), 4800) << "registers not named keep their factory value";
  EXPECT_TRUE(r.given.count(20));
  EXPECT_FALSE(r.given.count(11));

}

TEST(SimImageFile, RefusesBrokenOrMeaninglessFiles) {
  struct Case { std::string doc; const char* says; };
  for (const Case& c : {
           Case{"", "line 1, column 1"},
           Case{"{\"registers\": {\"12\": 300,}}", "line 1, column 26: expected a member name in quotes"},
           Case{"{\n  \"registers\": {\n    \"12\" 300}}", "line 3, column 10: expected ':'"},
           Case{"{\"registers\": {\"12\": 300}", "line 1, column 26: unterminated object"},
           Case{"[1, 2]", "must be a JSON object"},
           Case{"{\"register\": {}}", "unknown member \"register\""},
           Case{"{\"registers\": [1]}", "\"registers\" must be an object"},
           Case{"{\"registers\": {\"79\": 1}}", "\"79\" is not a register number"},
           Case{"{\"registers\": {\"0\": 1}}", "\"0\" is not a register number"},
           Case{"{\"registers\": {\"x1\": 1}}", "not a register number"},
           Case{"{\"registers\": {\"12\": 70000}}", "70000"},
           Case{"{\"registers\": {\"12\": -1}}", "-1"},
           Case{"{\"registers\": {\"12\": 1.5}}", "1.5"},
           Case{"{\"registers\": {\"12\": 18446744073709551616}}", "18446744073709551616 is not a whole number"},
           Case{"{\"registers\": {\"12\": \"300\"}}", "must be a number"},
           Case{"{\"registers\": {\"12\": [300]}}", "must be a number"},
           Case{"{\"registers\": {\"12\": 1, \"12\": 2}}", "registers sets register 12 a second time"},
           Case{"{\"registers\": {\"12\": 1, \"012\": 2}}", "second time"},
           Case{"{\"registers\": {\"4\": 1}, \"floats\": {\"3\": 2.0}}", "second time"},
           Case{"{\"config_index\": \"A\", \"config_index\": \"B\"}", "second time"},
           Case{"{\"floats\": {\"78\": 1.0}}", "1 to 77"},
           Case{"{\"floats\": {\"3\": 1e39}}", "single-precision"},
           Case{"{\"floats\": {\"3\": 1e400}}", "line 1, column 18: number out of range"},
           Case{"{\"config_index\": \"TOO-LONG9\"}", "at most 8"},
           Case{"{\"config_index\": 12345678}", "at most 8"},
           Case{"{\"registers\": {}} trailing", "line 1, column 19: unexpected text after the end"},
           Case{"{\"registers\": {}} {}", "after the end"},
           Case{"{\"registers\": {\"1\": tru}}", "line 1, column 21: unknown word"},
           Case{"{\"a\": \"unterminated}", "unterminated string"},
           Case{"{\"config_index\": \"A\tB\"}", "line 1, column 20: control character in string"},
           Case{"{\"config_index\": \"A\\qB\"}", "unknown escape"},
           Case{"{\"config_index\": \"A\\u12\"}", "bad \\u escape"},
           // JSON has no comments, no single quotes and no non-finite numbers; neither has an image.
           Case{"// factory\n{}", "line 1, column 1: unexpected character '/'"},
           Case{"{\"registers\": {} /* none */}", "line 1, column 18: expected ',' or '}'"},
           Case{"{'registers': {}}", "expected a member name in quotes"},
           Case{"{\"floats\": {\"3\": NaN}}", "line 1, column 18: unexpected character 'N'"},
           Case{"{\"floats\": {\"3\": Infinity}}", "unexpected character 'I'"},
           Case{"{\"floats\": {\"3\": -Infinity}}", "a number needs digits"},
           Case{"{\"floats\": {\"3\": .5}}", "unexpected character '.'"},
           Case{"{\"floats\": {\"3\": 5.}}", "digits must follow '.'"},
           // Half of a UTF-16 pair is no character.
           Case{"{\"config_index\": \"A\\uD800\"}", "unpaired surrogate"},
       }) {
    RegisterImage img = RegisterImage::defaults();
    const auto r = applyImageJson(c.doc, img);
    EXPECT_FALSE(r.ok) << c.doc;
    EXPECT_NE(r.error.find(c.says), std::string::npos) << c.doc << " -> " << r.error;
  }
  // Deep nesting is refused, not recursed into until the stack runs out, wherever it is.
  const std::string deep = std::string(100000, '[') + std::string(100000, ']');
  for (const std::string& doc : {deep, "{\"registers\": {\"1\": " + deep + "}}", "{\"config_index\": " + deep + "}"}) {
    RegisterImage img = RegisterImage::defaults();
    EXPECT_FALSE(applyImageJson(doc, img).ok) << doc.substr(0, 40);
  }
}

// The simulator read images with a reader of its own before; what it let through that
// strict JSON does not, a stored image may contain, and it still reads the same.
TEST(SimImageFile, ReadsWhatTheEarlierReaderAccepted) {
  // Leading zeros, also in a negative number; a zero on its own and exponents stay as they are.
  RegisterImage img = loaded(R"({"registers": {"74": 01, "11": 004500, "12": 0},
                                 "floats": {"3": -00.5, "5": 1E007}})");
  EXPECT_EQ(img.get(74), 1);
  EXPECT_EQ(img.get(11), 4500);
  EXPECT_EQ(img.get(12), 0);
  EXPECT_EQ(img.getFloat(3), -0.5f);
  EXPECT_EQ(img.getFloat(5), 1e7f);

  // Text goes into the registers byte for byte: Latin-1 (as the master shows it) as well
  // as UTF-8, with a DEL written raw or escaped among them.
  img = loaded("{\"config_index\": \"M\xDCLLER\"}");
  EXPECT_EQ(img.get(30), 0xDC);
  EXPECT_EQ(img.get(31), 'L');
  img = loaded("{\"config_index\": \"\xC3\x9C\x7F\\u007F\xDC\x7F\"}");
  const std::pair<int, int> bytes[] = {{29, 0xC3}, {30, 0x9C}, {31, 0x7F}, {32, 0x7F}, {33, 0xDC}, {34, 0x7F}, {35, 0}};
  for (const auto& [n, v] : bytes) {
    EXPECT_EQ(img.get(n), v) << "register " << n;
  }

  // A section named twice: both count, in file order.
  RegisterImage twice = RegisterImage::defaults();
  const ImageLoad r = applyImageJson(R"({"registers": {"11": 4500}, "floats": {"3": 1.5}, "registers": {"12": 400}})", twice);
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(twice.get(11), 4500);
  EXPECT_EQ(twice.get(12), 400);
  EXPECT_TRUE(r.given.count(11) && r.given.count(12));

  // -0 keeps its sign in a float: bit 31, the top of the second register.
  img = loaded(R"({"floats": {"7": -0}})");
  EXPECT_EQ(img.get(7), 0);
  EXPECT_EQ(img.get(8), 0x8000);

  // What is rewritten moves nothing: errors behind it are placed where they are in the file.
  const std::pair<std::string, std::string> placed[] = {
      {"{\"registers\": {\"74\": 01 \"75\": 1}}", "line 1, column 25: expected ',' or '}'"},
      {"{\"registers\": {\"74\": -01x}}", "line 1, column 25: expected ',' or '}'"},
      {"{\"config_index\": \"M\xDCLLER\" 1}", "line 1, column 27: expected ',' or '}'"}};
  for (const auto& [doc, says] : placed) {
    RegisterImage bad = RegisterImage::defaults();
    const ImageLoad e = applyImageJson(doc, bad);
    EXPECT_FALSE(e.ok) << doc;
    EXPECT_NE(e.error.find(says), std::string::npos) << doc << " -> " << e.error;
  }
}

// Where the JSON library reads more than the earlier reader did: nothing a stored image
// relied on, and what a user would expect.
TEST(SimImageFile, ReadsByteOrderMarksTinyNumbersAndUtf16Pairs) {
  // The byte-order mark some editors put at the start of a UTF-8 file.
  EXPECT_EQ(loaded("\xEF\xBB\xBF{\"registers\": {\"25\": 9}}").get(25), 9);
  // A number too small for a double is 0, as one too small for a float always was.
  RegisterImage img = loaded(R"({"floats": {"9": 1e-400, "3": 1e-50}})");
  EXPECT_EQ(img.getFloat(9), 0.0f);
  EXPECT_EQ(img.getFloat(3), 0.0f);
  // A UTF-16 pair is one character: its four UTF-8 bytes (not two halves of three each).
  img = loaded(R"({"config_index": "\uD83D\uDE00AB"})");
  const std::pair<int, int> bytes[] = {{29, 0xF0}, {30, 0x9F}, {31, 0x98}, {32, 0x80}, {33, 'A'}, {34, 'B'}, {35, 0}};
  for (const auto& [n, v] : bytes) {
    EXPECT_EQ(img.get(n), v) << "register " << n;
  }
}

TEST(SimImageFile, SetupRefusesAnImageThatLeavesTheSlaveUnreachable) {
  const std::string path = ::testing::TempDir() + "sim_bad_uid.json";
  for (const char* doc : {R"({"registers": {"25": 0}})", R"({"registers": {"75": 2}})", R"({"registers": {"74": 9}})"}) {
    std::FILE* f = std::fopen(path.c_str(), "w");
    ASSERT_TRUE(f);
    std::fputs(doc, f);
    std::fclose(f);
    Options o;
    o.imagePath = path;
    const Startup s = resolveStartup(o, 1);
    EXPECT_FALSE(s.ok) << doc;
    EXPECT_NE(s.error.find("register"), std::string::npos) << s.error;
  }
  std::remove(path.c_str());
}
