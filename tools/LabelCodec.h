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

// Writes what nlohmann's dump(2) writes for an object or array whose
// members come one by one: members are indented by two spaces per level,
// and a container without members is "{}" or "[]".
class DumpWriter {
 public:
  explicit DumpWriter(std::ostream& out) : m_out(out) {}
  void Open(char bracket) {
    m_out << bracket;
    m_first.push_back(true);
  }
  void Close(char bracket) {
    const bool empty = m_first.back();
    m_first.pop_back();
    if (!empty) m_out << '\n' << std::string(2 * m_first.size(), ' ');
    m_out << bracket;
  }
  // Starts a member: a key (objects) or nothing (arrays).
  void Member(const char* key = nullptr) {
    m_out << (m_first.back() ? "\n" : ",\n") << std::string(2 * m_first.size(), ' ');
    m_first.back() = false;
    if (key != nullptr) m_out << Json(key).dump() << ": ";
  }
  // Containers open around the next member.
  int Depth() const { return static_cast<int>(m_first.size()); }
  // Text already indented for where it stands.
  void Raw(const std::string& text) { m_out.write(text.data(), static_cast<std::streamsize>(text.size())); }
  // A member and its whole value.
  void Field(const char* key, const Json& value) {
    Member(key);
    Value(value);
  }
  // A whole value, indented for where it stands.
  void Value(const Json& value) {
    const std::string text = value.dump(2);
    const std::string indent = "\n" + std::string(2 * m_first.size(), ' ');
    std::size_t from = 0;
    for (std::size_t nl = text.find('\n'); nl != std::string::npos; nl = text.find('\n', from)) {
      m_out.write(text.data() + from, static_cast<std::streamsize>(nl - from));
      m_out << indent;
      from = nl + 1;
    }
    m_out.write(text.data() + from, static_cast<std::streamsize>(text.size() - from));
  }

 private:
  std::ostream& m_out;
  std::vector<bool> m_first;  // per open container: no member yet
};

}  // namespace kx9tool
