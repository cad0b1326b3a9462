// File: RefdbTestUtil.h
//
// Small helpers shared by the reference database tests.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "refdb/RefDatabase.h"

namespace refdb_test {

// `T` of the object `id`; an empty holder when it does not answer.
template <class T>
ComPtr<T> Query(refdb::RefDatabase& db, const STOBJECTID& id) {
  IUnknown* object = nullptr;
  LONG detail = 0;
  ComPtr<T> p;
  EXPECT_EQ(S_OK, db.Workspace()->GetDataObject(id, &object, &detail));
  QueryInterfaceTo(object, p);
  return p;
}

// The text of `b`, which is freed; "<null>" tells a null BSTR from an empty one.
inline std::u16string Take(BSTR b) {
  std::u16string s = b ? std::u16string(b, SysStringLen(b)) : std::u16string(u"<null>");
  SysFreeString(b);
  return s;
}

// A new object of `type` under `parent`, or (type 0) a new element of `parent`.
inline STOBJECTID Create(refdb::RefDatabase& db, const STOBJECTID& parent, LONG type = 0, const char16_t* name = u"") {
  STOBJECTID id{};
  LONG detail = 0;
  BstrHolder text(SysAllocString(name));
  EXPECT_EQ(S_OK, type ? db.Workspace()->CreateDataObject(parent, text.Get(), type, 0, &id, &detail)
                       : db.Workspace()->CreateElementObject(parent, &id, &detail));
  return id;
}

// A project with one object of every kind the tests use; checks when it goes
// that no interface reference, BSTR or task-memory block was left behind.
struct Sample {
  refdb::RefDatabase db;
  STOBJECTID project = db.NewProject(u"P");
  STOBJECTID gvl = Create(db, Child(VN_TYPE_GVL_COLLECTION), VN_TYPE_GVL, u"G"), var = Create(db, gvl);
  STOBJECTID sdt = Create(db, Child(VN_TYPE_SDT_COLLECTION), VN_TYPE_SDT, u"T"), member = Create(db, sdt);
  STOBJECTID gvlX = Create(db, Child(VN_TYPE_GVL_COLLECTION_X), VN_TYPE_GVL, u"X");
  STOBJECTID sdtX = Create(db, Child(VN_TYPE_SDT_COLLECTION_X), VN_TYPE_SDT, u"Pos");
  const long bstrs = PlatformLiveBstrCount(), taskMem = PlatformLiveTaskMemCount();

  ~Sample() {
    EXPECT_EQ(std::make_tuple(0L, bstrs, taskMem),
              std::make_tuple(db.OutstandingReferences(), PlatformLiveBstrCount(), PlatformLiveTaskMemCount()));
  }
  STOBJECTID Child(LONG type) const { return db.ChildOfType(project, type); }
};

}  // namespace refdb_test
