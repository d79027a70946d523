// The console's files as nolvad serves them: every file of console/ under its
// own path, byte for byte, with its content type; no other path names one.
#include "console/assets.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>

namespace {

using nolva::console::Asset;
using nolva::console::FindAsset;

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

TEST(ConsoleAssets, EveryFileIsServedByteForByteWithItsType) {
  const std::map<std::string, std::string> types = {
      {".html", "text/html; charset=utf-8"},
      {".css", "text/css; charset=utf-8"},
      {".js", "text/javascript; charset=utf-8"},
      {".svg", "image/svg+xml"},
  };
  int served = 0;
  for (const auto& entry : std::filesystem::directory_iterator(NOLVA_CONSOLE_DIR)) {
    const auto type = types.find(entry.path().extension().string());
    if (type == types.end()) continue;
    const std::string path = "/" + entry.path().filename().string();
    SCOPED_TRACE(path);
    const Asset* asset = FindAsset(path);
    ASSERT_NE(asset, nullptr);
    EXPECT_EQ(asset->path, path);
    EXPECT_EQ(asset->contentType, type->second);
    EXPECT_EQ(asset->body, ReadFile(entry.path()));
    ++served;
  }
  EXPECT_GE(served, 3);  // the page, its style and its script at least
}

TEST(ConsoleAssets, RootIsTheIndexPage) {
  ASSERT_NE(FindAsset("/"), nullptr);
  EXPECT_EQ(FindAsset("/"), FindAsset("/index.html"));
}

TEST(ConsoleAssets, NoOtherPathNamesAnAsset) {
  const struct {
    const char* name;
    std::string_view path;
  } rows[] = {
      {"empty", ""},
      {"without the slash", "index.html"},
      {"two slashes", "//index.html"},
      {"trailing slash", "/index.html/"},
      {"dot segment", "/./index.html"},
      {"parent segment", "/../index.html"},
      {"encoded parent", "/%2e%2e/index.html"},
      {"encoded name", "/index%2ehtml"},
      {"other case", "/INDEX.HTML"},
      {"NUL inside", std::string_view("/index.html\0", 12)},
      {"prefix of a name", "/index.htm"},
      {"source folder", "/console/index.html"},
      {"build file", "/CMakeLists.txt"},
      {"embedding script", "/embed.cmake"},
      {"header", "/assets.h"},
      {"an API path", "/api/health"},
  };
  for (const auto& row : rows)
    EXPECT_EQ(FindAsset(row.path), nullptr) << row.name;
}

}  // namespace
