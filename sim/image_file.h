// Register images in JSON: which registers to change from the factory image, by number.
//
//   { "registers": { "11": 4500, "68": 18 },   integers 0..65535
//     "floats": { "19": 0.3313 },               single precision into n (low word), n+1
//     "config_index": "G5M-A001" }              up to 8 Latin-1 characters into registers 29..36
#pragma once
#include <set>
#include <string>
#include <string_view>

#include "register_image.h"

namespace vek::sim {

struct ImageLoad {
    bool ok = false;
    std::string error;
    std::set<int> given;  // registers the file set, so command-line options can defer to them
};

// Applies the document to `image`; on failure the image may be half changed and the
// caller is expected to give up.
ImageLoad applyImageJson(std::string_view document, RegisterImage& image);

// Reads the file and applies it; errors name the file.
ImageLoad loadImageFile(const std::string& path, RegisterImage& image);

}  // namespace vek::sim
