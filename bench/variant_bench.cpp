// Value comparison is the inner loop of filters and index searches. Numbers should compare in a
// few nanoseconds and short strings at the speed of the collation itself; the peers are a plain
// integer comparison and ICU's own comparison of the same UTF-16 text.
#include <benchmark/benchmark.h>
#include <unicode/ucol.h>

#include <string>

#include "engine/expr/VLTLocale.h"
#include "engine/expr/VLTVariant.h"

using namespace vlt;

static void BM_CompareInt32(benchmark::State& State) {
  TVLTVariant A, B;
  A.SetAsInteger(12345);
  B.SetAsInteger(12346);
  for (auto _ : State) benchmark::DoNotOptimize(A.Compare(B, false, false, false));
}
BENCHMARK(BM_CompareInt32);

static void BM_CompareInt32AgainstDouble(benchmark::State& State) {
  TVLTVariant A, B;
  A.SetAsInteger(12345);
  B.SetAsDouble(12345.5);
  for (auto _ : State) benchmark::DoNotOptimize(A.Compare(B, false, false, false));
}
BENCHMARK(BM_CompareInt32AgainstDouble);

static void BM_PlainIntCompare(benchmark::State& State) {
  volatile int A = 12345, B = 12346;
  for (auto _ : State) benchmark::DoNotOptimize(A < B ? 1 : A > B ? 2 : 0);
}
BENCHMARK(BM_PlainIntCompare);

static void BM_CompareShortAnsi(benchmark::State& State) {
  TVLTVariant A, B;
  A.SetAsAnsiString("Smithson, John");
  B.SetAsAnsiString("smithson, joan");
  const bool CaseInsensitive = State.range(0) != 0;
  for (auto _ : State) benchmark::DoNotOptimize(A.Compare(B, false, CaseInsensitive, false));
}
BENCHMARK(BM_CompareShortAnsi)->Arg(0)->Arg(1);

static void BM_CompareAnsiAgainstWide(benchmark::State& State) {
  TVLTVariant A, B;
  A.SetAsAnsiString("Smithson, John");
  B.SetAsWideString(u"SMITHSON, JOHN");
  for (auto _ : State) benchmark::DoNotOptimize(A.Compare(B, false, true, false));
}
BENCHMARK(BM_CompareAnsiAgainstWide);

static void BM_IcuStrcoll(benchmark::State& State) {
  UErrorCode Err = U_ZERO_ERROR;
  UCollator* C = ucol_open("en_US", &Err);
  std::u16string A = u"Smithson, John", B = u"smithson, joan";
  for (auto _ : State)
    benchmark::DoNotOptimize(ucol_strcoll(C, reinterpret_cast<const UChar*>(A.data()),
                                          static_cast<int32_t>(A.size()),
                                          reinterpret_cast<const UChar*>(B.data()),
                                          static_cast<int32_t>(B.size())));
  ucol_close(C);
}
BENCHMARK(BM_IcuStrcoll);
