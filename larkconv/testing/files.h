#pragma once

// Test support: whole files read and written in one call, and scratch
// directories (testing/scratch.h, shared with gantry's tests), under the
// names larkconv's tests and fuzz targets use.

#include <cstdint>
#include <filesystem>
#include <vector>

#include "testing/scratch.h"

namespace larkconv_testing {

namespace fs = std::filesystem;

using Bytes = std::vector<uint8_t>;

using file_testing::ProcessScratchDir;
using file_testing::ReadFileBytes;
using file_testing::ReadFileText;
using file_testing::ReadTextFile;
using file_testing::ScratchDir;
using file_testing::WriteFileBytes;
using file_testing::WriteFileText;

}  // namespace larkconv_testing
