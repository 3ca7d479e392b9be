// Page encryption as the page manager does it: checksum plus chained encipherment of the data
// area of a page, and the reverse on reading. The peers are the AES-256-CBC of Crypto++ and of
// OpenSSL over the same bytes (the chaining differs, the work per block is the same), and the
// per-call form that hashes the password and sets up the key schedule for every page.
// Enciphering chains each block to the one before; deciphering's blocks are independent, which
// is what a CBC decryption can pipeline too. Pages of 4096 and 512 bytes (the conversions').
#include <benchmark/benchmark.h>
#include <cryptopp/aes.h>
#include <cryptopp/modes.h>
#include <openssl/evp.h>

#include <vector>

#include "engine/base/VLTCRC32.h"
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
  const size_t Size = static_cast<size_t>(State.range(0));
  vlt::TVLTDatabaseCipher C(Password(vlt::craRijndael_256));
  auto Stored = Page(Size);
  C.EncryptPage(Stored.data(), Stored.size());
  auto P = Stored;
  for (auto _ : State) {
    std::copy(Stored.begin(), Stored.end(), P.begin());
    C.DecryptPage(P.data(), P.size(), 1, false);
    benchmark::DoNotOptimize(P.data());
  }
  State.SetBytesProcessed(static_cast<int64_t>(State.iterations() * Size));
}
BENCHMARK(BM_DecryptAndCheckAES256)->Arg(4096)->Arg(512)->ArgName("page");

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

// OpenSSL's AES-256-CBC over the whole blocks of the data area, with the checksum, as above;
// Arg 1 deciphers (from a stored copy, as the page reader does), Arg 0 enciphers.
void BM_PeerOpenSSLCBCAES256(benchmark::State& State) {
  const bool Decrypt = State.range(0) != 0;
  uint8_t Key[32] = {1, 2, 3};
  uint8_t IV[16] = {};
  EVP_CIPHER_CTX* Ctx = EVP_CIPHER_CTX_new();
  EVP_CipherInit_ex(Ctx, EVP_aes_256_cbc(), nullptr, Key, IV, Decrypt ? 0 : 1);
  EVP_CIPHER_CTX_set_padding(Ctx, 0);
  auto Stored = Page(4096);
  auto P = Stored;
  int Out = 0;
  for (auto _ : State) {
    if (Decrypt) std::copy(Stored.begin(), Stored.end(), P.begin());
    EVP_CipherInit_ex(Ctx, nullptr, nullptr, nullptr, IV, -1);
    EVP_CipherUpdate(Ctx, P.data() + 40, &Out, P.data() + 40, 4048);
    uint32_t Crc = vlt::CalcCRC32(0, P.data() + 40, 4056);
    benchmark::DoNotOptimize(Crc);
    benchmark::DoNotOptimize(P.data());
  }
  EVP_CIPHER_CTX_free(Ctx);
  State.SetBytesProcessed(static_cast<int64_t>(State.iterations()) * 4096);
  State.SetLabel(Decrypt ? "decrypt" : "encrypt");
}
BENCHMARK(BM_PeerOpenSSLCBCAES256)->Arg(0)->Arg(1)->ArgName("decrypt");

}  // namespace
