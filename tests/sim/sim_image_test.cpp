// Register image files: what they set, and what is refused and where.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "image_file.h"
#include "options.h"

using namespace vek::sim;

namespace {

RegisterImage loaded(const std::string& doc)
{
    RegisterImage img = RegisterImage::defaults();
    const ImageLoad r = applyImageJson(doc, img);
    EXPECT_TRUE(r.ok) << doc << " -> " << r.error;
    return img;
}

}  // namespace

TEST(SimImageFile, AppliesRegistersFloatsAndConfigIndex)
{
    RegisterImage img = RegisterImage::defaults();
    const auto r = applyImageJson(R"({
    "registers": {"25": 7, "68": 18, "75": 1, "1": 65535},
    "floats": {"3": 42.5, "19": 1.0},
    "config_index": "AB"
  })",
                                  img);
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

TEST(SimImageFile, RefusesMeaninglessImages)
{
    struct Case {
        std::string doc;
        const char* says;
    };
    for (const Case& c : {
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
             Case{"{\"registers\": {\"12\": 1}, \"registers\": {\"12\": 1}}",
                  "registers sets register 12 a second time"},
             Case{"{\"registers\": {\"4\": 1}, \"floats\": {\"3\": 2.0}}", "floats sets register 4 a second time"},
             Case{"{\"config_index\": \"A\", \"config_index\": \"B\"}", "second time"},
             Case{"{\"floats\": {\"78\": 1.0}}", "1 to 77"},
             Case{"{\"floats\": {\"3\": 1e39}}", "single-precision"},
             Case{"{\"config_index\": \"TOO-LONG9\"}", "at most 8"},
             Case{"{\"config_index\": 12345678}", "at most 8"},
         }) {
        RegisterImage img = RegisterImage::defaults();
        const auto r = applyImageJson(c.doc, img);
        EXPECT_FALSE(r.ok) << c.doc;
        EXPECT_NE(r.error.find(c.says), std::string::npos) << c.doc << " -> " << r.error;
    }
}

// What is not JSON is refused with the place the JSON library stopped at and its own
// words after it; the words are the library's to choose, the place is what a user looks for.
TEST(SimImageFile, RefusesWhatIsNotJsonAtItsPlace)
{
    struct Case {
        std::string doc;
        std::string place;
    };
    for (const Case& c : {
             Case{"", "line 1, column 1: "},
             Case{"{\"registers\": {\"12\": 300,}}", "line 1, column 26: "},
             Case{"{\n  \"registers\": {\n    \"12\" 300}}", "line 3, column 12: "},
             Case{"{\"registers\": {\"12\": 300}", "line 1, column 26: "},  // just past the end
             Case{"{\"registers\": {}} trailing", "line 1, column 21: "},
             Case{"{\"registers\": {}} {}", "line 1, column 19: "},
             Case{"{\"registers\": {\"1\": tru}}", "line 1, column 24: "},
             Case{"{\"a\": \"unterminated}", "line 1, column 21: "},
             Case{"{\"config_index\": \"A\tB\"}", "line 1, column 20: "},
             Case{"{\"config_index\": \"A\\qB\"}", "line 1, column 21: "},
             Case{"{\"config_index\": \"A\\u12\"}", "line 1, column 24: "},
             Case{"{\"config_index\": \"A\\uD800\"}", "line 1, column 26: "},  // half of a UTF-16 pair
             // Beyond a double: not infinity, not the largest double.
             Case{"{\"floats\": {\"3\": 1e400}}", "line 1, column 22: "},
             // JSON has no comments, no single quotes and no non-finite numbers; neither has an image.
             Case{"// factory\n{}", "line 1, column 1: "},
             Case{"{\"registers\": {} /* none */}", "line 1, column 18: "},
             Case{"{'registers': {}}", "line 1, column 2: "},
             Case{"{\"floats\": {\"3\": NaN}}", "line 1, column 18: "},
             Case{"{\"floats\": {\"3\": Infinity}}", "line 1, column 18: "},
             Case{"{\"floats\": {\"3\": -Infinity}}", "line 1, column 19: "},
             Case{"{\"floats\": {\"3\": .5}}", "line 1, column 18: "},
             Case{"{\"floats\": {\"3\": 5.}}", "line 1, column 20: "},
             // Leading zeros are not JSON, in a negative number neither.
             Case{"{\"registers\": {\n\"74\": 01}}", "line 2, column 8: "},
             Case{"{\"floats\": {\"3\": -00.5}}", "line 1, column 22: "},
             // Text is UTF-8: a Latin-1 byte as an older editor writes it is refused.
             Case{"{\"config_index\": \"M\xDCLLER\"}", "line 1, column 21: "},
         }) {
        RegisterImage img = RegisterImage::defaults();
        const auto r = applyImageJson(c.doc, img);
        EXPECT_FALSE(r.ok) << c.doc;
        EXPECT_TRUE(r.error.starts_with(c.place)) << c.doc << " -> " << r.error;
        EXPECT_GT(r.error.size(), c.place.size()) << c.doc << ": the place alone says nothing";
    }
}

// Deep nesting is refused early, wherever it is, and what an image can mean is not.
TEST(SimImageFile, RefusesDeepNesting)
{
    const auto nested = [](int levels) {  // a register's value in an image `levels` deep
        return "{\"registers\": {\"1\": " + std::string(levels - 2, '[') + std::string(levels - 2, ']') + "}}";
    };
    RegisterImage img = RegisterImage::defaults();
    EXPECT_NE(applyImageJson(nested(64), img).error.find("must be a number"), std::string::npos);
    EXPECT_NE(applyImageJson(nested(65), img).error.find("deeper than 64"), std::string::npos);
    const std::string deep = std::string(100000, '[') + std::string(100000, ']');
    for (const std::string& doc : {deep, "{\"config_index\": " + deep + "}"}) {
        const ImageLoad r = applyImageJson(doc, img);
        EXPECT_NE(r.error.find("deeper than 64"), std::string::npos) << doc.substr(0, 40) << " -> " << r.error;
    }
}

// The master shows each configuration index register as a Latin-1 character; the file
// writes them in UTF-8 like any JSON text.
TEST(SimImageFile, ConfigIndexIsLatin1WrittenAsUtf8)
{
    RegisterImage img = loaded("{\"config_index\": \"M\xC3\x9CLLER\"}");
    const std::pair<int, int> muller[] = {{29, 'M'}, {30, 0xDC}, {31, 'L'}, {34, 'R'}, {35, 0}, {36, 0}};
    for (const auto& [n, v] : muller) {
        EXPECT_EQ(img.get(n), v) << "register " << n;
    }
    // Eight characters are eight registers however many bytes UTF-8 takes for them; escapes,
    // DEL and the last Latin-1 character included.
    img = loaded("{\"config_index\": \"\xC3\x84\\u00D6\x7F\\u007F\xC3\xA4\xC3\xB6\xC3\xBC\\u00FF\"}");
    const std::pair<int, int> eight[] = {{29, 0xC4}, {30, 0xD6}, {31, 0x7F}, {32, 0x7F},
                                         {33, 0xE4}, {34, 0xF6}, {35, 0xFC}, {36, 0xFF}};
    for (const auto& [n, v] : eight) {
        EXPECT_EQ(img.get(n), v) << "register " << n;
    }

    struct Case {
        std::string doc;
        const char* says;
    };
    for (const Case& c : {
             Case{"{\"config_index\": \"\xC3\x84\xC3\x84\xC3\x84\xC3\x84\xC3\x84\xC3\x84\xC3\x84\xC3\x84\xC3\x84\"}",
                  "at most 8"},
             Case{"{\"config_index\": \"\\u0100\"}", "\"config_index\": U+0100 is not a Latin-1 character"},
             Case{"{\"config_index\": \"5\xE2\x82\xAC\"}", "\"config_index\": U+20AC is not"},
             Case{"{\"config_index\": \"\\uD83D\\uDE00\"}", "\"config_index\": U+1F600 is not"},
         }) {
        RegisterImage bad = RegisterImage::defaults();
        const ImageLoad r = applyImageJson(c.doc, bad);
        EXPECT_FALSE(r.ok) << c.doc;
        EXPECT_NE(r.error.find(c.says), std::string::npos) << c.doc << " -> " << r.error;
    }
}

TEST(SimImageFile, ReadsSectionsTwiceByteOrderMarksNegativeZeroAndTinyNumbers)
{
    // A section named twice: both count, in file order (a register in both is refused above).
    RegisterImage twice = RegisterImage::defaults();
    const ImageLoad r =
        applyImageJson(R"({"registers": {"11": 4500}, "floats": {"3": 1.5}, "registers": {"12": 400}})", twice);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(twice.get(11), 4500);
    EXPECT_EQ(twice.get(12), 400);
    EXPECT_TRUE(r.given.count(11) && r.given.count(12));

    // -0 keeps its sign in a float: bit 31, the top of the second register.
    RegisterImage img = loaded(R"({"floats": {"7": -0}})");
    EXPECT_EQ(img.get(7), 0);
    EXPECT_EQ(img.get(8), 0x8000);

    // The byte-order mark some editors put at the start of a UTF-8 file.
    EXPECT_EQ(loaded("\xEF\xBB\xBF{\"registers\": {\"25\": 9}}").get(25), 9);
    // A number too small for a double is 0, as one too small for a float always was.
    img = loaded(R"({"floats": {"9": 1e-400, "3": 1e-50}})");
    EXPECT_EQ(img.getFloat(9), 0.0f);
    EXPECT_EQ(img.getFloat(3), 0.0f);
    // A zero on its own and an exponent with zeros are no leading zeros.
    img = loaded(R"({"registers": {"12": 0}, "floats": {"5": 1E007}})");
    EXPECT_EQ(img.get(12), 0);
    EXPECT_EQ(img.getFloat(5), 1e7f);
}

TEST(SimImageFile, SetupRefusesAnImageThatLeavesTheSlaveUnreachable)
{
    const std::string path = ::testing::TempDir() + "sim_bad_uid.json";
    for (const char* doc :
         {R"({"registers": {"25": 0}})", R"({"registers": {"75": 2}})", R"({"registers": {"74": 9}})"}) {
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
