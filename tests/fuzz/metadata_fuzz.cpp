// Damaged table metadata streams: the stream of a table with fields of every kind of layout
// (fixed, sized text, BLOB with its settings, autoincrement, an expression default), two
// indexes and constraints is built once; each input damages it (FuzzPatch.h) or, cut short,
// stands for a metadata file that ends early. A stream that loads must save and load again to
// the same definitions (a loaded definition is one the engine can write back).
// Any input must end in definitions or an engine error: no crash, no sanitizer report.
#include <cstdlib>
#include <exception>
#include <vector>

#include "engine/base/VLTExcept.h"
#include "engine/core/VLTTableMetadata.h"
#include "engine/protect/VLTMemoryStream.h"
#include "tests/fuzz/FuzzPatch.h"

namespace {

using namespace vlt;

TVLTFieldDef& AddField(TVLTFieldDefs& Defs, const char* Name, TVLTAdvancedFieldType Type,
                       int32_t Size = 0) {
  TVLTFieldDef& F = Defs.AddNew();
  F.SetName(Name);
  F.SetFieldDefDataType(Type, Size);
  F.FObjectID = Defs.Count() + 1;
  return F;
}

std::vector<uint8_t> Saved(const TVLTTableMetadata& M) {
  TVLTMemoryStream S;
  M.SaveToStream(S);
  const uint8_t* P = S.Memory();
  return P ? std::vector<uint8_t>(P, P + S.GetSize()) : std::vector<uint8_t>();
}

const std::vector<uint8_t>& Image() {
  static const std::vector<uint8_t> Bytes = [] {
    TVLTTableMetadata M;
    AddField(M.FieldDefs, "Id", aftAutoInc);
    AddField(M.FieldDefs, "Name", aftString, 30);
    AddField(M.FieldDefs, "Amount", aftCurrency);
    TVLTVariant Today;
    Today.SetAsAnsiString("CURRENT_DATE");
    AddField(M.FieldDefs, "Day", aftDate).SetDefaultValue(Today);
    TVLTFieldDef& Notes = AddField(M.FieldDefs, "Notes", aftMemo);
    Notes.FBLOBCompressionAlgorithm = acaZLIB;
    Notes.FBLOBCompressionMode = 6;
    TVLTIndexDef& Pk = M.IndexDefs.AddNew();
    Pk.SetName("PK");
    Pk.FObjectID = 10;
    Pk.FPrimary = Pk.FUnique = true;
    Pk.FRootPageNo = 12;
    Pk.AssignByNames({"Id"}, {"ASC"}, {"CASE"});
    TVLTIndexDef& ByName = M.IndexDefs.AddNew();
    ByName.SetName("ByName");
    ByName.FObjectID = 11;
    ByName.FRootPageNo = 13;
    ByName.AssignByNames({"Name", "Day"}, {"DESC", "ASC"}, {"NO_CASE", "CASE"});
    TVLTConstraintDefNotNull& NN = M.ConstraintDefs.AddNotNull();
    NN.SetName("NN");
    NN.FObjectID = 12;
    NN.SetNames("Name", "T", "");
    M.RecordPageIndexRoot = 14;
    M.BLOBPageIndexRoot = 15;
    return Saved(M);
  }();
  return Bytes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  std::vector<uint8_t> Bytes = fuzz::Damaged(Image(), Data, Size);
  if (Size > 1 && Data[0] == 2) Bytes.resize(Data[1] * Bytes.size() / 256);  // ends early
  TVLTMemoryStream S;
  if (!Bytes.empty()) S.Write(Bytes.data(), static_cast<int64_t>(Bytes.size()));
  S.SetPosition(0);
  TVLTTableMetadata M;
  try {
    M.LoadFromStream(S);
  } catch (const EVLTException&) {
    return 0;
  }
  // Loaded: what the engine would write back must load to the same stream.
  const std::vector<uint8_t> Once = Saved(M);
  TVLTMemoryStream Again;
  if (!Once.empty()) Again.Write(Once.data(), static_cast<int64_t>(Once.size()));
  Again.SetPosition(0);
  TVLTTableMetadata Back;
  try {
    Back.LoadFromStream(Again);
  } catch (const EVLTException&) {
    std::abort();
  }
  if (Saved(Back) != Once) std::abort();
  return 0;
}
