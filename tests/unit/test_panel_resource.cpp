// The resource reader against the real resource and broken ones: which constants it
// holds, what LoadPanel builds from it, and which resources it refuses.
#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <map>
#include <regex>

#include "model_fixture.h"

using namespace vek;
using namespace vek::test;

TEST(Resource, HeaderConstantsAndResourceIdsAgreeBothWays)
{
    // Every "inline constexpr int NAME = N;" of the header, against the resource's panels
    // (NAME = panel constant) and controls (NAME = panel constant + "_" + control constant).
    const std::string header = readFile(std::string(VEK_SOURCE_DIR) + "/app/panel_ids.h");
    std::map<std::string, int> fromHeader;
    const std::regex line(R"(inline constexpr int (\w+) = (\d+);)");
    for (auto it = std::sregex_iterator(header.begin(), header.end(), line); it != std::sregex_iterator(); ++it)
        fromHeader[(*it)[1]] = std::stoi((*it)[2]);

    const QJsonDocument doc =
        QJsonDocument::fromJson(QByteArray::fromStdString(readFile(std::string(VEK_SOURCE_DIR) + "/ui/Panel_def.uir")));
    ASSERT_TRUE(doc.isObject());
    std::map<std::string, int> fromResource;
    for (const auto& pv : doc.object()["panels"].toArray()) {
        const auto p = pv.toObject();
        const std::string pc = p["constant"].toString().toStdString();
        fromResource[pc] = p["id"].toInt();
        for (const auto& cv : p["controls"].toArray())
            fromResource[pc + "_" + cv.toObject()["constant"].toString().toStdString()] = cv.toObject()["id"].toInt();
    }
    EXPECT_EQ(fromHeader, fromResource);
    EXPECT_EQ(fromResource.size(), 9u + 172u);
    // The ids the code leans on by number.
    static_assert(PANEL == 3 && PANEL_2 == 4 && PANEL_3 == 5 && PANEL_4 == 6 && DATA_LOG == 1 && WRITE_VAL == 9);
    static_assert(PANEL_EXIT == 23 && PANEL_2_EXIT == 9 && DATA_LOG_EXIT == 2 && WR_ASCII_EXIT == 3);
    static_assert(PANEL_3_CONFIG_INDEX_1 == 22 && PANEL_3_CONFIG_INDEX_6 == 15 && PANEL_4_WIDTH == 49);
}

TEST_F(ModelTest, EveryPanelLoadsWithItsTitleDefaultsAndTimer)
{
    for (int id = 1; id <= 9; ++id)
        EXPECT_GT(model.LoadPanel(0, kResourceFile, id), 0) << id;
    const int main = model.LoadPanel(0, kResourceFile, PANEL);
    int slave = 0;
    model.GetCtrlVal(main, PANEL_SLAVE_ADDRESS, slave);
    EXPECT_EQ(slave, 1);
    EXPECT_EQ(model.panel(main)->title, "----");
    const ui::Control* timer = model.control(main, PANEL_TIMER);
    ASSERT_NE(timer, nullptr);
    EXPECT_DOUBLE_EQ(timer->interval, 5.0);
    EXPECT_TRUE(timer->enabled);
    EXPECT_EQ(model.control(main, PANEL_TEMPERATURE)->label,
              "Temp. [\xC2\xB0"
              "C]");

    const int adv = model.LoadPanel(0, kResourceFile, PANEL_3);
    for (int ctrl : {PANEL_3_CONFIG_INDEX_1, PANEL_3_CONFIG_INDEX_8, PANEL_3_CONFIG_INDEX_6}) {
        std::string text;
        model.GetCtrlVal(adv, ctrl, text);
        EXPECT_EQ(text, "*");
    }
    const int user = model.LoadPanel(0, kResourceFile, PANEL_4);
    const ui::Control* safe = model.control(user, PANEL_4_OUTPUT_SAFE_MODE);
    ASSERT_EQ(safe->items.size(), 3u);
    EXPECT_EQ(safe->items[2].label, "21.5 mA");
    EXPECT_EQ(safe->items[2].value, 4);
    EXPECT_EQ(model.control(user, PANEL_4_RL1_TH_ENABLE)->items[0].label, "Enable");
    const int log = model.LoadPanel(0, kResourceFile, DATA_LOG);
    EXPECT_EQ(model.control(log, DATA_LOG_WRITE_TIMER)->items.back().value, 360);
}

TEST_F(ModelTest, LoadFailuresAreNegativeAndEachLoadIsAFreshHandle)
{
    EXPECT_EQ(model.LoadPanel(0, "no-such-resource.uir", PANEL), UIE_RESOURCE_UNREADABLE);
    EXPECT_EQ(model.LoadPanel(0, kResourceFile, 42), UIE_NO_SUCH_PANEL_ID);
    const std::string bad = tempPath("bad.uir");
    std::ofstream(bad) << "{ \"panels\": [ {\"id\": 3, ";
    EXPECT_EQ(model.LoadPanel(0, bad, PANEL), UIE_RESOURCE_UNREADABLE);

    ui::CallbackRegistry partial = recordingRegistry(nullptr);
    partial.erase("MB_COM");
    ui::PanelModel strict(clock, partial, VEK_BINARY_DIR);
    EXPECT_EQ(strict.LoadPanel(0, kResourceFile, PANEL), UIE_UNKNOWN_CALLBACK);
    EXPECT_GT(strict.LoadPanel(0, kResourceFile, INFO), 0) << "panels not naming it still load";

    const int a = model.LoadPanel(0, kResourceFile, PANEL_2);
    const int b = model.LoadPanel(0, kResourceFile, PANEL_2);
    EXPECT_NE(a, b);
    model.DiscardPanel(a);
    EXPECT_EQ(model.SetCtrlVal(a, PANEL_2_COMPORT, 1), UIE_NO_SUCH_PANEL);
    EXPECT_EQ(model.SetCtrlVal(b, PANEL_2_COMPORT, 1), 0);
    EXPECT_NE(model.LoadPanel(0, kResourceFile, PANEL_2), a) << "handles are never reused";
}
