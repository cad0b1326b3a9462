// File: EnvelopeTestSupport.h
//
// Shared by the export and import tests: a project in the reference database
// with a component over it, a sample label structure, and access to the
// protected bulk members.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "component/KX9ComFuncLabelStructure.h"
#include "refdb/RefDatabase.h"

namespace envelope_test {
struct Tag;
}

template <>
struct KX9TestAccess<envelope_test::Tag> {
  using C = CKX9ComFuncLabelStructure;
  static C::KX9LabelCPUSeries Series(C& o) { return o.m_eCPUSeries; }
  static C::CGVLDataArray& DeleteSystemLabels(C& o) { return o.m_arrDeleteSystemLabel; }
  static ULONG GetAllDataMain(C& o, LONG* n, _STKX9LABELSTRUCTURE* p) { return o.GetAllDataMain(n, p); }
  static ULONG SetAllDataMain(C& o, LONG n, _STKX9LABELSTRUCTURE* p) { return o.SetAllDataMain(n, p); }
  static ULONG DeleteAllDataType(C& o, LONG t) { return o.DeleteAllDataType(t); }
  static ULONG CreateAllData(C& o, LONG n, _STKX9LABELSTRUCTURE* p) { return o.CreateAllData(n, p); }
  static LONG ReadBinaryData(C& o, const BYTE* p, LONG n, _STKX9LABELSTRUCTURE* d) {
    return o.ReadBinaryData(p, n, d);
  }
};

namespace envelope_test {

using A = KX9TestAccess<Tag>;
using C = CKX9ComFuncLabelStructure;
using Series = C::KX9LabelCPUSeries;
using Bytes = std::vector<BYTE>;

inline _STKX9AUTODEVSET Settings(BYTE seed) {
  _STKX9AUTODEVSET s{};
  for (std::size_t i = 0; i < sizeof s.bytes; ++i) s.bytes[i] = static_cast<BYTE>(seed + i * 3);
  return s;
}

inline Bytes SettingsBytes(const _STKX9AUTODEVSET& s) { return Bytes(s.bytes, s.bytes + sizeof s.bytes); }

// A service block that starts with its own length.
inline Bytes ServiceBlock(std::size_t size, BYTE fill) {
  Bytes b(size, fill);
  b[0] = static_cast<BYTE>(size);
  b[1] = static_cast<BYTE>(size >> 8);
  b[2] = b[3] = 0;
  return b;
}

// An owned record array, as the component creates them.
struct DataSet {
  std::unique_ptr<_STKX9LABELSTRUCTURE[]> data;
  LONG count = 0;
  explicit DataSet(LONG n) : data(new _STKX9LABELSTRUCTURE[static_cast<std::size_t>(n)]), count(n) {}
  _STKX9LABELSTRUCTURE& operator[](LONG i) { return data[static_cast<std::size_t>(i)]; }
};

inline _STKX9LABELSTRUCTURESDTDATA* Member(ULONG line, const char16_t* name, const char16_t* type,
                                           const char16_t* comment = u"") {
  auto* m = new _STKX9LABELSTRUCTURESDTDATA();
  m->lineNo = line;
  m->name = name;
  m->dataTypeName = type;
  m->initData = u"0";
  m->comments[0] = comment;
  return m;
}

inline _STKX9LABELSTRUCTUREGVLDATA* Variable(ULONG line, const char16_t* name, const char16_t* type,
                                             const char16_t* device, const char16_t* comment = u"") {
  auto* v = new _STKX9LABELSTRUCTUREGVLDATA();
  v->lineNo = line;
  v->name = name;
  v->dataTypeName = type;
  v->comments[0] = comment;
  v->devices.Add(_STKX9LABELSTRUCTUREGVLDEVICE{CString(device), CString()});
  return v;
}

inline void MakeSystemLabel(_STKX9LABELSTRUCTUREGVLDATA* v, LONG id, LONG status) {
  v->systemLabel = {id, v->name, u"MAIN", 2, 0x0103, status, 9, 4, u"", u"", 1, 1, u"lokal \u00e9"};
}

// One GVL "Lamps" first, then an SDT "Point", so that a gathering order that
// followed creation would put the GVL first; then a GVL with a structured
// variable and system labels. (A classic GVL without variables has no
// variable collection, which the element reader needs.)
inline DataSet Sample() {
  DataSet d(3);
  d[0].dataType = KX9_DATATYPE_GVL;
  d[0].name = u"Lamps";
  d[0].elements.Add(Variable(1, u"Red", u"BOOL", u"Y10", u"red, \u00e9clair\r\nline 2"));
  d[0].elements.Add(Variable(2, u"Green", u"BOOL", u"Y11", u"C:\\lamps\\"));
  d[1].dataType = KX9_DATATYPE_SDT;
  d[1].name = u"Point";
  d[1].elements.Add(Member(1, u"x", u"DINT", u"x, mm"));
  d[1].elements.Add(Member(2, u"y", u"DINT"));
  d[2].dataType = KX9_DATATYPE_GVL;
  d[2].name = u"Global";
  auto* p = new _STKX9LABELSTRUCTUREGVLDATA();
  p->lineNo = 1;
  p->name = u"Origin";
  p->dataTypeName = u"Point";
  p->structType = 1;
  p->devices.Add(_STKX9LABELSTRUCTUREGVLDEVICE{CString(u"D0"), CString(u"U1")});
  p->devices.Add(_STKX9LABELSTRUCTUREGVLDEVICE{CString(u"D2"), CString()});
  d[2].elements.Add(p);
  auto* s1 = Variable(2, u"Always", u"BOOL", u"SM400", u"system");
  MakeSystemLabel(s1, 501, 2);
  d[2].elements.Add(s1);
  auto* s2 = Variable(3, u"Clock", u"WORD", u"SD210");
  MakeSystemLabel(s2, 502, 4);
  d[2].elements.Add(s2);
  return d;
}

// A project with a component pointed at it.
struct Project {
  refdb::RefDatabase db;
  STOBJECTID id;
  std::unique_ptr<C> c;

  explicit Project(Series series = C::KX9LabelCPUSeriesStandard, C::KX9LabelMode mode = C::KX9LabelModeNormal)
      : id(db.NewProject(u"P")), c(new C(db.Workspace())) {
    c->Initialize(id);
    c->SetCPUSeries(series);
    c->SetMode(mode);
  }

  // Creates `d` under the project through the component's own writer.
  void Fill(DataSet& d) { ASSERT_EQ(A::CreateAllData(*c, d.count, d.data.get()), KX9_OK); }

  void SetGenericData(const Bytes& bytes) {
    IVNDataABS_Workspace* ws = db.Workspace();
    STOBJECTID owner{};
    LONG detail = 0;
    ASSERT_EQ(ws->GetChildIDByType(id, VN_TYPE_GENERIC_DATA, &owner, &detail), S_OK);
    IUnknown* object = nullptr;
    ASSERT_EQ(ws->GetDataObject(owner, &object, &detail), S_OK);
    ComPtr<IVNDataABS_GenericData> g;
    ASSERT_TRUE(QueryInterfaceTo(object, g));
    ASSERT_EQ(g->SetGenericData(VN_GENERIC_SYSTEM_LABEL, static_cast<LONG>(bytes.size()), bytes.data(), &detail),
              S_OK);
  }

  // GetAllData into a vector; `extra` receives the byte after the size.
  ULONG Export(Bytes& out, const _STKX9AUTODEVSET& settings, int* extra = nullptr) {
    BYTE* data = nullptr;
    LONG size = -1;
    ULONG r = c->GetAllData(&data, &size, settings);
    std::unique_ptr<BYTE[]> owned(data);
    out.clear();
    if (data != nullptr && size >= 0) out.assign(data, data + size);
    if (extra != nullptr) *extra = data != nullptr ? data[size] : -1;
    return r;
  }

  ULONG Import(const Bytes& envelope, _STKX9AUTODEVSET& settings, Series series = static_cast<Series>(-1)) {
    return c->SetAllData(envelope.data(), static_cast<LONG>(envelope.size()), settings, series);
  }

  // Names of the children of the project's collection of `collectionType`.
  std::vector<std::u16string> Names(LONG collectionType) const {
    std::vector<std::u16string> names;
    for (const STOBJECTID& child : db.Children(db.ChildOfType(id, collectionType)))
      names.push_back(db.ObjectName(child));
    return names;
  }
};

inline std::string Text(const Bytes& b, std::size_t from) { return std::string(b.begin() + from, b.end()); }

}  // namespace envelope_test
