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

#include "model/KX9LabelRecords.h"
#include "refdb/RefDatabase.h"

namespace refdb_fixtures {

using DevicePair = std::pair<std::u16string, std::u16string>;  // device, device extra

// The system-label part of a variable: its status (0: none) and, on the
// high-capacity path only, its names.
struct SystemLabelSpec {
  std::u16string name, programName, localName;
  LONG status = 0;
};

// --- classic path ------------------------------------------------------------

// A GVL (14) under the project's collection 13, or an SDT (18) under 17.
STOBJECTID AddClassicGVL(refdb::RefDatabase& db, const STOBJECTID& project, const std::u16string& name);
STOBJECTID AddClassicSDT(refdb::RefDatabase& db, const STOBJECTID& project, const std::u16string& name);

struct MemberSpec {
  std::u16string name, typeName = u"INT";
  LONG typeCode = -1;  // written through IVNDataABS_VariableDataType unless -1
};

struct VariableSpec : MemberSpec {
  LONG exAccess = 0;
  std::vector<DevicePair> memberDevices;
  SystemLabelSpec systemLabel;
};

// A new global variable in `gvl` (a new member of `sdt`) with every field of
// the description; its ID.
STOBJECTID AddClassicVariable(refdb::RefDatabase& db, const STOBJECTID& gvl, const VariableSpec& desc);
STOBJECTID AddClassicMember(refdb::RefDatabase& db, const STOBJECTID& sdt, const MemberSpec& desc);

// --- high-capacity path -------------------------------------------------------

// A GVL under the project's collection 0xA2000014, an SDT under 0xA2000015.
STOBJECTID AddGVLX(refdb::RefDatabase& db, const STOBJECTID& project, const std::u16string& name);
STOBJECTID AddSDTX(refdb::RefDatabase& db, const STOBJECTID& project, const std::u16string& name);

// The texts read back as null BSTRs name themselves in nullTexts,
// space-separated: the plain texts in row order, then "comment" when any
// comment entry is. Rows are written without comments; member devices are
// written but not read back.
struct VariableRowSpec {
  LONG rowID = 0;  // filled by ReadRowsX; ignored by AddRowsX
  LONG lineNo = 0;
  std::u16string name;
  LONG classKeyword = 0;
  std::u16string dataTypeName = u"INT", initData, device, deviceExtra, remark;
  LONG structType = 0, dataTypeCode = 0;
  std::u16string structTypeName;
  std::vector<DevicePair> memberDevices;
  std::u16string dynamicAttr1, dynamicAttr2, dynamicAttr4, dynamicAttr5;
  LONG dynamicAttr3 = 0, exAccess = 0;
  std::vector<std::pair<LONG, LONGLONG>> arraySizes;  // value1, value2; hasArraySizes follows
  SystemLabelSpec systemLabel;
  std::string nullTexts;  // read back only
};

struct MemberRowSpec {
  LONG rowID = 0, lineNo = 0;
  std::u16string name, dataTypeName = u"INT", initData;
  LONG classKeyword = 8, dataTypeCode = 0;
  std::string nullTexts;
};

// Appends one row per desc to the high-capacity GVL (or SDT), empty texts
// as null BSTRs; their row IDs.
std::vector<LONG> AddRowsX(refdb::RefDatabase& db, const STOBJECTID& gvlX, const std::vector<VariableRowSpec>& rows);
std::vector<LONG> AddRowsX(refdb::RefDatabase& db, const STOBJECTID& sdtX, const std::vector<MemberRowSpec>& rows);

// Every row of the high-capacity GVL (or SDT), in row order. Null and empty
// texts both read as empty.
std::vector<VariableRowSpec> ReadRowsX(refdb::RefDatabase& db, const STOBJECTID& gvlX);
std::vector<MemberRowSpec> ReadMemberRowsX(refdb::RefDatabase& db, const STOBJECTID& sdtX);

// --- records read back through the component ----------------------------------

// Every field of a variable record on one line, to compare whole records:
// "<line> <name> <class> <type> <init> <structType> <remark> ex<flag>
// c:<index>=<comment>,... d:<device>/<extra>,...(<size1>,<size2>)...
// dyn:<attr1>,...,<attr5> sys:<the system label's fields in order>".
std::string Describe(const _STKX9LABELSTRUCTUREGVLDATA& r);

}  // namespace refdb_fixtures
