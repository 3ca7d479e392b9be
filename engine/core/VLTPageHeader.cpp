#include "engine/core/VLTPageHeader.h"

#include <array>
#include <cstring>
#include <string_view>

#include "engine/base/VLTExcept.h"

namespace vlt {

namespace {
constexpr std::array<std::string_view, kLastPageType + 1> kPageTypeTexts = {
    "Unknown Page",          "Empty Page",         "EAM Page",
    "PFS Page",              "FileSystemDirectory Page", "ActiveSessionList Page",
    "TableList Page",        "TableLocks Page",    "TableMetaData Page",
    "TableMostUpdated Page", "TableRecord Page",   "TableBlob Page",
    "TableIndex Page"};
}  // namespace

std::string PageTypeToText(int PageType) {
  if (PageType < 0 || PageType > kLastPageType)
    throw EVLTException(30382, "Unknown Page Type: (%d)", {int64_t{PageType}});
  return std::string(kPageTypeTexts[static_cast<size_t>(PageType)]);
}

void CheckPageType(int Found, int Expected, int32_t ErrorCode) {
  if (Found == Expected) return;
  auto Text = [](int T) {
    return T >= 0 && T <= kLastPageType ? PageTypeToText(T) : "(" + std::to_string(T) + ")";
  };
  throw EVLTException(ErrorCode, "Wrong page type. Found '%s', but expecting: '%s'",
                      {Text(Found), Text(Expected)});
}

void InitPageHeader(TVLTDiskPageHeader& H) {
  std::memset(&H, 0, sizeof H);
  std::memcpy(H.Signature, kPageSignature, sizeof H.Signature);
  H.NextPageNo = kNoPage;
  H.ObjectID = kNoObjectID;
  H.RecordIDPageNo = kNoPage;
}

}  // namespace vlt
