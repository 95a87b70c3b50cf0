// The standard system information structure RFCSI as one character field of
// 245 UTF-16 characters (490 bytes), at the published field lengths.
#pragma once

#include <cstddef>
#include <string>

namespace sapsim {

struct SystemConfig;

struct RfcsiField {
    const char* name;
    size_t offset;  // characters
    size_t length;  // characters
};

class Rfcsi {
public:
    static constexpr size_t chars = 245;
    static const RfcsiField* fields(size_t& count);

    // Fills `out` (chars characters) with this system's data.
    static void fill(const SystemConfig& config, char16_t* out);
};

} // namespace sapsim
