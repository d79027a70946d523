#pragma once

#include <cstdint>

namespace nolva {

// The flash partitions that hold the two firmware images.
inline constexpr char kOsPartition[] = "/dev/mtd3";
inline constexpr char kFsPartition[] = "/dev/mtd4";

// An image's name field; read back from its partition it is the version text.
inline constexpr std::int32_t kImageNameOffset = 32;
inline constexpr std::int32_t kImageNameSize = 32;

}  // namespace nolva
