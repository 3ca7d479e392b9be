// Page encryption as the page manager does it: checksum plus chained encipherment of the data
// area of a page, and the reverse on reading. The peer is the cryptographic library's own
// AES-256-CBC over the same bytes (the chaining differs, the work per block is the same), and
// the per-call form that hashes the password and sets up the key schedule for every page.
#include <benchmark/benchmark.h>
#include <cryptopp/aes.h>
#include <cryptopp/modes.h>

#include <vector>

#include "engine/core/VLTCRC32.h"
#include "engine/protect/VLTSecurity.h"

namespace {

vlt::TVLTPassword Password(vlt::TVLTCryptoAlgorithm A) {
  vlt::TVLTPassword P;
  P.Password = "Church administration";
  P.CryptoAlgorithm = A;
  return P;
}

std::vector<uint8_t> Page(size_t Size) {
  std::vector<uint8_t> P(Size);
  for (size_t I = 0; I < Size; ++I) P[I] = static_cast<uint8_t>(I * 31 + 7);
  return P;
}

void BM_EncryptPage(benchmark::State& State) {
  const auto A = static_cast<vlt::TVLTCryptoAlgorithm>(State.range(0));
  vlt::TVLTDatabaseCipher C(Password(A));
  auto P = Page(4096);
  for (auto _ : State) {
    C.EncryptPage(P.data(), P.size());
    benchmark::DoNotOptimize(P.data());
    C.RestorePage(P.data(), P.size());  // keep the input plain, as the page manager does
  }
  State.SetBytesProcessed(static_cast<int64_t>(State.iterations()) * 4096 * 2);
  State.SetLabel("encrypt + restore");
}
BENCHMARK(BM_EncryptPage)->DenseRange(0, 7)->ArgName("algorithm");

void BM_EncryptOnlyAES256(benchmark::State& State) {
  vlt::TVLTDatabaseCipher C(Password(vlt::craRijndael_256));
  auto P = Page(4096);
  for (auto _ : State) {
    C.EncryptPage(P.data(), P.size());  // enciphers cipher text again and again: same cost
    benchmark::DoNotOptimize(P.data());
  }
  State.SetBytesProcessed(static_cast<int64_t>(State.iterations()) * 4096);
}
BENCHMARK(BM_EncryptOnlyAES256);

void BM_DecryptAndCheckAES256(benchmark::State& State) {
  vlt::TVLTDatabaseCipher C(Password(vlt::craRijndael_256));
  auto Stored = Page(4096);
  C.EncryptPage(Stored.data(), Stored.size());
  auto P = Stored;
  for (auto _ : State) {
    std::copy(Stored.begin(), Stored.end(), P.begin());
    C.DecryptPage(P.data(), P.size(), 1, false);
    benchmark::DoNotOptimize(P.data());
  }
  State.SetBytesProcessed(static_cast<int64_t>(State.iterations()) * 4096);
}
BENCHMARK(BM_DecryptAndCheckAES256);

void BM_FreshCipherPerPageAES256(benchmark::State& State) {
  auto P = Page(4096);
  for (auto _ : State) {
    uint32_t Crc = vlt::CalcCRC32(0, P.data() + 40, 4056);
    benchmark::DoNotOptimize(Crc);
    vlt::EncryptBuffer(vlt::craRijndael_256, P.data() + 40, 4056, "Church administration");
  }
  State.SetBytesProcessed(static_cast<int64_t>(State.iterations()) * 4096);
}
BENCHMARK(BM_FreshCipherPerPageAES256);

void BM_PeerCryptoppCBCAES256(benchmark::State& State) {
  uint8_t Key[32] = {1, 2, 3};
  uint8_t IV[16] = {};
  CryptoPP::CBC_Mode<CryptoPP::AES>::Encryption E(Key, sizeof Key, IV);
  auto P = Page(4096);
  for (auto _ : State) {
    uint32_t Crc = vlt::CalcCRC32(0, P.data() + 40, 4056);
    benchmark::DoNotOptimize(Crc);
    E.Resynchronize(IV);
    E.ProcessData(P.data() + 40, P.data() + 40, 4048);  // whole blocks only
    benchmark::DoNotOptimize(P.data());
  }
  State.SetBytesProcessed(static_cast<int64_t>(State.iterations()) * 4096);
}
BENCHMARK(BM_PeerCryptoppCBCAES256);

}  // namespace
