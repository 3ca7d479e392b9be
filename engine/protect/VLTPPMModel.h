// The PPM context model: PPMd variant G (prediction by partial matching with information
// inheritance, Dmitry Shkarin's public-domain coder, 2000), reproduced so that the coded bytes
// are identical to the reference coder's for the same order and memory size.
//
// Model structures inside the sub-allocator's heap (little-endian, packed, 32-bit offsets):
//
//   Context (12 bytes, one unit)
//   OFFSET SIZE CONTENT
//   0      2    NumStats: symbols seen in this context (0 = not yet built)
//   2      2    SummFreq: total frequency incl. escape (NumStats > 1)
//   4      4    Stats: offset of NumStats states, two per unit (NumStats > 1)
//   8      4    Suffix: offset of the context one order shorter (0 for order 0)
//   With NumStats = 1 the single state lies at offset 2 (over SummFreq and Stats).
//
//   State (6 bytes)
//   OFFSET SIZE CONTENT
//   0      1    Symbol
//   1      1    Freq
//   2      4    Successor: offset of the context one order longer (0 = none)
//
// Not thread-safe: callers serialise (see VLTPPM.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/protect/VLTPPMRangeCoder.h"
#include "engine/protect/VLTPPMSubAllocator.h"

namespace vlt {

class TVLTPPMModel {
 public:
  static constexpr int kMaxOrder = 16;

  TVLTPPMModel();
  ~TVLTPPMModel();
  TVLTPPMModel(const TVLTPPMModel&) = delete;
  TVLTPPMModel& operator=(const TVLTPPMModel&) = delete;

  // Codes In with a model of MaxOrder (1 to 16) and MemoryMB (1 to 256) and appends the range
  // coded bytes (ending with the end-of-data escape and the coder flush) to Out. False when the
  // model memory cannot be had or the model broke.
  bool Encode(const uint8_t* In, size_t InSize, int MaxOrder, uint32_t MemoryMB,
              std::vector<uint8_t>& Out);
  // Decodes until the end-of-data escape or until OutSize bytes are produced; Produced tells how
  // many. False when the model memory cannot be had or the input is damaged beyond decoding.
  bool Decode(const uint8_t* In, size_t InSize, int MaxOrder, uint32_t MemoryMB, uint8_t* Out,
              size_t OutSize, size_t& Produced);

  // Times the model ran out of memory and started afresh, over the object's life.
  uint64_t RestartCount() const { return FRestartCount; }

 private:
#pragma pack(push, 1)
  struct __attribute__((may_alias)) TState {
    uint8_t Symbol;
    uint8_t Freq;
    uint32_t Successor;
  };
  struct __attribute__((may_alias)) TContext {
    uint16_t NumStats;
    uint16_t SummFreq;
    uint32_t Stats;
    uint32_t Suffix;
  };
#pragma pack(pop)
  static_assert(sizeof(TState) == 6 && sizeof(TContext) == 12);

  // Secondary escape estimation for contexts with masked symbols.
  struct TSee2Context {
    uint16_t Summ;
    uint8_t Shift;
    uint8_t Count;
    void Init(int InitVal);
    uint32_t GetMean();
    void Update();
  };

  TContext* Ctx(uint32_t Off) const { return reinterpret_cast<TContext*>(FSA.Pointer(Off)); }
  TState* St(uint32_t Off) const { return reinterpret_cast<TState*>(FSA.Pointer(Off)); }
  uint32_t Off(const void* P) const { return FSA.Offset(P); }
  static TState* OneState(TContext* C) {
    return reinterpret_cast<TState*>(reinterpret_cast<uint8_t*>(C) + 2);
  }
  TState* Stats(TContext* C) const { return St(C->Stats); }
  TContext* Suffix(TContext* C) const { return Ctx(C->Suffix); }

  bool Start(int MaxOrder, uint32_t MemoryMB);
  void StartModel();
  TContext* NewContext(TState* PStats, TContext* Shorter);
  TContext* NewEmptyContext();
  void Rescale(TContext* C);
  bool MakeRoot(unsigned SkipCount, TState* P1);
  void UpdateModel();
  void ClearMask();
  // After a symbol was found: move on to the next context or update the model.
  void NextContext();

  void EncodeBinSymbol(TContext* C, int Symbol);
  void EncodeSymbol1(TContext* C, int Symbol);
  void EncodeSymbol2(TContext* C, int Symbol);
  void DecodeBinSymbol(TContext* C, TVLTPPMRangeDecoder& D);
  bool DecodeSymbol1(TContext* C, TVLTPPMRangeDecoder& D);
  bool DecodeSymbol2(TContext* C, TVLTPPMRangeDecoder& D);
  void Update1(TContext* C, TState* P);
  void Update2(TContext* C, TState* P);
  TSee2Context* MakeEscFreq2(TContext* C, int Diff);
  uint16_t& BinSumm(TContext* C);

  TVLTPPMSubAllocator FSA;
  TContext* FMinContext = nullptr;
  TContext* FMedContext = nullptr;
  TContext* FMaxContext = nullptr;
  TState* FFoundState = nullptr;
  int FNumMasked = 0;
  int FInitEsc = 0;
  int FOrderFall = 0;
  int FMaxOrder = 0;
  uint64_t FRestartCount = 0;
  bool FBroken = false;  // a structural check failed (damaged input or memory)
  uint8_t FEscCount = 0;
  uint8_t FPrintCount = 0;
  uint8_t FPrevSuccess = 0;
  uint8_t FCharMask[256] = {};
  uint8_t FNS2Indx[256] = {};
  uint8_t FNS2BSIndx[256] = {};
  uint16_t FBinSumm[128][16] = {};
  TSee2Context FSee2Cont[44][8] = {};
  TVLTPPMSubRange FSubRange;
};

}  // namespace vlt
