#include "engine/expr/VLTExprNodeBlob.h"

#include <cryptopp/base64.h>
#include <cryptopp/filters.h>

namespace vlt {

TVLTVariant& TVLTExprNodeBlob::GetDataValue() {
  if (Children.size() != 1) RaiseUnknownOperator(30121);
  const TVLTVariant& V = Children[0]->GetDataValue();
  Value.Clear(bftBlob);
  if (V.IsNullOrEmpty()) return Value;
  const std::string Text = V.AsAnsiString();
  std::string Bytes;
  CryptoPP::StringSource Source(Text, true,
                                new CryptoPP::Base64Decoder(new CryptoPP::StringSink(Bytes)));
  if (!Bytes.empty())
    Value.SetData(Bytes.data(), static_cast<int32_t>(Bytes.size()), true, bftBlob);
  return Value;
}

}  // namespace vlt
