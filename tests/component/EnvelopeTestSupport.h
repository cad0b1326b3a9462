// File: EnvelopeTestSupport.h
//
// Shared by the component tests: a project in the reference database with a
// component over it, a sample label structure, envelopes, and access to the
// protected members.
#pragma once

#include <gtest/gtest.h>

#include <initializer_list>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "component/KX9ComFuncLabelStructure.h"
#include "refdb/RefDatabase.h"

namespace envelope_test {
struct Tag;
using Bytes = std::vector<BYTE>;
}  // namespace envelope_test

template <>
struct KX9TestAccess<envelope_test::Tag> {
  using C = CKX9ComFuncLabelStructure;
  static C::KX9LabelCPUSeries Series(C& o) { return o.m_eCPUSeries; }
  static C::CGVLDataArray& Collected(C& o) { return o.m_arrDeleteSystemLabel; }
  static C::CDynamicLabelArray& Labels(C& o) { return o.m_arrDynamicLabel; }
  static C::CDynamicStructMap& Structs(C& o) { return o.m_mapDynamicStruct; }
  static ULONG Flash(C& o) { return o.FlashDataBase(); }
  static ULONG SetAllDataMain(C& o, LONG n, _STKX9LABELSTRUCTURE* p) { return o.SetAllDataMain(n, p); }
  static ULONG CreateAllData(C& o, LONG n, _STKX9LABELSTRUCTURE* p) { return o.CreateAllData(n, p); }
  static ULONG SetGeneric(C& o, const envelope_test::Bytes& b) {
    return o.SetGenericDataInf(VN_GENERIC_SYSTEM_LABEL, static_cast<LONG>(b.size()), b.data());
  }
  static LONG Write(C& o, LONG n, _STKX9LABELSTRUCTURE*& d, BYTE*& image) { return o.WriteBinaryData(n, d, image, 0); }
  static LONG Read(C& o, const BYTE* p, LONG n, _STKX9LABELSTRUCTURE* d) { return o.ReadBinaryData(p, n, d); }
  static ULONG Serialize(C& o, C::CGVLDataList& l, LONG* n, BYTE** p) { return o.SerializeSystemLabelData(l, n, p); }
  static ULONG Deserialize(C& o, const BYTE* p, LONG n, C::CGVLDataList& l) {
    return o.DeserializeSystemLabelData(p, n, 0, l);
  }
  static void WriteText(C& o, LONG n, _STKX9LABELSTRUCTURE* d, const CString& path) { o.WriteTextFile(n, d, path); }
  static LONG ReadText(C& o, const CString& path, _STKX9LABELSTRUCTURE* d) { return o.ReadTextFile(path, d); }
};

namespace envelope_test {

using A = KX9TestAccess<Tag>;
using C = CKX9ComFuncLabelStructure;
using Series = C::KX9LabelCPUSeries;
using Names = std::vector<std::u16string>;
constexpr Series kStandard = C::KX9LabelCPUSeriesStandard, kX = C::KX9LabelCPUSeriesX;

inline _STKX9AUTODEVSET Settings(BYTE seed) {
  _STKX9AUTODEVSET s{};
  for (std::size_t i = 0; i < sizeof s.bytes; ++i) s.bytes[i] = static_cast<BYTE>(seed + i * 3);
  return s;
}

inline Bytes SettingsBytes(const _STKX9AUTODEVSET& s) { return Bytes(s.bytes, s.bytes + sizeof s.bytes); }

// A service block that starts with its own length.
inline Bytes ServiceBlock(std::size_t size, BYTE fill) {
  Bytes b(size, fill);
  b[0] = static_cast<BYTE>(size), b[1] = static_cast<BYTE>(size >> 8), b[2] = b[3] = 0;
  return b;
}

// Block | settings | image, the image ANSI or (`wide`, ASCII only) UTF-16LE.
inline Bytes Envelope(Bytes block, const _STKX9AUTODEVSET& settings, const std::string& image, bool wide = false) {
  block.insert(block.end(), settings.bytes, settings.bytes + sizeof settings.bytes);
  for (char ch : image) {
    block.push_back(static_cast<BYTE>(ch));
    if (wide) block.push_back(0);
  }
  return block;
}

// One label record: data type, name and elements.
struct Datum {
  LONG type;
  const char16_t* name;
  std::vector<_STKX9LABELSTRUCTUREBASEDATA*> elements = {};
};

// An owned record array, as the component creates them.
struct DataSet {
  std::unique_ptr<_STKX9LABELSTRUCTURE[]> data;
  LONG count = 0;
  explicit DataSet(LONG n) : data(new _STKX9LABELSTRUCTURE[static_cast<std::size_t>(n)]), count(n) {}
  DataSet(std::initializer_list<Datum> list) : DataSet(static_cast<LONG>(list.size())) {
    _STKX9LABELSTRUCTURE* r = data.get();
    for (const Datum& x : list) {
      r->dataType = x.type, r->name = x.name;
      for (auto* e : x.elements) r->elements.Add(e);
      ++r;
    }
  }
  _STKX9LABELSTRUCTURE& operator[](LONG i) { return data[static_cast<std::size_t>(i)]; }
};

inline _STKX9LABELSTRUCTURESDTDATA* Member(ULONG line, const char16_t* name, const char16_t* type,
                                           const char16_t* comment = u"") {
  auto* m = new _STKX9LABELSTRUCTURESDTDATA();
  m->lineNo = line, m->name = name, m->dataTypeName = type, m->initData = u"0", m->comments[0] = comment;
  return m;
}

inline _STKX9LABELSTRUCTUREGVLDATA* Variable(ULONG line, const char16_t* name, const char16_t* type,
                                             const char16_t* device, const char16_t* comment = u"") {
  auto* v = new _STKX9LABELSTRUCTUREGVLDATA();
  v->lineNo = line, v->name = name, v->dataTypeName = type, v->comments[0] = comment;
  v->devices.Add(_STKX9LABELSTRUCTUREGVLDEVICE{CString(device), CString()});
  return v;
}

inline _STKX9LABELSTRUCTUREGVLDATA* SystemLabel(_STKX9LABELSTRUCTUREGVLDATA* v, LONG id, LONG status) {
  v->systemLabel = {id, v->name, u"MAIN", 2, 0x0103, status, 9, 4, u"", u"", 1, 1, u"lokal \u00e9"};
  return v;
}

// One GVL "Lamps" first, then an SDT "Point", so that a gathering order that
// followed creation would put the GVL first; then a GVL with a structured
// variable and system labels. (A classic GVL without variables has no
// variable collection, which the element reader needs.) `gathered`: with
// the first two swapped, as an export gathers them.
inline DataSet Sample(bool gathered = false) {
  const Datum lamps{KX9_DATATYPE_GVL,
                    u"Lamps",
                    {Variable(1, u"Red", u"BOOL", u"Y10", u"red, \u00e9clair\r\nline 2"),
                     Variable(2, u"Green", u"BOOL", u"Y11", u"C:\\lamps\\")}};
  const Datum point{KX9_DATATYPE_SDT, u"Point", {Member(1, u"x", u"DINT", u"x, mm"), Member(2, u"y", u"DINT")}};
  auto* p = Variable(1, u"Origin", u"Point", u"D0");
  p->structType = 1, p->devices[0].deviceExtra = u"U1";
  p->devices.Add(_STKX9LABELSTRUCTUREGVLDEVICE{CString(u"D2"), CString()});
  const Datum global{KX9_DATATYPE_GVL,
                     u"Global",
                     {p, SystemLabel(Variable(2, u"Always", u"BOOL", u"SM400", u"system"), 501, 2),
                      SystemLabel(Variable(3, u"Clock", u"WORD", u"SD210"), 502, 4)}};
  return gathered ? DataSet{point, lamps, global} : DataSet{lamps, point, global};
}
const Names kSampleSdts = {u"Point"}, kSampleGvls = {u"Lamps", u"Global"};
const std::pair<Names, Names> kSample = {kSampleSdts, kSampleGvls}, kNone;
const Bytes kSampleBlock = ServiceBlock(9, 0x11);

// A project with a component pointed at it. The system labels an import
// collects are the host's: deleted here.
struct Project {
  refdb::RefDatabase db;
  STOBJECTID id;
  std::unique_ptr<C> c;

  explicit Project(Series series = kStandard) : id(db.NewProject(u"P")), c(new C(db.Workspace())) {
    c->Initialize(id);
    c->SetCPUSeries(series);
  }
  ~Project() {
    for (int i = 0; i < A::Collected(*c).GetSize(); ++i) delete A::Collected(*c)[i];
    A::Collected(*c).RemoveAll();
  }

  // Creates `d` under the project through the component's own writer.
  void Fill(DataSet d) { ASSERT_EQ(A::CreateAllData(*c, d.count, d.data.get()), KX9_OK); }

  // GetAllData, which must give `expected`, into a vector; `extra` receives
  // the byte after the size.
  Bytes Export(const _STKX9AUTODEVSET& settings, ULONG expected = KX9_OK, int* extra = nullptr) {
    BYTE* data = nullptr;
    LONG size = -1;
    EXPECT_EQ(c->GetAllData(&data, &size, settings), expected);
    std::unique_ptr<BYTE[]> owned(data);
    if (extra != nullptr) *extra = data != nullptr ? data[size] : -1;
    return data != nullptr && size >= 0 ? Bytes(data, data + size) : Bytes{};
  }

  ULONG Import(const Bytes& envelope, _STKX9AUTODEVSET& settings, Series series = static_cast<Series>(-1)) {
    return c->SetAllData(envelope.data(), static_cast<LONG>(envelope.size()), settings, series);
  }
  ULONG Import(const Bytes& envelope, Series series = static_cast<Series>(-1)) {
    _STKX9AUTODEVSET settings{};
    return Import(envelope, settings, series);
  }

  // The SDT and GVL names on the classic or the high-capacity side.
  std::pair<Names, Names> Labels(bool x) const {
    auto of = [this](LONG collectionType) {
      Names names;
      for (const STOBJECTID& child : db.Children(db.ChildOfType(id, collectionType)))
        names.push_back(db.ObjectName(child));
      return names;
    };
    return {of(x ? VN_TYPE_SDT_COLLECTION_X : VN_TYPE_SDT_COLLECTION),
            of(x ? VN_TYPE_GVL_COLLECTION_X : VN_TYPE_GVL_COLLECTION)};
  }
};

// A project holding the sample, and its export.
struct Filled : Project {
  explicit Filled(Series series = kStandard) : Project(series) { Fill(Sample()), db.SetServiceBlock(id, kSampleBlock); }
};
inline Bytes ExportOf(Series series, BYTE settings = 0) { return Filled(series).Export(Settings(settings)); }

}  // namespace envelope_test
