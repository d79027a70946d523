// The web console's files, compiled into the program: a request reaches only
// this table, never the file system.
#pragma once

#include <string_view>

namespace nolva::console {

struct Asset {
  std::string_view path;  // as requested: "/index.html"
  std::string_view contentType;
  std::string_view body;
};

// The asset served at `path` ("/" is "/index.html"), or nullptr. The path is
// compared byte for byte with the table: "..", "//" or an encoded form never
// names anything.
const Asset* FindAsset(std::string_view path);

}  // namespace nolva::console
