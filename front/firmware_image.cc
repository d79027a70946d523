#include <cstring>

#include "front/front.h"

namespace nolva::front {

std::string ImageName(const std::uint8_t* image, std::size_t length) {
  if (image == nullptr || length < static_cast<std::size_t>(kShortestImage)) return "";
  const char* field = reinterpret_cast<const char*>(image + kImageNameOffset);
  return std::string(field, strnlen(field, kImageNameSize));
}

bool IsErased(std::string_view versionText) {
  return !versionText.empty() && versionText.find_first_not_of('\xFF') == std::string_view::npos;
}

// A failed update says nothing of how far it got. Erasing starts with the
// block that holds the name field, so a name that outlived the update, and
// that is not the new image's own, shows that nothing was erased.
UpdateDamage DiagnoseFailedUpdate(std::string_view newName, std::string_view before,
                                  std::string_view after) {
  if (IsErased(after)) return UpdateDamage::kErased;
  if (!after.empty() && after == before && after != newName) return UpdateDamage::kOldImageKept;
  return UpdateDamage::kUnknown;
}

}  // namespace nolva::front
