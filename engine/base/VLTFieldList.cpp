#include "engine/base/VLTFieldList.h"

namespace vlt {

std::vector<std::string> VLTSplitList(std::string_view List, std::string_view Separators,
                                      bool KeepEmpty) {
  std::vector<std::string> Out;
  size_t Start = 0;
  for (;;) {
    const size_t End = List.find_first_of(Separators, Start);
    std::string_view Entry =
        List.substr(Start, End == std::string_view::npos ? std::string_view::npos : End - Start);
    const size_t B = Entry.find_first_not_of(' ');
    Entry = B == std::string_view::npos ? std::string_view()
                                        : Entry.substr(B, Entry.find_last_not_of(' ') - B + 1);
    if (KeepEmpty || !Entry.empty()) Out.emplace_back(Entry);
    if (End == std::string_view::npos) break;
    Start = End + 1;
  }
  return Out;
}

std::vector<std::string> VLTSplitFieldList(std::string_view List) {
  return VLTSplitList(List, ";,", false);
}

std::string VLTJoinFieldList(const std::vector<std::string>& Names) {
  std::string Out;
  for (size_t I = 0; I < Names.size(); ++I) {
    if (I) Out += ';';
    Out += Names[I];
  }
  return Out;
}

}  // namespace vlt
