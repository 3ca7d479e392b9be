#include "app/paradox/ParadoxCodePage.h"

#include <iconv.h>

#include <array>
#include <map>
#include <mutex>
#include <vector>

#include "engine/base/VLTCodePage.h"

namespace vlt::app {

// Single-byte code pages convert through two 256-entry tables built once with iconv; multi-byte
// ones (936 ...) convert whole strings through iconv to UTF-8.
struct TParadoxCodePage::TTables {
  bool SingleByte = true;
  bool Identity = false;  // 1252 itself
  std::string IconvName;
  std::array<std::string, 256> ToUtf8;  // UTF-8 text of each byte
  std::array<char, 256> ToAnsi{};       // Windows-1252 byte of each byte
  std::array<char, 256> FromAnsi{};     // table byte of each Windows-1252 byte
};

namespace {

// Converts In with an open iconv descriptor; bytes that do not convert become '?'.
std::string RunIconv(iconv_t Cd, std::string_view In) {
  std::string Out;
  Out.resize(In.size() * 4 + 16);
  char* InP = const_cast<char*>(In.data());
  size_t InLeft = In.size();
  char* OutP = Out.data();
  size_t OutLeft = Out.size();
  iconv(Cd, nullptr, nullptr, nullptr, nullptr);
  while (InLeft > 0) {
    size_t R = iconv(Cd, &InP, &InLeft, &OutP, &OutLeft);
    if (R != static_cast<size_t>(-1)) break;
    if (errno == E2BIG) {
      size_t Used = static_cast<size_t>(OutP - Out.data());
      Out.resize(Out.size() * 2);
      OutP = Out.data() + Used;
      OutLeft = Out.size() - Used;
      continue;
    }
    // Invalid or incomplete sequence: emit '?' and skip one byte.
    if (OutLeft == 0) {
      size_t Used = static_cast<size_t>(OutP - Out.data());
      Out.resize(Out.size() * 2);
      OutP = Out.data() + Used;
      OutLeft = Out.size() - Used;
    }
    *OutP++ = '?';
    --OutLeft;
    ++InP;
    --InLeft;
  }
  Out.resize(static_cast<size_t>(OutP - Out.data()));
  return Out;
}

std::shared_ptr<const TParadoxCodePage::TTables> BuildTables(int CodePage) {
  auto T = std::make_shared<TParadoxCodePage::TTables>();
  T->IconvName = "CP" + std::to_string(CodePage);
  if (CodePage == 1252) {
    T->Identity = true;
    return T;
  }
  iconv_t Cd = iconv_open("UTF-8", T->IconvName.c_str());
  if (Cd == reinterpret_cast<iconv_t>(-1)) {
    // Unknown to the system: read the bytes as Windows-1252, the best guess for a Windows table.
    T->Identity = true;
    return T;
  }
  T->SingleByte = CodePage < 900 || (CodePage >= 1250 && CodePage <= 1258) || CodePage >= 10000;
  if (CodePage == 932 || CodePage == 936 || CodePage == 949 || CodePage == 950)
    T->SingleByte = false;
  if (T->SingleByte) {
    for (int B = 0; B < 256; ++B) {
      char C = static_cast<char>(B);
      std::string U = B == 0 ? std::string(1, '\0') : RunIconv(Cd, std::string_view(&C, 1));
      T->ToUtf8[B] = U;
      std::string A = Utf8ToWin1252(U);
      T->ToAnsi[B] = A.size() == 1 ? A[0] : '?';
    }
    for (int B = 0; B < 256; ++B) T->FromAnsi[B] = '?';
    for (int B = 255; B >= 0; --B) {
      unsigned char A = static_cast<unsigned char>(T->ToAnsi[B]);
      if (A != '?' || B == '?') T->FromAnsi[A] = static_cast<char>(B);
    }
    for (int B = 0; B < 128; ++B) T->FromAnsi[B] = static_cast<char>(B);
  }
  iconv_close(Cd);
  return T;
}

}  // namespace

TParadoxCodePage::TParadoxCodePage(int CodePage) : FCodePage(CodePage <= 0 ? 437 : CodePage) {
  static std::mutex Lock;
  static std::map<int, std::shared_ptr<const TTables>> Cache;
  std::lock_guard<std::mutex> G(Lock);
  auto& Slot = Cache[FCodePage];
  if (!Slot) Slot = BuildTables(FCodePage);
  FTables = Slot;
}

std::string TParadoxCodePage::ToWin1252(std::string_view S) const {
  if (FTables->Identity) return std::string(S);
  if (!FTables->SingleByte) return Utf8ToWin1252(ToUtf8(S));
  std::string Out(S.size(), '\0');
  for (size_t I = 0; I < S.size(); ++I) Out[I] = FTables->ToAnsi[static_cast<unsigned char>(S[I])];
  return Out;
}

std::string TParadoxCodePage::FromWin1252(std::string_view S) const {
  if (FTables->Identity) return std::string(S);
  if (!FTables->SingleByte) {
    iconv_t Cd = iconv_open(FTables->IconvName.c_str(), "CP1252");
    if (Cd == reinterpret_cast<iconv_t>(-1)) return std::string(S);
    std::string Out = RunIconv(Cd, S);
    iconv_close(Cd);
    return Out;
  }
  std::string Out(S.size(), '\0');
  for (size_t I = 0; I < S.size(); ++I)
    Out[I] = FTables->FromAnsi[static_cast<unsigned char>(S[I])];
  return Out;
}

std::string TParadoxCodePage::ToUtf8(std::string_view S) const {
  if (FTables->Identity) return Win1252ToUtf8(S);
  if (FTables->SingleByte) {
    std::string Out;
    Out.reserve(S.size());
    for (char C : S) Out += FTables->ToUtf8[static_cast<unsigned char>(C)];
    return Out;
  }
  iconv_t Cd = iconv_open("UTF-8", FTables->IconvName.c_str());
  if (Cd == reinterpret_cast<iconv_t>(-1)) return Win1252ToUtf8(S);
  std::string Out = RunIconv(Cd, S);
  iconv_close(Cd);
  return Out;
}

}  // namespace vlt::app
