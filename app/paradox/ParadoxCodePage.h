// Text conversion between a table's code page (the DOS or Windows code page in its header) and
// the application's 8-bit text (Windows-1252) or UTF-8.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace vlt::app {

class TParadoxCodePage {
 public:
  // CodePage 0 (tables older than 4.0 store none) is taken as 437, the DOS default.
  explicit TParadoxCodePage(int CodePage);
  int CodePage() const { return FCodePage; }

  std::string ToWin1252(std::string_view S) const;    // characters without a byte become '?'
  std::string FromWin1252(std::string_view S) const;  // likewise
  std::string ToUtf8(std::string_view S) const;

  struct TTables;  // conversion tables of one code page (in the .cpp)

 private:
  int FCodePage;
  std::shared_ptr<const TTables> FTables;  // shared per code page
};

}  // namespace vlt::app
