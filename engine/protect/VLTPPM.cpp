#include "engine/protect/VLTPPM.h"

#include <memory>
#include <mutex>

#include "engine/base/VLTTypes.h"
#include "engine/protect/VLTPPMModel.h"

namespace vlt {

namespace {

constexpr int kOrderByMode[10] = {2, 2, 3, 4, 5, 7, 8, 10, 13, 16};
constexpr uint32_t kMemoryByMode[10] = {2, 2, 3, 7, 16, 22, 25, 40, 100, 100};

// The one model of the process, guarded by its lock.
std::mutex& ModelLock() {
  static std::mutex M;
  return M;
}
std::unique_ptr<TVLTPPMModel>& Model() {
  static std::unique_ptr<TVLTPPMModel> M;
  return M;
}
TVLTPPMModel& TheModel() {
  auto& M = Model();
  if (!M) M = std::make_unique<TVLTPPMModel>();
  return *M;
}

}  // namespace

TVLTPPMParameters PPMParametersForMode(int Mode) {
  if (Mode < 1) Mode = 1;
  if (Mode > 9) Mode = 9;
  return {kOrderByMode[Mode], kMemoryByMode[Mode]};
}

uint32_t PPMParameterWord(const TVLTPPMParameters& P) {
  return static_cast<uint32_t>(P.Order - 1) | ((P.MemoryMB - 1) << 4) | (kPPMVariant << 12);
}

bool PPMParseParameterWord(uint32_t Word, TVLTPPMParameters& P, std::string& Error) {
  uint32_t Variant = (Word >> 12) & 0x0F;
  if (Variant != kPPMVariant) {
    Error = "PPM Decompression error: unsupported variant " +
            std::string(1, static_cast<char>('A' + Variant));
    return false;
  }
  P.Order = static_cast<int>(Word & 0x0F) + 1;
  P.MemoryMB = ((Word >> 4) & 0xFF) + 1;
  return true;
}

bool PPMCompressBuffer(const uint8_t* In, size_t InSize, int Mode, std::vector<uint8_t>& Out,
                       std::string& Error) {
  TVLTPPMParameters P = PPMParametersForMode(Mode);
  Out.clear();
  Out.reserve(InSize + InSize / 20 + 50);
  Out.resize(kPPMParameterWordSize);
  StoreLE<uint32_t>(Out.data(), PPMParameterWord(P));
  bool Ok;
  {
    std::lock_guard<std::mutex> G(ModelLock());
    Ok = TheModel().Encode(In, InSize, P.Order, P.MemoryMB, Out);
  }
  if (!Ok) {
    Error = "PPM Compression error";
    Out.clear();
  }
  return Ok;
}

bool PPMDecompressBuffer(const uint8_t* In, size_t InSize, uint8_t* Out, size_t OutSize,
                         size_t& Produced, std::string& Error) {
  Produced = 0;
  if (OutSize == 0) {
    Error = "PPM DecpmpressBuf: OutSize must be set";
    return false;
  }
  if (InSize < kPPMParameterWordSize) {
    Error = "PPM Decompression error";
    return false;
  }
  TVLTPPMParameters P;
  if (!PPMParseParameterWord(LoadLE<uint32_t>(In), P, Error)) return false;
  bool Ok;
  {
    std::lock_guard<std::mutex> G(ModelLock());
    Ok = TheModel().Decode(In + kPPMParameterWordSize, InSize - kPPMParameterWordSize, P.Order,
                           P.MemoryMB, Out, OutSize, Produced);
  }
  if (!Ok || Produced == 0) {
    Error = "PPM Decompression error";
    return false;
  }
  return true;
}

uint64_t PPMModelRestartCount() {
  std::lock_guard<std::mutex> G(ModelLock());
  return Model() ? Model()->RestartCount() : 0;
}

void PPMReleaseModelMemory() {
  std::lock_guard<std::mutex> G(ModelLock());
  Model().reset();
}

}  // namespace vlt
