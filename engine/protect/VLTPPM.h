// PPM buffer compression (compression algorithm 3): PPMd variant G.
//
// Compressed buffer:
//
//   OFFSET SIZE CONTENT
//   0      4    parameter word, little-endian:
//                 bits 0-3   model order - 1
//                 bits 4-11  model memory in MB - 1
//                 bits 12-15 variant: 6 ('G' - 'A')
//                 bits 16-31 0
//   4      ...  range-coded data, ending with the end-of-data escape and 4 flushed bytes
//
// Model order and memory by compression mode (below 1 counts as 1, above 9 as 9):
//
//   mode        1  2  3  4   5   6   7   8    9
//   order       2  3  4  5   7   8  10  13   16
//   memory MB   2  3  7  16  22  25  40  100  100
//
// The model and its memory are process-wide: compression and decompression run one at a time
// under a process-wide lock, and the memory is kept for the next call of the same size.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vlt {

constexpr uint32_t kPPMVariant = 6;  // 'G' - 'A'
constexpr size_t kPPMParameterWordSize = 4;

struct TVLTPPMParameters {
  int Order = 0;
  uint32_t MemoryMB = 0;
};

TVLTPPMParameters PPMParametersForMode(int Mode);
uint32_t PPMParameterWord(const TVLTPPMParameters& P);
// False (with a message) for a word of another variant.
bool PPMParseParameterWord(uint32_t Word, TVLTPPMParameters& P, std::string& Error);

// Compresses InSize bytes at Mode; Out receives the parameter word and the coded data. False
// with "PPM Compression error" in Error when the model fails.
bool PPMCompressBuffer(const uint8_t* In, size_t InSize, int Mode, std::vector<uint8_t>& Out,
                       std::string& Error);
// Decompresses into Out (OutSize bytes: the expected size, required); Produced is the number of
// bytes decoded. False with a message in Error: "PPM DecpmpressBuf: OutSize must be set" for
// OutSize 0, "PPM Decompression error" for damaged input or nothing decoded, or the variant
// message.
bool PPMDecompressBuffer(const uint8_t* In, size_t InSize, uint8_t* Out, size_t OutSize,
                         size_t& Produced, std::string& Error);

// Times the process-wide model ran out of memory and restarted (for diagnostics and tests).
uint64_t PPMModelRestartCount();

// Frees the process-wide model memory (it is otherwise kept until the process ends).
void PPMReleaseModelMemory();

}  // namespace vlt
