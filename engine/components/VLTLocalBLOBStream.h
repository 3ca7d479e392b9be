// TVLTLocalBLOBStream: one open BLOB field of a cursor's current record. Its data live in a
// temporary stream it owns; reads, writes, seeks and size changes go there. Closing the BLOB
// (the cursor's InternalCloseBLOB) lets the table data write the data of a stream opened for
// writing back into the record buffer.
// What a table data offers for those streams is TVLTTableBLOBAccess (engine/core).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "engine/core/VLTTableBLOBAccess.h"
#include "engine/protect/VLTStream.h"

namespace vlt {

class TVLTCursor;

enum TVLTBLOBOpenMode : uint8_t { bomWrite, bomRead, bomReadWrite };

class TVLTLocalBLOBStream : public TVLTStream {
 public:
  TVLTLocalBLOBStream(TVLTCursor* Cursor, int32_t FieldNo, TVLTBLOBOpenMode OpenMode,
                      std::unique_ptr<TVLTStream> TemporaryStream);
  ~TVLTLocalBLOBStream() override;

  int64_t Read(void* Buffer, int64_t Count) override;
  // 10115 "Cannot write to read only stream" for a stream opened bomRead.
  int64_t Write(const void* Buffer, int64_t Count) override;
  int64_t Seek(int64_t Offset, TVLTSeekOrigin Origin) override;
  int64_t GetSize() override;
  // 10116 "Cannot write to read only stream" for a stream opened bomRead.
  void SetSize(int64_t NewSize) override;

  bool OpenedForWriting() const { return FOpenMode != bomRead; }
  TVLTBLOBOpenMode FOpenMode;
  std::unique_ptr<TVLTStream> FTemporaryStream;
  // The component-level stream that uses this one (not owned); destroying it closes the BLOB
  // through the dataset. Set and cleared by that stream.
  TVLTStream* FUserBLOBStream = nullptr;
  // Called to destroy the user-level stream when the cursor drops its BLOB streams.
  std::function<void(TVLTLocalBLOBStream&)> FDestroyUserStream;
  int32_t FFieldNo;
  TVLTCursor* FCursor;
  int64_t FPosition = 0;
};

}  // namespace vlt
