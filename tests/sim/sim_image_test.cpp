// Register image files: what they set, and what is refused and where.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "image_file.h"
#include "options.h"

using namespace vek::sim;

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
           Case{"{\"registers\": {\"12\": 300,}}", "line 1, column 26"},
           Case{"{\n  \"registers\": {\n    \"12\" 300}}", "line 3, column 10"},
           Case{"[1, 2]", "must be a JSON object"},
           Case{"{\"register\": {}}", "unknown member \"register\""},
           Case{"{\"registers\": {\"79\": 1}}", "\"79\" is not a register number"},
           Case{"{\"registers\": {\"0\": 1}}", "\"0\" is not a register number"},
           Case{"{\"registers\": {\"x1\": 1}}", "not a register number"},
           Case{"{\"registers\": {\"12\": 70000}}", "70000"},
           Case{"{\"registers\": {\"12\": -1}}", "-1"},
           Case{"{\"registers\": {\"12\": 1.5}}", "1.5"},
           Case{"{\"registers\": {\"12\": \"300\"}}", "must be a number"},
           Case{"{\"registers\": {\"12\": 1, \"12\": 2}}", "second time"},
           Case{"{\"registers\": {\"4\": 1}, \"floats\": {\"3\": 2.0}}", "second time"},
           Case{"{\"floats\": {\"78\": 1.0}}", "1 to 77"},
           Case{"{\"floats\": {\"3\": 1e39}}", "single-precision"},
           Case{"{\"config_index\": \"TOO-LONG9\"}", "at most 8"},
           Case{"{\"registers\": {}} trailing", "after the end"},
           Case{"{\"registers\": {\"1\": tru}}", "unknown word"},
           Case{"{\"a\": \"unterminated}", "unterminated string"},
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
