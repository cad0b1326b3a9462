// File: RefdbFixtures.h
//
// Builders that populate a project of the reference database directly
// through the database interfaces (never through the component), and
// read-back of high-capacity rows into the same simple structs.
//
// Builders count as database calls: a test that asserts call counts calls
// db.Faults().ResetCounts() after building. A database call that fails
// inside a builder raises std::runtime_error naming the operation.
//
// Example:
//   refdb::RefDatabase db;
//   STOBJECTID project = db.NewProject(u"P");
//   STOBJECTID gvl = refdb_fixtures::AddClassicGVL(db, project, u"Motion");
//   refdb_fixtures::VariableSpec speed;
//   speed.name = u"Speed";
//   speed.typeName = u"DINT";
//   refdb_fixtures::AddClassicVariable(db, gvl, speed);
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "refdb/RefDatabase.h"

namespace refdb_fixtures {

using DevicePair = std::pair<std::u16string, std::u16string>;  // device, device extra

// The system-label part of a variable; written only when status is non-zero.
struct SystemLabelSpec {
  std::u16string name, programName, localName, comment, remark;
  LONG id = 0, cpuID = 0, projectID = 0, listID = 0, dataType = 0, status = 0;
  WORD attribute = 0, dataSize = 0;
};

// --- classic path ------------------------------------------------------------

// A GVL (14) under the project's collection 13, or an SDT (18) under 17.
STOBJECTID AddClassicGVL(refdb::RefDatabase& db, const STOBJECTID& project, const std::u16string& name);
STOBJECTID AddClassicSDT(refdb::RefDatabase& db, const STOBJECTID& project, const std::u16string& name);

struct VariableSpec {
  std::u16string name;
  std::u16string typeName = u"INT";  // the type string
  std::u16string initData, comment, remark, device, deviceExtra;
  ULONG lineNo = 0;
  LONG classKeyword = 0;
  LONG exAccess = 0;
  LONG structKind = 0;
  LONG typeCode = -1;  // written through IVNDataABS_VariableDataType unless -1
  std::vector<DevicePair> memberDevices;
  SystemLabelSpec systemLabel;
};

// A new global variable in `gvl` with every field of `desc`; its ID.
STOBJECTID AddClassicVariable(refdb::RefDatabase& db, const STOBJECTID& gvl, const VariableSpec& desc);

struct MemberSpec {
  std::u16string name;
  std::u16string typeName = u"INT";
  std::u16string initData, comment;
  ULONG lineNo = 0;
  LONG typeCode = -1;  // written unless -1
};

// A new member of `sdt` with every field of `desc`; its ID.
STOBJECTID AddClassicMember(refdb::RefDatabase& db, const STOBJECTID& sdt, const MemberSpec& desc);

// --- high-capacity path -------------------------------------------------------

// A GVL under the project's collection 0xA2000014, an SDT under 0xA2000015.
STOBJECTID AddGVLX(refdb::RefDatabase& db, const STOBJECTID& project, const std::u16string& name);
STOBJECTID AddSDTX(refdb::RefDatabase& db, const STOBJECTID& project, const std::u16string& name);

struct VariableRowSpec {
  LONG rowID = 0;  // filled by ReadRowsX; ignored by AddRowsX
  LONG lineNo = 0;
  std::u16string name;
  std::vector<std::u16string> comments;  // entry i under key i + 9; written only when non-empty
  LONG classKeyword = 0;
  std::u16string dataTypeName = u"INT";
  std::u16string initData, device, deviceExtra, remark;
  LONG structType = 0;
  LONG dataTypeCode = 0;
  std::u16string structTypeName;
  std::vector<DevicePair> memberDevices;
  std::u16string dynamicAttr1, dynamicAttr2, dynamicAttr4, dynamicAttr5;
  LONG dynamicAttr3 = 0;
  LONG exAccess = 0;
  std::vector<std::pair<LONG, LONGLONG>> arraySizes;  // value1, value2; hasArraySizes follows
  SystemLabelSpec systemLabel;                        // comment and remark are not row fields
  std::string nullTexts;  // ReadRowsX: the text fields read as null BSTRs, in row order, space-separated
};

struct MemberRowSpec {
  LONG rowID = 0;
  LONG lineNo = 0;
  std::u16string name;
  std::vector<std::u16string> comments;
  std::u16string dataTypeName = u"INT";
  std::u16string initData;
  LONG classKeyword = 8;
  LONG dataTypeCode = 0;
  std::string nullTexts;  // as for VariableRowSpec
};

// Appends one row per desc to the high-capacity GVL (or SDT); their row IDs.
std::vector<LONG> AddRowsX(refdb::RefDatabase& db, const STOBJECTID& gvlX, const std::vector<VariableRowSpec>& rows);
std::vector<LONG> AddRowsX(refdb::RefDatabase& db, const STOBJECTID& sdtX, const std::vector<MemberRowSpec>& rows);

// Every row of the high-capacity GVL (or SDT), in row order. Null and empty
// texts both read as empty, and nullTexts names the null ones; comments come
// back by key (9..24), trailing empty ones dropped.
std::vector<VariableRowSpec> ReadRowsX(refdb::RefDatabase& db, const STOBJECTID& gvlX);
std::vector<MemberRowSpec> ReadMemberRowsX(refdb::RefDatabase& db, const STOBJECTID& sdtX);

}  // namespace refdb_fixtures
