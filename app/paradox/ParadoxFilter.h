// Record filters of Paradox tables. The conversions filter with a few forms only:
//   Num=5    Num>49 and Num<114    Num=3 and Name='O''Brien'    Service=7    Fund=2
// The parser accepts comparisons "field op literal" (op one of = < >; literal an integer, a
// decimal number or a single-quoted string with inner quotes doubled) joined by "and". Names
// compare without regard to case; values compare exactly (strings case-sensitively, an empty
// string equals an empty field). Anything else is rejected with a message.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "app/paradox/ParadoxCodePage.h"
#include "app/paradox/ParadoxHeader.h"

namespace vlt::app {

class TParadoxFilter {
 public:
  // Parses Text against Fields (names in the table's code page; Text is 8-bit Windows-1252).
  // Raises EParadoxError for text it does not accept.
  static TParadoxFilter Parse(std::string_view Text, const std::vector<TParadoxFieldDesc>& Fields,
                              const TParadoxCodePage& CP);

  bool Matches(const uint8_t* Rec, const std::vector<TParadoxFieldDesc>& Fields,
               const TParadoxCodePage& CP) const;
  bool Empty() const { return FConds.empty(); }

 private:
  struct TCond {
    int Field = 0;
    char Op = '=';
    bool IsString = false;
    double Number = 0;
    std::string Text;  // in the table's code page
  };
  std::vector<TCond> FConds;
};

}  // namespace vlt::app
