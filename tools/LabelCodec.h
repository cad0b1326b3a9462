// File: LabelCodec.h
//
// The JSON form of label records, for the kx9label tool:
//   {"data": [datum...], "genericData": "<hex>"}
// A datum is {"dataType", "name", "elements"}. An element carries every field
// of its record kind under the record's own field names (members of an SDT,
// dataType 18; variables of a GVL, dataType 14). Keys missing on input take
// the records' construction values; unknown keys are refused, so that a
// misspelt field cannot vanish quietly; so are a dataType other than 14 or
// 18 and an empty datum or element name, which no reader gives back.
// The compact output form leaves out what holds its construction value; the
// full form writes every field. docs/json-format.md describes both.
//
// Texts are UTF-8 in JSON and UTF-16 in the records; both directions convert
// exactly or fail with a CodecError naming the offending field.
#pragma once

#include <memory>
#include <ostream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "model/KX9LabelRecords.h"
#include "platform/kx9platform.h"

namespace kx9tool {

// Field order of the output follows the records.
using Json = nlohmann::ordered_json;

class CodecError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// An owned array of data records, created as one block like the component
// creates them. Release() hands the block to a consumer that destroys it.
class LabelSet {
 public:
  LabelSet() = default;
  explicit LabelSet(LONG count);
  LONG Count() const { return m_count; }
  _STKX9LABELSTRUCTURE* Data() { return m_data.get(); }
  const _STKX9LABELSTRUCTURE* Data() const { return m_data.get(); }
  _STKX9LABELSTRUCTURE* Release() {
    m_count = 0;
    return m_data.release();
  }

 private:
  std::unique_ptr<_STKX9LABELSTRUCTURE[]> m_data;
  LONG m_count = 0;
};

// Strict conversions: invalid UTF-8 (bad sequences, overlong forms,
// surrogates, beyond U+10FFFF) and unpaired UTF-16 surrogates are refused.
std::u16string Utf8ToUtf16Strict(const std::string& text, const std::string& where);
std::string Utf16ToUtf8Strict(std::u16string_view text, const std::string& where);

// Lowercase hex, two digits per byte; the reader takes either case.
std::string BytesToHex(const BYTE* p, std::size_t n);
std::string BytesToHex(const std::vector<BYTE>& bytes);
std::vector<BYTE> HexToBytes(const std::string& hex, const std::string& where);

// Records <-> the "data" array.
Json DataToJson(const _STKX9LABELSTRUCTURE* data, LONG count, bool full = true);
LabelSet DataFromJson(const Json& data);

// One element of a datum of the given dataType (SDT members and GVL
// variables; any other dataType gives the common part); `where` names it in
// errors.
Json ElementToJson(LONG dataType, const _STKX9LABELSTRUCTUREBASEDATA& element, const std::string& where = "element",
                   bool full = true);
// A new element record of the kind `dataType` (14 or 18) names; the caller
// owns it (delete it with KX9DeleteElement).
_STKX9LABELSTRUCTUREBASEDATA* ElementFromJson(LONG dataType, const Json& element, const std::string& where);

// The whole document: records and generic data.
struct LabelDocument {
  LabelSet data;
  std::vector<BYTE> genericData;
};
// Top-level keys also accepted on input: "count" (ignored: the data array
// decides), "serviceBlock" and "settings" (read by the envelope encoder).
LabelDocument DocumentFromJson(const Json& document);
// The full form adds "count", the number of data.
Json DocumentToJson(const _STKX9LABELSTRUCTURE* data, LONG count, const std::vector<BYTE>& genericData,
                    bool full = true);
// The same document as text, exactly DocumentToJson(...).dump(2) + "\n" with
// the `extra` string fields added at its end, written element by element
// so that no tree of the whole document is ever held.
void WriteDocumentJson(std::ostream& out, const _STKX9LABELSTRUCTURE* data, LONG count,
                       const std::vector<BYTE>& genericData, bool full,
                       const std::vector<std::pair<std::string, std::string>>& extra = {});

}  // namespace kx9tool
