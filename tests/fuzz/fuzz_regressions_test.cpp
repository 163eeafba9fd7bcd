// What the fuzzers found, pinned down as behaviour, so that it holds in every build and
// not only under clang's sanitizers.
#include <gtest/gtest.h>

#include <string>

#include "panel_model.h"

using namespace vek::ui;
using namespace vek::platform;

namespace {

std::string resourceWith(const std::string& control)
{
    return R"({"panels": [{"id": 9, "constant": "WRITE_VAL", "controls": [)" + control + "]}]}";
}

}  // namespace

// Found by the panels fuzzer: an item value or default beyond any whole number was cast
// to long long, which is undefined behaviour.
TEST(PanelResourceRegression, AnItemValueNoWholeNumberHoldsMakesTheResourceUnreadable)
{
    for (const char* v : {"1e300", "-1e300", "9.3e18", "-9.3e18", "1e19"}) {
        Panel p;
        const std::string json =
            resourceWith(std::string(R"({"id": 2, "constant": "RING", "kind": "ring", "items": [["a", )") + v + "]]}");
        EXPECT_EQ(ParsePanelResource(json, 9, p), UIE_RESOURCE_UNREADABLE) << v;
    }
}

TEST(PanelResourceRegression, AWholeNumberDefaultNoWholeNumberHoldsMakesTheResourceUnreadable)
{
    for (const char* type : {"int", "short", "unsigned short", "unsigned int"}) {
        for (const char* v : {"1e300", "-1e300", "9.3e18"}) {
            Panel p;
            const std::string json =
                resourceWith(std::string(R"({"id": 2, "constant": "N", "kind": "numeric", "type": ")") + type +
                             R"(", "default": )" + v + "}");
            EXPECT_EQ(ParsePanelResource(json, 9, p), UIE_RESOURCE_UNREADABLE) << type << ' ' << v;
        }
    }
}

TEST(PanelResourceRegression, DefaultsInRangeStillLoadAsBefore)
{
    Panel p;
    const std::string json =
        resourceWith(R"({"id": 2, "constant": "N", "kind": "numeric", "type": "int", "default": 2.75},)"
                     R"({"id": 3, "constant": "S", "kind": "numeric", "type": "short", "default": 40000},)"
                     R"({"id": 4, "constant": "F", "kind": "numeric", "type": "double", "default": 1e300},)"
                     R"({"id": 5, "constant": "R", "kind": "ring", "type": "int", "items": [["a", -5], ["b", 9e18]]})");
    ASSERT_EQ(ParsePanelResource(json, 9, p), 0);
    EXPECT_EQ(std::get<long long>(p.find(2)->value), 2) << "a fractional default is cut to its whole part";
    EXPECT_EQ(std::get<long long>(p.find(3)->value), 40000 - 65536) << "a short wraps as the C type would";
    EXPECT_EQ(std::get<double>(p.find(4)->value), 1e300);
    EXPECT_EQ(p.find(5)->items.at(1).value, 9000000000000000000LL);
    EXPECT_EQ(std::get<long long>(p.find(5)->value), -5) << "a ring starts at its first item";
}

// Found by the panels fuzzer: a text message given a number type and a numeric default
// held a number, which no SetCtrlVal could ever put there.
TEST(PanelResourceRegression, ATextMessageWithANumberTypeMakesTheResourceUnreadable)
{
    for (const char* type : {"int", "float", "double", "unsigned short"}) {
        Panel p;
        const std::string json =
            resourceWith(std::string(R"({"id": 2, "constant": "T", "kind": "textmsg", "text": "x", "type": ")") + type +
                         R"(", "default": 1.5})");
        EXPECT_EQ(ParsePanelResource(json, 9, p), UIE_RESOURCE_UNREADABLE) << type;
    }
    Panel p;
    ASSERT_EQ(
        ParsePanelResource(
            resourceWith(R"({"id": 2, "constant": "T", "kind": "textmsg", "text": "x", "type": "string"})"), 9, p),
        0);
    EXPECT_EQ(std::get<std::string>(p.find(2)->value), "x");
}
