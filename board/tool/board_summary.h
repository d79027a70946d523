// What reached the platform, told from a stretch of a board's log.
#pragma once

#include <string>
#include <vector>

namespace nolva::board {

std::string Summary(const std::string& board, const std::vector<std::string>& logLines);

}  // namespace nolva::board
