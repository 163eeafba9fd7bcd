// The panel state file: what SavePanelState writes and keeps, what RecallPanelState takes
// back, and the broken files it refuses or skips line by line.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "model_fixture.h"

using namespace vek;
using namespace vek::test;

TEST_F(ModelTest, StateFileKeepsOtherStatesAndRecallsTypedValues)
{
    const std::string file = tempPath("RS_Settings_a");
    std::ofstream(file) << "COMPORT=1\n[2]\nCOMPORT=9\nUNKNOWN=4\n";
    const int rs = model.LoadPanel(0, kResourceFile, PANEL_2);
    model.SetCtrlVal(rs, PANEL_2_COMPORT, 3);
    model.SetCtrlVal(rs, PANEL_2_Porta, 3);
    model.SetCtrlVal(rs, PANEL_2_BAUD_RATE, 1);
    model.SetCtrlVal(rs, PANEL_2_PARITY, 2);
    ASSERT_EQ(model.SavePanelState(rs, file, 0), 0);
    const std::string text = readFile(file);
    EXPECT_NE(text.find("[0]\nPARITY=2\nDATA_BITS=0\nBAUD_RATE=1\nBIT_STOP=0\nCOMPORT=3\nPorta=3\n"), std::string::npos)
        << text;
    EXPECT_NE(text.find("[2]\nCOMPORT=9\n"), std::string::npos) << "another state survives a save";
    EXPECT_EQ(text.find("EXIT"), std::string::npos) << "buttons carry no value";

    const int fresh = model.LoadPanel(0, kResourceFile, PANEL_2);
    ASSERT_EQ(model.RecallPanelState(fresh, file, 0), 0);
    int port = 0, baud = 0;
    model.GetCtrlVal(fresh, PANEL_2_Porta, port);
    model.GetCtrlVal(fresh, PANEL_2_BAUD_RATE, baud);
    EXPECT_EQ(port, 3);
    EXPECT_EQ(baud, 1);
    ASSERT_EQ(model.RecallPanelState(fresh, file, 2), 0);
    model.GetCtrlVal(fresh, PANEL_2_COMPORT, port);
    EXPECT_EQ(port, 9);
    EXPECT_TRUE(calls.empty()) << "a recall is programmatic: it raises no callback";
}

TEST_F(ModelTest, BrokenStateFilesAreRefusedOrSkippedLineByLine)
{
    const int rs = model.LoadPanel(0, kResourceFile, PANEL_2);
    EXPECT_EQ(model.RecallPanelState(rs, tempPath("does-not-exist"), 0), UIE_STATE_FILE);
    EXPECT_EQ(model.RecallPanelState(rs, std::filesystem::temp_directory_path().string(), 0), UIE_STATE_FILE);
    const std::string file = tempPath("RS_Settings_b");
    std::ofstream(file) << "[1]\nPorta=2\n";
    EXPECT_EQ(model.RecallPanelState(rs, file, 0), UIE_NO_SUCH_STATE);
    std::ofstream(file)
        << "Porta=12abc\nCOMPORT=\nBAUD_RATE=99999999999999999999\n=\n[x]\n\xff\xfe\nPARITY=1\nPorta=65537\n";
    EXPECT_EQ(model.RecallPanelState(rs, file, 0), 0);
    int port = -1, parity = -1, baud = -1;
    model.GetCtrlVal(rs, PANEL_2_Porta, port);
    model.GetCtrlVal(rs, PANEL_2_PARITY, parity);
    model.GetCtrlVal(rs, PANEL_2_BAUD_RATE, baud);
    EXPECT_EQ(port, 0) << "65537 does not fit the port box: skipped, not wrapped to 1";
    EXPECT_EQ(parity, 1);
    EXPECT_EQ(baud, 0);
    EXPECT_EQ(model.SavePanelState(rs, "/nonexistent-dir/RS_Settings", 0), UIE_STATE_FILE);
}
