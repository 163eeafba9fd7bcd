// The panel model over the real resource with a recording callback registry, and the
// scratch files the model tests read and write.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "rig.h"

namespace vek::test {

inline std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

inline std::string tempPath(const std::string& name)
{
    const auto dir = std::filesystem::temp_directory_path() / ("vek-unit-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    return (dir / name).string();
}

struct ModelTest : ::testing::Test {
    std::vector<CallRecord> calls;
    platform::VirtualClock clock;
    ui::PanelModel model{clock, recordingRegistry(&calls), VEK_BINARY_DIR};
};

}  // namespace vek::test
