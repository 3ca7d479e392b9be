#include "engine/protect/VLTPPMModel.h"

#include <cstring>
#include <utility>

namespace vlt {

namespace {

constexpr int kIntBits = 7;
constexpr int kPeriodBits = 7;
constexpr int kMaxFreq = 124;
constexpr int kInterval = 1 << kIntBits;
constexpr int kBinScale = kInterval << kPeriodBits;
constexpr unsigned kBinShift = kIntBits + kPeriodBits;

// Initial escape estimates of binary contexts, by the position in a context of 16.
constexpr uint16_t kInitBinEsc[16] = {0x3CDD, 0x1F3F, 0x59BF, 0x48F3, 0x5FFB, 0x5545,
                                      0x63D1, 0x5D9D, 0x64A1, 0x5ABC, 0x6632, 0x6051,
                                      0x68F6, 0x549B, 0x6BCA, 0x3AB0};
// Escape frequencies for an exponential symbol distribution, by binary escape estimate.
constexpr uint8_t kExpEscape[16] = {25, 14, 9, 7, 5, 5, 4, 4, 4, 3, 3, 3, 2, 2, 2, 2};

inline uint32_t GetMean(uint32_t Summ) { return (Summ + (1u << (kPeriodBits - 2))) >> kPeriodBits; }

}  // namespace

// ---- SEE contexts ----

void TVLTPPMModel::TSee2Context::Init(int InitVal) {
  Shift = kPeriodBits - 4;
  Summ = static_cast<uint16_t>(InitVal << Shift);
  Count = 3;
}

uint32_t TVLTPPMModel::TSee2Context::GetMean() {
  uint32_t Ret = static_cast<uint32_t>(Summ >> Shift);
  Summ = static_cast<uint16_t>(Summ - Ret);
  Ret &= 0x03FF;
  return Ret + (Ret == 0);
}

void TVLTPPMModel::TSee2Context::Update() {
  if (Shift < kPeriodBits && --Count == 0) {
    Summ = static_cast<uint16_t>(Summ + Summ);
    Count = static_cast<uint8_t>(3 << Shift++);
  }
}

// ---- model set-up ----

TVLTPPMModel::TVLTPPMModel() = default;
TVLTPPMModel::~TVLTPPMModel() = default;

bool TVLTPPMModel::Start(int MaxOrder, uint32_t MemoryMB) {
  if (MaxOrder < 1 || MaxOrder > kMaxOrder || MemoryMB < 1 || MemoryMB > 256) return false;
  if (!FSA.Start(MemoryMB)) return false;
  FMaxOrder = MaxOrder;
  FBroken = false;
  StartModel();
  return true;
}

TVLTPPMModel::TContext* TVLTPPMModel::NewContext(TState* PStats, TContext* Shorter) {
  auto* C = reinterpret_cast<TContext*>(FSA.AllocContext());
  if (!C) return nullptr;
  C->NumStats = 1;
  C->Suffix = Off(Shorter);
  PStats->Successor = Off(C);
  return C;
}

TVLTPPMModel::TContext* TVLTPPMModel::NewEmptyContext() {
  auto* C = reinterpret_cast<TContext*>(FSA.AllocContext());
  if (C) C->NumStats = 0;
  return C;
}

void TVLTPPMModel::StartModel() {
  FSA.Init();
  // Order 0: all 256 symbols once.
  FMaxContext = NewEmptyContext();
  FMaxContext->Suffix = 0;
  FMaxContext->NumStats = 256;
  FMaxContext->SummFreq = 257;
  TState* S = reinterpret_cast<TState*>(FSA.AllocUnitsRare(256 / 2));
  FMaxContext->Stats = Off(S);
  FPrevSuccess = 0;
  for (int I = 0; I < 256; ++I) {
    S[I].Symbol = static_cast<uint8_t>(I);
    S[I].Freq = 1;
    S[I].Successor = 0;
  }
  // A chain of contexts for a history of zero bytes up to the maximum order.
  TState* P = S;
  FOrderFall = 1;
  for (int I = 1;; ++I) {
    FMaxContext = NewContext(P, FMaxContext);
    if (I == FMaxOrder) break;
    P = OneState(FMaxContext);
    P->Symbol = 0;
    P->Freq = 1;
  }
  FMaxContext->NumStats = 0;
  FMedContext = FMinContext = Suffix(FMaxContext);

  for (int I = 0; I < 128; ++I)
    for (int K = 0; K < 16; ++K) FBinSumm[I][K] = static_cast<uint16_t>(kBinScale - kInitBinEsc[K] / (I + 2));
  int I = 0;
  for (; I < 6; ++I) FNS2BSIndx[I] = static_cast<uint8_t>(2 * I);
  for (; I < 50; ++I) FNS2BSIndx[I] = 12;
  for (; I < 256; ++I) FNS2BSIndx[I] = 14;
  for (I = 0; I < 43; ++I)
    for (int K = 0; K < 8; ++K) FSee2Cont[I][K].Init(4 * I + 10);
  FSee2Cont[43][0].Shift = kPeriodBits;
  for (I = 0; I < 4; ++I) FNS2Indx[I] = static_cast<uint8_t>(I);
  for (; I < 4 + 8; ++I) FNS2Indx[I] = static_cast<uint8_t>(4 + ((I - 4) >> 1));
  for (; I < 4 + 8 + 32; ++I) FNS2Indx[I] = static_cast<uint8_t>(4 + 4 + ((I - 4 - 8) >> 2));
  for (; I < 256; ++I) FNS2Indx[I] = static_cast<uint8_t>(4 + 4 + 8 + ((I - 4 - 8 - 32) >> 3));
  std::memset(FCharMask, 0, sizeof FCharMask);
  FEscCount = FPrintCount = 1;
}

void TVLTPPMModel::ClearMask() {
  FEscCount = 1;
  std::memset(FCharMask, 0, sizeof FCharMask);
  ++FPrintCount;
}

// ---- model update ----

void TVLTPPMModel::Rescale(TContext* C) {
  int OldNS = C->NumStats, I = C->NumStats - 1;
  TState* First = Stats(C);
  TState* P;
  for (P = FFoundState; P != First; --P) std::swap(P[0], P[-1]);
  First->Freq += 4;
  C->SummFreq += 4;
  int EscFreq = C->SummFreq - P->Freq;
  int Adder = (FOrderFall != 0);
  P->Freq = static_cast<uint8_t>((P->Freq + Adder) >> 1);
  C->SummFreq = P->Freq;
  do {
    ++P;
    EscFreq -= P->Freq;
    P->Freq = static_cast<uint8_t>((P->Freq + Adder) >> 1);
    C->SummFreq += P->Freq;
    if (P[0].Freq > P[-1].Freq) {
      TState* P1 = P;
      TState Tmp = *P1;
      do {
        P1[0] = P1[-1];
      } while (--P1 != First && Tmp.Freq > P1[-1].Freq);
      *P1 = Tmp;
    }
  } while (--I);
  if (P->Freq == 0) {
    do {
      ++I;
    } while ((--P)->Freq == 0);
    EscFreq += I;
    C->NumStats = static_cast<uint16_t>(C->NumStats - I);
    if (C->NumStats == 1) {
      TState Tmp = *First;
      do {
        Tmp.Freq = static_cast<uint8_t>(Tmp.Freq - (Tmp.Freq >> 1));
        EscFreq >>= 1;
      } while (EscFreq > 1);
      FSA.FreeUnits(reinterpret_cast<uint8_t*>(First), (OldNS + 1) >> 1);
      *(FFoundState = OneState(C)) = Tmp;
      return;
    }
  }
  EscFreq -= EscFreq >> 1;
  C->SummFreq = static_cast<uint16_t>(C->SummFreq + EscFreq);
  int N0 = (OldNS + 1) >> 1, N1 = (C->NumStats + 1) >> 1;
  if (N0 != N1) C->Stats = Off(FSA.ShrinkUnits(reinterpret_cast<uint8_t*>(First), N0, N1));
  FFoundState = Stats(C);
}

bool TVLTPPMModel::MakeRoot(unsigned SkipCount, TState* P1) {
  TContext* PC = FMinContext;
  TContext* UpBranch = Ctx(FFoundState->Successor);
  TState* P = nullptr;
  TState* PS[kMaxOrder];
  int NPS = 0;
  // On damaged input a context chain can end early; every step checks for it.
  if (!PC || !UpBranch) return FBroken = true, false;
  if (SkipCount == 0) {
    PS[NPS++] = FFoundState;
    if (!PC->Suffix) goto NoLoop;
  } else if (SkipCount == 2) {
    PC = Suffix(PC);
    if (!PC) return FBroken = true, false;
  }
  if (P1) {
    P = P1;
    PC = Suffix(PC);
    if (!PC) return FBroken = true, false;
    goto LoopEntry;
  }
  do {
    PC = Suffix(PC);
    if (!PC) return FBroken = true, false;
    if (PC->NumStats != 1) {
      P = Stats(PC);
      for (int N = PC->NumStats; P->Symbol != FFoundState->Symbol; ++P)
        if (--N <= 0) return FBroken = true, false;
    } else {
      P = OneState(PC);
    }
  LoopEntry:
    if (P->Successor != Off(UpBranch)) {
      PC = Ctx(P->Successor);
      if (!PC) return FBroken = true, false;
      break;
    }
    if (NPS == kMaxOrder) return FBroken = true, false;
    PS[NPS++] = P;
  } while (PC->Suffix);
NoLoop:
  TState* UpState = OneState(UpBranch);
  if (PC->NumStats != 1) {
    uint32_t Cf = UpState->Symbol;
    P = Stats(PC);
    for (int N = PC->NumStats; P->Symbol != Cf; ++P)
      if (--N <= 0) return FBroken = true, false;
    Cf = P->Freq - 1u;
    uint32_t S0 = PC->SummFreq - PC->NumStats - Cf;
    uint32_t F;
    if (2 * Cf <= S0) {
      F = (5 * Cf > S0);
    } else {
      if (S0 == 0) return FBroken = true, false;
      F = (2 * Cf + 3 * S0 - 1) / (2 * S0);
    }
    UpState->Freq = static_cast<uint8_t>(1 + F);
  } else {
    UpState->Freq = OneState(PC)->Freq;
  }
  while (NPS > 0) {
    PC = NewContext(PS[--NPS], PC);
    if (!PC) return false;
    *OneState(PC) = *UpState;
  }
  if (!FOrderFall) {
    UpBranch->NumStats = 1;
    UpBranch->Suffix = Off(PC);
  }
  return true;
}

void TVLTPPMModel::UpdateModel() {
  TState Fs = *FFoundState;
  TState* P;
  TState* P1 = nullptr;
  TContext* PC;
  TContext* Successor;
  uint32_t Ns1, Ns, Cf, Sf, S0;
  unsigned SkipCount = 0;
  if (Fs.Freq < kMaxFreq / 4 && (PC = Suffix(FMinContext)) != nullptr) {
    if (PC->NumStats != 1) {
      P1 = Stats(PC);
      if (P1->Symbol != Fs.Symbol) {
        int N = PC->NumStats;
        do {
          ++P1;
          if (--N <= 0) {
            FBroken = true;
            return;
          }
        } while (P1->Symbol != Fs.Symbol);
        if (P1[0].Freq >= P1[-1].Freq) {
          std::swap(P1[0], P1[-1]);
          --P1;
        }
      }
      if (P1->Freq < 7 * kMaxFreq / 8) {
        P1->Freq += 2;
        PC->SummFreq += 2;
      }
    } else {
      P1 = OneState(PC);
      P1->Freq += (P1->Freq < 32);
    }
  }
  if (FOrderFall == 0) {
    if (!MakeRoot(2, nullptr)) goto RestartModel;
    FMinContext = FMedContext = Ctx(Fs.Successor);
    return;
  } else if (--FOrderFall == 0) {
    Successor = Ctx(Fs.Successor);
    SkipCount = 1;
  } else if ((Successor = NewEmptyContext()) == nullptr) {
    goto RestartModel;
  }
  // Damaged input can leave the model without a longest context (a successor that was never
  // made); decoding stops there instead of following a null context.
  if (!FMaxContext) {
    FBroken = true;
    return;
  }
  if (!FMaxContext->NumStats) {
    OneState(FMaxContext)->Symbol = Fs.Symbol;
    OneState(FMaxContext)->Successor = Off(Successor);
  }
  Ns = FMinContext->NumStats;
  S0 = FMinContext->SummFreq - Ns - (Fs.Freq - 1u);
  for (PC = FMedContext; PC != FMinContext; PC = Suffix(PC)) {
    if (!PC) {
      FBroken = true;
      return;
    }
    if ((Ns1 = PC->NumStats) != 1) {
      if ((Ns1 & 1) == 0) {
        uint8_t* NewStats = FSA.ExpandUnits(FSA.Pointer(PC->Stats), static_cast<int>(Ns1 >> 1));
        if (!NewStats) goto RestartModel;
        PC->Stats = Off(NewStats);
      }
      PC->SummFreq = static_cast<uint16_t>(
          PC->SummFreq + (2 * Ns1 < Ns) + 2 * ((4 * Ns1 <= Ns) & (PC->SummFreq <= 8 * Ns1)));
    } else {
      P = reinterpret_cast<TState*>(FSA.AllocUnitsRare(1));
      if (!P) goto RestartModel;
      *P = *OneState(PC);
      PC->Stats = Off(P);
      if (P->Freq < kMaxFreq / 4 - 1)
        P->Freq = static_cast<uint8_t>(P->Freq + P->Freq);
      else
        P->Freq = kMaxFreq - 4;
      PC->SummFreq = static_cast<uint16_t>(P->Freq + FInitEsc + (Ns > 3));
    }
    Cf = 2u * Fs.Freq * (PC->SummFreq + 6u);
    Sf = S0 + PC->SummFreq;
    if (Cf < 6 * Sf) {
      Cf = 1 + (Cf > Sf) + (Cf >= 4 * Sf);
      PC->SummFreq += 3;
    } else {
      Cf = 4 + (Cf >= 9 * Sf) + (Cf >= 12 * Sf) + (Cf >= 15 * Sf);
      PC->SummFreq = static_cast<uint16_t>(PC->SummFreq + Cf);
    }
    P = Stats(PC) + Ns1;
    P->Successor = Off(Successor);
    P->Symbol = Fs.Symbol;
    P->Freq = static_cast<uint8_t>(Cf);
    PC->NumStats = static_cast<uint16_t>(++Ns1);
  }
  if (Fs.Successor) {
    if (!Ctx(Fs.Successor)->NumStats && !MakeRoot(SkipCount, P1)) goto RestartModel;
    FMinContext = Ctx(FFoundState->Successor);
  } else {
    FFoundState->Successor = Off(Successor);
    ++FOrderFall;
  }
  FMedContext = FMinContext;
  FMaxContext = Successor;
  return;
RestartModel:
  if (FBroken) return;
  ++FRestartCount;
  StartModel();
  FEscCount = 0;
  FPrintCount = 0xFF;
}

void TVLTPPMModel::NextContext() {
  TContext* Succ = Ctx(FFoundState->Successor);
  if (!FOrderFall && Succ && Succ->NumStats) {
    FMinContext = FMedContext = Succ;
  } else if (!FOrderFall && !Succ) {
    FBroken = true;
    return;
  } else {
    UpdateModel();
    if (FEscCount == 0) ClearMask();
  }
  if (!FMinContext || FMinContext->NumStats == 0) FBroken = true;
}

// ---- coding of one symbol ----

uint16_t& TVLTPPMModel::BinSumm(TContext* C) {
  TState* Rs = OneState(C);
  TContext* S = Suffix(C);
  int F = Rs->Freq;
  if (!S || F < 1 || F > 128 || S->NumStats < 1 || S->NumStats > 256) {
    FBroken = true;
    return FBinSumm[0][0];
  }
  return FBinSumm[F - 1][FPrevSuccess + FNS2BSIndx[S->NumStats - 1]];
}

void TVLTPPMModel::EncodeBinSymbol(TContext* C, int Symbol) {
  TState* Rs = OneState(C);
  uint16_t& Bs = BinSumm(C);
  if (Rs->Symbol == Symbol) {
    FFoundState = Rs;
    Rs->Freq += (Rs->Freq < 128);
    FSubRange.LowCount = 0;
    FSubRange.HighCount = Bs;
    Bs = static_cast<uint16_t>(Bs + kInterval - GetMean(Bs));
    FPrevSuccess = 1;
  } else {
    FSubRange.LowCount = Bs;
    Bs = static_cast<uint16_t>(Bs - GetMean(Bs));
    FSubRange.HighCount = kBinScale;
    FInitEsc = kExpEscape[(Bs >> 10) & 15];
    FNumMasked = 1;
    FCharMask[Rs->Symbol] = FEscCount;
    FPrevSuccess = 0;
    FFoundState = nullptr;
  }
}

void TVLTPPMModel::DecodeBinSymbol(TContext* C, TVLTPPMRangeDecoder& D) {
  TState* Rs = OneState(C);
  uint16_t& Bs = BinSumm(C);
  if (D.GetCurrentShiftCount(kBinShift) < Bs) {
    FFoundState = Rs;
    Rs->Freq += (Rs->Freq < 128);
    FSubRange.LowCount = 0;
    FSubRange.HighCount = Bs;
    Bs = static_cast<uint16_t>(Bs + kInterval - GetMean(Bs));
    FPrevSuccess = 1;
  } else {
    FSubRange.LowCount = Bs;
    Bs = static_cast<uint16_t>(Bs - GetMean(Bs));
    FSubRange.HighCount = kBinScale;
    FInitEsc = kExpEscape[(Bs >> 10) & 15];
    FNumMasked = 1;
    FCharMask[Rs->Symbol] = FEscCount;
    FPrevSuccess = 0;
    FFoundState = nullptr;
  }
}

void TVLTPPMModel::Update1(TContext* C, TState* P) {
  (FFoundState = P)->Freq += 4;
  C->SummFreq += 4;
  if (P[0].Freq > P[-1].Freq) {
    std::swap(P[0], P[-1]);
    FFoundState = --P;
    if (P->Freq > kMaxFreq) Rescale(C);
  }
}

void TVLTPPMModel::EncodeSymbol1(TContext* C, int Symbol) {
  FSubRange.Scale = C->SummFreq;
  TState* P = Stats(C);
  if (P->Symbol == Symbol) {
    FSubRange.HighCount = P->Freq;
    FPrevSuccess = (2 * FSubRange.HighCount > FSubRange.Scale);
    (FFoundState = P)->Freq += 4;
    C->SummFreq += 4;
    if (P->Freq > kMaxFreq) Rescale(C);
    FSubRange.LowCount = 0;
    return;
  }
  FPrevSuccess = 0;
  uint32_t LoCnt = P->Freq;
  int I = C->NumStats - 1;
  while ((++P)->Symbol != Symbol) {
    LoCnt += P->Freq;
    if (--I == 0) {
      FSubRange.LowCount = LoCnt;
      FCharMask[P->Symbol] = FEscCount;
      I = (FNumMasked = C->NumStats) - 1;
      FFoundState = nullptr;
      do {
        FCharMask[(--P)->Symbol] = FEscCount;
      } while (--I);
      FSubRange.HighCount = FSubRange.Scale;
      return;
    }
  }
  FSubRange.HighCount = (FSubRange.LowCount = LoCnt) + P->Freq;
  Update1(C, P);
}

bool TVLTPPMModel::DecodeSymbol1(TContext* C, TVLTPPMRangeDecoder& D) {
  FSubRange.Scale = C->SummFreq;
  TState* P = Stats(C);
  uint32_t Count = D.GetCurrentCount(FSubRange.Scale);
  uint32_t HiCnt = P->Freq;
  if (Count < HiCnt) {
    FSubRange.HighCount = HiCnt;
    FPrevSuccess = (2 * HiCnt > FSubRange.Scale);
    HiCnt += 4;
    (FFoundState = P)->Freq = static_cast<uint8_t>(HiCnt);
    C->SummFreq += 4;
    if (HiCnt > static_cast<uint32_t>(kMaxFreq)) Rescale(C);
    FSubRange.LowCount = 0;
    return true;
  }
  FPrevSuccess = 0;
  int I = C->NumStats - 1;
  while ((HiCnt += (++P)->Freq) <= Count) {
    if (--I == 0) {
      FSubRange.LowCount = HiCnt;
      FCharMask[P->Symbol] = FEscCount;
      I = (FNumMasked = C->NumStats) - 1;
      FFoundState = nullptr;
      do {
        FCharMask[(--P)->Symbol] = FEscCount;
      } while (--I);
      FSubRange.HighCount = FSubRange.Scale;
      return true;
    }
  }
  FSubRange.LowCount = (FSubRange.HighCount = HiCnt) - P->Freq;
  Update1(C, P);
  return true;
}

void TVLTPPMModel::Update2(TContext* C, TState* P) {
  (FFoundState = P)->Freq += 4;
  C->SummFreq += 4;
  if (P->Freq > kMaxFreq) Rescale(C);
  ++FEscCount;
}

TVLTPPMModel::TSee2Context* TVLTPPMModel::MakeEscFreq2(TContext* C, int Diff) {
  TSee2Context* Psee2c;
  if (C->NumStats != 256) {
    TContext* S = Suffix(C);
    if (!S || Diff < 1 || Diff > 256) {
      FBroken = true;
      Psee2c = &FSee2Cont[43][0];
      FSubRange.Scale = 1;
      return Psee2c;
    }
    Psee2c = FSee2Cont[FNS2Indx[Diff - 1]] + (Diff < S->NumStats - C->NumStats) +
             2 * (C->SummFreq < 11 * C->NumStats) + 4 * (FNumMasked > Diff);
    FSubRange.Scale = Psee2c->GetMean();
  } else {
    Psee2c = &FSee2Cont[43][0];
    FSubRange.Scale = 1;
  }
  return Psee2c;
}

void TVLTPPMModel::EncodeSymbol2(TContext* C, int Symbol) {
  int I = C->NumStats - FNumMasked;
  TSee2Context* Psee2c = MakeEscFreq2(C, I);
  TState* P = Stats(C) - 1;
  uint32_t HiCnt = 0;
  do {
    do {
      ++P;
    } while (FCharMask[P->Symbol] == FEscCount);
    HiCnt += P->Freq;
    if (P->Symbol == Symbol) goto SymbolFound;
    FCharMask[P->Symbol] = FEscCount;
  } while (--I);
  FSubRange.HighCount = (FSubRange.Scale += (FSubRange.LowCount = HiCnt));
  Psee2c->Summ = static_cast<uint16_t>(Psee2c->Summ + FSubRange.Scale);
  FNumMasked = C->NumStats;
  return;
SymbolFound:
  FSubRange.LowCount = (FSubRange.HighCount = HiCnt) - P->Freq;
  if (--I) {
    TState* P1 = P;
    do {
      do {
        ++P1;
      } while (FCharMask[P1->Symbol] == FEscCount);
      HiCnt += P1->Freq;
    } while (--I);
  }
  FSubRange.Scale += HiCnt;
  Psee2c->Update();
  Update2(C, P);
}

bool TVLTPPMModel::DecodeSymbol2(TContext* C, TVLTPPMRangeDecoder& D) {
  int I = C->NumStats - FNumMasked;
  if (I < 1 || I > 256) return FBroken = true, false;
  TSee2Context* Psee2c = MakeEscFreq2(C, I);
  TState* PS[256];
  int NPS = 0;
  TState* P = Stats(C) - 1;
  TState* Last = Stats(C) + C->NumStats;
  uint32_t HiCnt = 0;
  do {
    do {
      ++P;
      if (P >= Last) return FBroken = true, false;
    } while (FCharMask[P->Symbol] == FEscCount);
    HiCnt += P->Freq;
    PS[NPS++] = P;
  } while (--I);
  FSubRange.Scale += HiCnt;
  uint32_t Count = D.GetCurrentCount(FSubRange.Scale);
  if (Count < HiCnt) {
    int K = 0;
    P = PS[0];
    HiCnt = 0;
    while ((HiCnt += P->Freq) <= Count) P = PS[++K];
    FSubRange.LowCount = (FSubRange.HighCount = HiCnt) - P->Freq;
    Psee2c->Update();
    Update2(C, P);
  } else {
    FSubRange.LowCount = HiCnt;
    FSubRange.HighCount = FSubRange.Scale;
    for (int K = 0; K < NPS; ++K) FCharMask[PS[K]->Symbol] = FEscCount;
    Psee2c->Summ = static_cast<uint16_t>(Psee2c->Summ + FSubRange.Scale);
    FNumMasked = C->NumStats;
  }
  return true;
}

// ---- whole buffers ----

bool TVLTPPMModel::Encode(const uint8_t* In, size_t InSize, int MaxOrder, uint32_t MemoryMB,
                          std::vector<uint8_t>& Out) {
  if (!Start(MaxOrder, MemoryMB)) return false;
  TVLTPPMRangeEncoder E(Out);
  size_t Pos = 0;
  for (;;) {
    int Ch = Pos < InSize ? In[Pos++] : -1;  // -1: the end, matched by no symbol
    if (FMinContext->NumStats != 1) {
      EncodeSymbol1(FMinContext, Ch);
      E.Encode(FSubRange);
    } else {
      EncodeBinSymbol(FMinContext, Ch);
      E.ShiftEncode(FSubRange, kBinShift);
    }
    while (!FFoundState) {
      E.Normalize();
      do {
        ++FOrderFall;
        FMinContext = Suffix(FMinContext);
        if (!FMinContext) {
          E.Flush();
          return !FBroken;
        }
      } while (FMinContext->NumStats == FNumMasked);
      EncodeSymbol2(FMinContext, Ch);
      E.Encode(FSubRange);
    }
    if (FBroken) return false;
    NextContext();
    if (FBroken) return false;
    E.Normalize();
  }
}

bool TVLTPPMModel::Decode(const uint8_t* In, size_t InSize, int MaxOrder, uint32_t MemoryMB,
                          uint8_t* Out, size_t OutSize, size_t& Produced) {
  Produced = 0;
  if (!Start(MaxOrder, MemoryMB)) return false;
  TVLTPPMRangeDecoder D(In, InSize);
  while (Produced < OutSize) {
    if (FMinContext->NumStats != 1) {
      DecodeSymbol1(FMinContext, D);
    } else {
      DecodeBinSymbol(FMinContext, D);
    }
    if (FBroken) return false;
    D.RemoveSubrange(FSubRange);
    while (!FFoundState) {
      if (!D.Normalize()) return false;
      do {
        ++FOrderFall;
        FMinContext = Suffix(FMinContext);
        if (!FMinContext) return true;  // the end-of-data escape
      } while (FMinContext->NumStats == FNumMasked);
      if (!DecodeSymbol2(FMinContext, D)) return false;
      D.RemoveSubrange(FSubRange);
    }
    Out[Produced++] = FFoundState->Symbol;
    NextContext();
    if (FBroken) return false;
    if (!D.Normalize()) return false;
  }
  return true;
}

}  // namespace vlt
