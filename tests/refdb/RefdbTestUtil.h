// File: RefdbTestUtil.h
//
// Small helpers shared by the reference database tests.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "refdb/RefDatabase.h"

namespace refdb_test {

// The object of `id`, borrowed; fails the test when there is none.
inline IUnknown* ObjectOf(refdb::RefDatabase& db, const STOBJECTID& id) {
  IUnknown* object = nullptr;
  LONG detail = 0;
  EXPECT_EQ(S_OK, db.Workspace()->GetDataObject(id, &object, &detail));
  return object;
}

// `T` of the object `id`; an empty holder when it does not answer.
template <class T>
ComPtr<T> Query(refdb::RefDatabase& db, const STOBJECTID& id) {
  ComPtr<T> p;
  QueryInterfaceTo(ObjectOf(db, id), p);
  return p;
}

// The text of `b`, which is freed.
inline std::u16string Take(BSTR b) {
  std::u16string s = b ? std::u16string(b, SysStringLen(b)) : std::u16string();
  SysFreeString(b);
  return s;
}

// A BSTR that frees itself.
class Bstr {
 public:
  explicit Bstr(const char16_t* s) : m_b(SysAllocString(s)) {}
  ~Bstr() { SysFreeString(m_b); }
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;
  operator BSTR() const { return m_b; }  // NOLINT

 private:
  BSTR m_b;
};

inline STOBJECTID CreateObject(refdb::RefDatabase& db, const STOBJECTID& parent, LONG type,
                               const char16_t* name = u"") {
  STOBJECTID id{};
  LONG detail = 0;
  Bstr n(name);
  EXPECT_EQ(S_OK, db.Workspace()->CreateDataObject(parent, n, type, 0, &id, &detail));
  return id;
}

inline STOBJECTID CreateElement(refdb::RefDatabase& db, const STOBJECTID& data) {
  STOBJECTID id{};
  LONG detail = 0;
  EXPECT_EQ(S_OK, db.Workspace()->CreateElementObject(data, &id, &detail));
  return id;
}

}  // namespace refdb_test
