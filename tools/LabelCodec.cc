// File: LabelCodec.cc
//
// JSON <-> label records for the kx9label tool.
#include "tools/LabelCodec.h"

#include <cstdint>
#include <initializer_list>
#include <limits>

namespace kx9tool {

namespace {

constexpr LONG kLongMax = std::numeric_limits<LONG>::max();

[[noreturn]] void Fail(const std::string& where, const std::string& what) {
  throw CodecError(where.empty() ? what : where + ": " + what);
}

std::string At(const std::string& where, const std::string& key) { return where.empty() ? key : where + "." + key; }
std::string At(const std::string& where, std::size_t index) { return where + "[" + std::to_string(index) + "]"; }

// --- reading -----------------------------------------------------------------

void CheckKeys(const Json& object, const std::string& where, std::initializer_list<const char*> allowed) {
  if (!object.is_object()) Fail(where, "expected an object");
  for (auto it = object.begin(); it != object.end(); ++it) {
    bool known = false;
    for (const char* name : allowed) {
      if (it.key() == name) {
        known = true;
        break;
      }
    }
    if (!known) Fail(where, "unknown field \"" + it.key() + "\"");
  }
}

template <class T>
void ReadInteger(const Json& object, const char* key, const std::string& where, T& out) {
  auto it = object.find(key);
  if (it == object.end()) return;
  const std::string path = At(where, key);
  if (it->is_number_unsigned()) {
    const auto v = it->get<std::uint64_t>();
    if (v > static_cast<std::uint64_t>(std::numeric_limits<T>::max()))
      Fail(path, "number " + std::to_string(v) + " out of range");
    out = static_cast<T>(v);
  } else if (it->is_number_integer()) {
    const auto v = it->get<std::int64_t>();
    if (v < static_cast<std::int64_t>(std::numeric_limits<T>::min()) ||
        (v > 0 && static_cast<std::uint64_t>(v) > static_cast<std::uint64_t>(std::numeric_limits<T>::max())))
      Fail(path, "number " + std::to_string(v) + " out of range");
    out = static_cast<T>(v);
  } else {
    Fail(path, "expected an integer");
  }
}

CString TextFrom(const Json& value, const std::string& path) {
  if (!value.is_string()) Fail(path, "expected a string");
  return CString(Utf8ToUtf16Strict(value.get_ref<const std::string&>(), path));
}

void ReadText(const Json& object, const char* key, const std::string& where, CString& out) {
  auto it = object.find(key);
  if (it != object.end()) out = TextFrom(*it, At(where, key));
}

const Json* FindArray(const Json& object, const char* key, const std::string& where) {
  auto it = object.find(key);
  if (it == object.end()) return nullptr;
  if (!it->is_array()) Fail(At(where, key), "expected an array");
  return &*it;
}

void ReadBase(const Json& e, const std::string& where, _STKX9LABELSTRUCTUREBASEDATA& r) {
  ReadInteger(e, "lineNo", where, r.lineNo);
  ReadText(e, "name", where, r.name);
  if (r.name.IsEmpty()) Fail(At(where, "name"), "empty: every element needs a name");
  if (const Json* comments = FindArray(e, "comments", where)) {
    if (comments->size() > static_cast<std::size_t>(KX9_COMMENT_COUNT))
      Fail(At(where, "comments"), "at most " + std::to_string(KX9_COMMENT_COUNT) + " comments");
    for (std::size_t i = 0; i < comments->size(); ++i)
      r.comments[i] = TextFrom((*comments)[i], At(At(where, "comments"), i));
  }
  ReadText(e, "reservedText", where, r.reservedText);
}

void ReadSystemLabel(const Json& s, const std::string& where, _STKX9SYSTEMLABELDATA& r) {
  CheckKeys(s, where,
            {"ID", "name", "programName", "CPUID", "attribute", "status", "projectID", "listID", "comment", "remark",
             "dataType", "dataSize", "localName"});
  ReadInteger(s, "ID", where, r.ID);
  ReadText(s, "name", where, r.name);
  ReadText(s, "programName", where, r.programName);
  ReadInteger(s, "CPUID", where, r.CPUID);
  ReadInteger(s, "attribute", where, r.attribute);
  ReadInteger(s, "status", where, r.status);
  ReadInteger(s, "projectID", where, r.projectID);
  ReadInteger(s, "listID", where, r.listID);
  ReadText(s, "comment", where, r.comment);
  ReadText(s, "remark", where, r.remark);
  ReadInteger(s, "dataType", where, r.dataType);
  ReadInteger(s, "dataSize", where, r.dataSize);
  ReadText(s, "localName", where, r.localName);
}

void ReadVariable(const Json& e, const std::string& where, _STKX9LABELSTRUCTUREGVLDATA& r) {
  CheckKeys(e, where,
            {"lineNo", "name", "comments", "reservedText", "classKeyword", "structType", "dataTypeName", "initData",
             "devices", "remark", "systemLabel", "exAccess", "arraySizes", "dynamicAttr1", "dynamicAttr2",
             "dynamicAttr3", "dynamicAttr4", "dynamicAttr5"});
  ReadBase(e, where, r);
  ReadInteger(e, "classKeyword", where, r.classKeyword);
  ReadInteger(e, "structType", where, r.structType);
  ReadText(e, "dataTypeName", where, r.dataTypeName);
  ReadText(e, "initData", where, r.initData);
  if (const Json* devices = FindArray(e, "devices", where)) {
    for (std::size_t i = 0; i < devices->size(); ++i) {
      const std::string path = At(At(where, "devices"), i);
      const Json& d = (*devices)[i];
      CheckKeys(d, path, {"device", "deviceExtra"});
      _STKX9LABELSTRUCTUREGVLDEVICE device;
      ReadText(d, "device", path, device.device);
      ReadText(d, "deviceExtra", path, device.deviceExtra);
      r.devices.Add(device);
    }
  }
  ReadText(e, "remark", where, r.remark);
  if (auto it = e.find("systemLabel"); it != e.end()) ReadSystemLabel(*it, At(where, "systemLabel"), r.systemLabel);
  ReadText(e, "exAccess", where, r.exAccess);
  if (const Json* sizes = FindArray(e, "arraySizes", where)) {
    for (std::size_t i = 0; i < sizes->size(); ++i) {
      const std::string path = At(At(where, "arraySizes"), i);
      const Json& s = (*sizes)[i];
      CheckKeys(s, path, {"value1", "value2"});
      _STARRAYSIZEINFO size;
      ReadInteger(s, "value1", path, size.value1);
      ReadInteger(s, "value2", path, size.value2);
      r.arraySizes.Add(size);
    }
  }
  ReadText(e, "dynamicAttr1", where, r.dynamicAttr1);
  ReadText(e, "dynamicAttr2", where, r.dynamicAttr2);
  ReadInteger(e, "dynamicAttr3", where, r.dynamicAttr3);
  ReadText(e, "dynamicAttr4", where, r.dynamicAttr4);
  ReadText(e, "dynamicAttr5", where, r.dynamicAttr5);
}

void ReadMember(const Json& e, const std::string& where, _STKX9LABELSTRUCTURESDTDATA& r) {
  CheckKeys(e, where, {"lineNo", "name", "comments", "reservedText", "dataTypeName", "initData"});
  ReadBase(e, where, r);
  ReadText(e, "dataTypeName", where, r.dataTypeName);
  ReadText(e, "initData", where, r.initData);
}

// --- writing -----------------------------------------------------------------

// The path of a value is made only when its text cannot be converted.
template <class Where>
std::string Utf8(const CString& s, Where where) {
  const std::u16string_view v = s.View();
  bool bAscii = true;
  for (char16_t c : v) bAscii &= c < 0x80;
  if (bAscii) return std::string(v.begin(), v.end());
  return Utf16ToUtf8Strict(v, where());
}

// Puts the fields of one record into an object; in the compact form it
// leaves out each field that holds the value of `initial`, a record of the
// same kind as it is constructed, and each empty list or object. Two kinds
// share the record walks below: FieldWriter builds a JSON tree, TextWriter
// writes the text that tree's dump(2) would be, straight away.
class FieldWriter {
 public:
  FieldWriter(Json& j, const std::string& where, bool full) : m_j(j), m_where(where), m_full(full) {}
  template <class T>
  void Number(const char* key, T value, T initial) {
    if (m_full || value != initial) m_j[key] = value;
  }
  void Text(const char* key, const CString& value, const CString& initial) {
    if (m_full || value.View() != initial.View()) m_j[key] = Utf8(value, [&] { return At(m_where, key); });
  }
  // A list whose items fill(Items&) adds; nonEmpty tells whether it gets any.
  template <class F>
  void List(const char* key, bool nonEmpty, F fill) {
    Json items = Json::array();
    Items add{items, m_full};
    fill(add);
    if (m_full || nonEmpty) m_j[key] = std::move(items);
  }
  template <class F>
  void Object(const char* key, const std::string& where, F fill) {
    Json o = Json::object();
    FieldWriter w(o, where, m_full);
    fill(w);
    if (m_full || !o.empty()) m_j[key] = std::move(o);
  }
  std::string Path(const char* key) const { return At(m_where, key); }
  bool Full() const { return m_full; }

  struct Items {
    Json& a;
    bool full;
    template <class Where>
    void Text(const CString& value, Where where) {
      a.push_back(Utf8(value, where));
    }
    template <class F>
    void Object(const std::string& where, F fill) {
      Json o = Json::object();
      FieldWriter w(o, where, full);
      fill(w);
      a.push_back(std::move(o));
    }
  };

 private:
  Json& m_j;
  const std::string& m_where;
  bool m_full;
};

// JSON text as dump(2) writes it: strings escaped as the library does
// (ensure_ascii off), containers without members as "{}" and "[]".
void AppendJsonString(std::string& out, const std::string& utf8) {
  out += '"';
  for (char ch : utf8) {
    const auto c = static_cast<unsigned char>(ch);
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\b':
        out += "\\b";
        break;
      case '\f':
        out += "\\f";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (c < 0x20) {
          static const char kHex[] = "0123456789abcdef";
          out += "\\u00";
          out += kHex[c >> 4];
          out += kHex[c & 0xF];
        } else {
          out += ch;
        }
    }
  }
  out += '"';
}

class TextWriter {
 public:
  // An object nested `depth` containers deep; its "{" is written now.
  TextWriter(std::string& out, int depth, const std::string& where, bool full)
      : m_out(out), m_depth(depth), m_where(where), m_full(full) {
    m_out += '{';
  }
  template <class T>
  void Number(const char* key, T value, T initial) {
    if (!m_full && value == initial) return;
    Key(key);
    m_out += std::to_string(value);
  }
  void Text(const char* key, const CString& value, const CString& initial) {
    if (!m_full && value.View() == initial.View()) return;
    Key(key);
    AppendJsonString(m_out, Utf8(value, [&] { return At(m_where, key); }));
  }
  template <class F>
  void List(const char* key, bool nonEmpty, F fill) {
    if (!m_full && !nonEmpty) return;
    Key(key);
    Items add{m_out, m_depth + 1, m_full};
    m_out += '[';
    fill(add);
    Close(add.any, m_depth + 1, ']');
  }
  template <class F>
  void Object(const char* key, const std::string& where, F fill) {
    std::string text;
    TextWriter w(text, m_depth + 1, where, m_full);
    fill(w);
    if (!m_full && !w.m_any) return;
    w.End();
    Key(key);
    m_out += text;
  }
  void End() { Close(m_any, m_depth, '}'); }
  std::string Path(const char* key) const { return At(m_where, key); }
  bool Full() const { return m_full; }

  struct Items {
    std::string& out;
    int depth;
    bool full;
    bool any = false;
    void Item() {
      out += any ? ",\n" : "\n";
      out.append(2 * static_cast<std::size_t>(depth + 1), ' ');
      any = true;
    }
    template <class Where>
    void Text(const CString& value, Where where) {
      Item();
      AppendJsonString(out, Utf8(value, where));
    }
    template <class F>
    void Object(const std::string& where, F fill) {
      Item();
      TextWriter w(out, depth + 1, where, full);
      fill(w);
      w.End();
    }
  };

 private:
  void Key(const char* key) {
    m_out += m_any ? ",\n" : "\n";
    m_out.append(2 * static_cast<std::size_t>(m_depth + 1), ' ');
    m_out += '"';
    m_out += key;  // keys are plain ASCII names
    m_out += "\": ";
    m_any = true;
  }
  void Close(bool any, int depth, char bracket) {
    if (any) {
      m_out += '\n';
      m_out.append(2 * static_cast<std::size_t>(depth), ' ');
    }
    m_out += bracket;
  }

  std::string& m_out;
  int m_depth;
  const std::string& m_where;
  bool m_full;
  bool m_any = false;
};

template <class W>
void WriteBase(W& w, const _STKX9LABELSTRUCTUREBASEDATA& r, const _STKX9LABELSTRUCTUREBASEDATA& initial) {
  w.Number("lineNo", r.lineNo, initial.lineNo);
  w.Text("name", r.name, initial.name);
  // Comments are positional: the compact form ends after the last one that
  // is not as constructed.
  int used = KX9_COMMENT_COUNT;
  while (!w.Full() && used > 0 && r.comments[used - 1].View() == initial.comments[used - 1].View()) --used;
  w.List("comments", used > 0, [&](auto& items) {
    for (int i = 0; i < used; ++i)
      items.Text(r.comments[i], [&] { return At(w.Path("comments"), static_cast<std::size_t>(i)); });
  });
  w.Text("reservedText", r.reservedText, initial.reservedText);
}

template <class W>
void WriteSystemLabel(W& w, const _STKX9SYSTEMLABELDATA& s) {
  static const _STKX9SYSTEMLABELDATA initial;
  w.Number("ID", s.ID, initial.ID);
  w.Text("name", s.name, initial.name);
  w.Text("programName", s.programName, initial.programName);
  w.Number("CPUID", s.CPUID, initial.CPUID);
  w.Number("attribute", s.attribute, initial.attribute);
  w.Number("status", s.status, initial.status);
  w.Number("projectID", s.projectID, initial.projectID);
  w.Number("listID", s.listID, initial.listID);
  w.Text("comment", s.comment, initial.comment);
  w.Text("remark", s.remark, initial.remark);
  w.Number("dataType", s.dataType, initial.dataType);
  w.Number("dataSize", s.dataSize, initial.dataSize);
  w.Text("localName", s.localName, initial.localName);
}

template <class W>
void WriteVariable(W& w, const _STKX9LABELSTRUCTUREGVLDATA& r) {
  static const _STKX9LABELSTRUCTUREGVLDATA initial;
  static const _STKX9LABELSTRUCTUREGVLDEVICE initialDevice;
  static const _STARRAYSIZEINFO initialSize;
  WriteBase(w, r, initial);
  w.Number("classKeyword", r.classKeyword, initial.classKeyword);
  w.Number("structType", r.structType, initial.structType);
  w.Text("dataTypeName", r.dataTypeName, initial.dataTypeName);
  w.Text("initData", r.initData, initial.initData);
  w.List("devices", r.devices.GetSize() > 0, [&](auto& items) {
    for (int i = 0; i < r.devices.GetSize(); ++i)
      items.Object(At(w.Path("devices"), static_cast<std::size_t>(i)), [&](auto& dw) {
        dw.Text("device", r.devices[i].device, initialDevice.device);
        dw.Text("deviceExtra", r.devices[i].deviceExtra, initialDevice.deviceExtra);
      });
  });
  w.Text("remark", r.remark, initial.remark);
  w.Object("systemLabel", w.Path("systemLabel"), [&](auto& sw) { WriteSystemLabel(sw, r.systemLabel); });
  w.Text("exAccess", r.exAccess, initial.exAccess);
  w.List("arraySizes", r.arraySizes.GetSize() > 0, [&](auto& items) {
    for (int i = 0; i < r.arraySizes.GetSize(); ++i)
      items.Object(w.Path("arraySizes"), [&](auto& sw) {
        sw.Number("value1", r.arraySizes[i].value1, initialSize.value1);
        sw.Number("value2", r.arraySizes[i].value2, initialSize.value2);
      });
  });
  w.Text("dynamicAttr1", r.dynamicAttr1, initial.dynamicAttr1);
  w.Text("dynamicAttr2", r.dynamicAttr2, initial.dynamicAttr2);
  w.Number("dynamicAttr3", r.dynamicAttr3, initial.dynamicAttr3);
  w.Text("dynamicAttr4", r.dynamicAttr4, initial.dynamicAttr4);
  w.Text("dynamicAttr5", r.dynamicAttr5, initial.dynamicAttr5);
}

template <class W>
void WriteElement(W& w, LONG dataType, const _STKX9LABELSTRUCTUREBASEDATA& element) {
  if (dataType == KX9_DATATYPE_SDT) {
    static const _STKX9LABELSTRUCTURESDTDATA initial;
    const auto& r = static_cast<const _STKX9LABELSTRUCTURESDTDATA&>(element);
    WriteBase(w, r, initial);
    w.Text("dataTypeName", r.dataTypeName, initial.dataTypeName);
    w.Text("initData", r.initData, initial.initData);
  } else if (dataType == KX9_DATATYPE_GVL) {
    WriteVariable(w, static_cast<const _STKX9LABELSTRUCTUREGVLDATA&>(element));
  } else {
    static const _STKX9LABELSTRUCTUREBASEDATA initial;
    WriteBase(w, element, initial);
  }
}

Json ElementToJsonAt(LONG dataType, const _STKX9LABELSTRUCTUREBASEDATA& element, const std::string& where, bool full) {
  Json j = Json::object();
  FieldWriter w(j, where, full);
  WriteElement(w, dataType, element);
  return j;
}

// Owns one element record until it is appended to a datum.
struct ElementHolder {
  LONG dataType;
  _STKX9LABELSTRUCTUREBASEDATA* p;
  ~ElementHolder() { KX9DeleteElement(dataType, p); }
  _STKX9LABELSTRUCTUREBASEDATA* Release() {
    auto* r = p;
    p = nullptr;
    return r;
  }
};

}  // namespace

// --- text --------------------------------------------------------------------

std::u16string Utf8ToUtf16Strict(const std::string& text, const std::string& where) {
  std::u16string out;
  out.reserve(text.size());
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const std::size_t n = text.size();
  std::size_t i = 0;
  while (i < n) {
    const unsigned char b = p[i];
    char32_t cp;
    std::size_t len;
    char32_t min;
    if (b < 0x80) {
      cp = b;
      len = 1;
      min = 0;
    } else if ((b & 0xE0) == 0xC0) {
      cp = b & 0x1F;
      len = 2;
      min = 0x80;
    } else if ((b & 0xF0) == 0xE0) {
      cp = b & 0x0F;
      len = 3;
      min = 0x800;
    } else if ((b & 0xF8) == 0xF0) {
      cp = b & 0x07;
      len = 4;
      min = 0x10000;
    } else {
      Fail(where, "invalid UTF-8 at byte " + std::to_string(i));
    }
    if (i + len > n) Fail(where, "truncated UTF-8 sequence at byte " + std::to_string(i));
    for (std::size_t k = 1; k < len; ++k) {
      if ((p[i + k] & 0xC0) != 0x80) Fail(where, "invalid UTF-8 at byte " + std::to_string(i));
      cp = (cp << 6) | (p[i + k] & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
      Fail(where, "invalid UTF-8 at byte " + std::to_string(i));
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(cp));
    }
    i += len;
  }
  return out;
}

std::string Utf16ToUtf8Strict(std::u16string_view text, const std::string& where) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    char32_t cp = text[i];
    if (cp >= 0xD800 && cp <= 0xDBFF) {
      if (i + 1 >= text.size() || text[i + 1] < 0xDC00 || text[i + 1] > 0xDFFF)
        Fail(where, "unpaired UTF-16 surrogate at unit " + std::to_string(i) + ": not representable as UTF-8");
      cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (cp >= 0xDC00 && cp <= 0xDFFF) {
      Fail(where, "unpaired UTF-16 surrogate at unit " + std::to_string(i) + ": not representable as UTF-8");
    }
    if (cp < 0x80) {
      out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
  }
  return out;
}

// --- hex -----------------------------------------------------------------------

std::string BytesToHex(const BYTE* p, std::size_t n) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  out.resize(2 * n);
  for (std::size_t i = 0; i < n; ++i) {
    out[2 * i] = kDigits[p[i] >> 4];
    out[2 * i + 1] = kDigits[p[i] & 0x0F];
  }
  return out;
}

std::string BytesToHex(const std::vector<BYTE>& bytes) { return BytesToHex(bytes.data(), bytes.size()); }

std::vector<BYTE> HexToBytes(const std::string& hex, const std::string& where) {
  auto digit = [&](char c, std::size_t pos) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    Fail(where, "not a hex digit at position " + std::to_string(pos));
  };
  if (hex.size() % 2 != 0) Fail(where, "hex text of odd length " + std::to_string(hex.size()));
  std::vector<BYTE> out(hex.size() / 2);
  for (std::size_t i = 0; i < out.size(); ++i)
    out[i] = static_cast<BYTE>(digit(hex[2 * i], 2 * i) << 4 | digit(hex[2 * i + 1], 2 * i + 1));
  return out;
}

// --- records -------------------------------------------------------------------

LabelSet::LabelSet(LONG count)
    : m_data(count > 0 ? new _STKX9LABELSTRUCTURE[static_cast<std::size_t>(count)] : nullptr),
      m_count(count > 0 ? count : 0) {}

Json ElementToJson(LONG dataType, const _STKX9LABELSTRUCTUREBASEDATA& element, const std::string& where, bool full) {
  return ElementToJsonAt(dataType, element, where, full);
}

_STKX9LABELSTRUCTUREBASEDATA* ElementFromJson(LONG dataType, const Json& element, const std::string& where) {
  if (dataType == KX9_DATATYPE_SDT) {
    ElementHolder h{dataType, new _STKX9LABELSTRUCTURESDTDATA()};
    ReadMember(element, where, *static_cast<_STKX9LABELSTRUCTURESDTDATA*>(h.p));
    return h.Release();
  }
  if (dataType == KX9_DATATYPE_GVL) {
    ElementHolder h{dataType, new _STKX9LABELSTRUCTUREGVLDATA()};
    ReadVariable(element, where, *static_cast<_STKX9LABELSTRUCTUREGVLDATA*>(h.p));
    return h.Release();
  }
  Fail(where, "no element kind for dataType " + std::to_string(dataType));
}

namespace {

// A datum's own fields, without its elements.
Json DatumHead(const _STKX9LABELSTRUCTURE& d, const std::string& where, bool full) {
  static const _STKX9LABELSTRUCTURE initial;
  Json j = Json::object();
  FieldWriter w(j, where, full);
  w.Number("dataType", d.dataType, initial.dataType);
  w.Text("name", d.name, initial.name);
  return j;
}

}  // namespace

Json DataToJson(const _STKX9LABELSTRUCTURE* data, LONG count, bool full) {
  Json out = Json::array();
  for (LONG i = 0; i < count; ++i) {
    const _STKX9LABELSTRUCTURE& d = data[i];
    const std::string where = At("data", static_cast<std::size_t>(i));
    Json j = DatumHead(d, where, full);
    Json elements = Json::array();
    for (int k = 0; k < d.elements.GetSize(); ++k) {
      if (d.elements[k] == nullptr) continue;
      elements.push_back(
          ElementToJsonAt(d.dataType, *d.elements[k], At(At(where, "elements"), static_cast<std::size_t>(k)), full));
    }
    if (full || !elements.empty()) j["elements"] = std::move(elements);
    out.push_back(std::move(j));
  }
  return out;
}

LabelSet DataFromJson(const Json& data) {
  if (!data.is_array()) Fail("data", "expected an array");
  if (data.size() > static_cast<std::size_t>(kLongMax)) Fail("data", "too many data");
  LabelSet set(static_cast<LONG>(data.size()));
  for (std::size_t i = 0; i < data.size(); ++i) {
    const std::string where = At("data", i);
    const Json& d = data[i];
    CheckKeys(d, where, {"dataType", "name", "elements"});
    _STKX9LABELSTRUCTURE& r = set.Data()[i];
    if (d.find("dataType") == d.end()) Fail(where, "no dataType (14 for a GVL, 18 for an SDT)");
    ReadInteger(d, "dataType", where, r.dataType);
    if (r.dataType != KX9_DATATYPE_GVL && r.dataType != KX9_DATATYPE_SDT)
      Fail(At(where, "dataType"), std::to_string(r.dataType) + " is neither 14 (GVL) nor 18 (SDT)");
    ReadText(d, "name", where, r.name);
    if (r.name.IsEmpty()) Fail(At(where, "name"), "empty: every datum needs a name");
    if (const Json* elements = FindArray(d, "elements", where)) {
      r.elements.Reserve(static_cast<int>(elements->size()));
      for (std::size_t k = 0; k < elements->size(); ++k)
        r.elements.Add(ElementFromJson(r.dataType, (*elements)[k], At(At(where, "elements"), k)));
    }
  }
  return set;
}

LabelDocument DocumentFromJson(const Json& document) {
  CheckKeys(document, "", {"count", "data", "genericData", "serviceBlock", "settings"});
  LabelDocument doc;
  if (auto it = document.find("data"); it != document.end()) doc.data = DataFromJson(*it);
  if (auto it = document.find("genericData"); it != document.end()) {
    if (!it->is_string()) Fail("genericData", "expected a hex string");
    doc.genericData = HexToBytes(it->get<std::string>(), "genericData");
  }
  return doc;
}

void WriteDocumentJson(std::ostream& out, const _STKX9LABELSTRUCTURE* data, LONG count,
                       const std::vector<BYTE>& genericData, bool full,
                       const std::vector<std::pair<std::string, std::string>>& extra) {
  DumpWriter w(out);
  w.Open('{');
  if (full) {
    w.Member("count");
    w.Value(count);
  }
  if (full || count > 0) {
    w.Member("data");
    w.Open('[');
    for (LONG i = 0; i < count; ++i) {
      const _STKX9LABELSTRUCTURE& d = data[i];
      const std::string where = At("data", static_cast<std::size_t>(i));
      // The datum's own fields as DataToJson writes them, then its elements one by one.
      const Json head = DatumHead(d, where, full);
      w.Member();
      w.Open('{');
      for (auto it = head.begin(); it != head.end(); ++it) {
        w.Member(it.key().c_str());
        w.Value(it.value());
      }
      bool bAny = false;
      for (int k = 0; k < d.elements.GetSize() && !bAny; ++k) bAny = d.elements[k] != nullptr;
      if (full || bAny) {
        w.Member("elements");
        w.Open('[');
        std::string text;
        for (int k = 0; k < d.elements.GetSize(); ++k) {
          if (d.elements[k] == nullptr) continue;
          w.Member();
          text.clear();
          const std::string path = At(At(where, "elements"), static_cast<std::size_t>(k));  // outlives the writer
          TextWriter tw(text, w.Depth(), path, full);
          WriteElement(tw, d.dataType, *d.elements[k]);
          tw.End();
          w.Raw(text);
        }
        w.Close(']');
      }
      w.Close('}');
    }
    w.Close(']');
  }
  if (full || !genericData.empty()) {
    w.Member("genericData");
    w.Value(BytesToHex(genericData));
  }
  for (const auto& [key, value] : extra) {
    w.Member(key.c_str());
    w.Value(value);
  }
  w.Close('}');
  out << '\n';
}

Json DocumentToJson(const _STKX9LABELSTRUCTURE* data, LONG count, const std::vector<BYTE>& genericData, bool full) {
  Json j = Json::object();
  if (full) j["count"] = count;
  if (full || count > 0) j["data"] = DataToJson(data, count, full);
  if (full || !genericData.empty()) j["genericData"] = BytesToHex(genericData);
  return j;
}

}  // namespace kx9tool
