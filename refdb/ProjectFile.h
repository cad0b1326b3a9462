// File: ProjectFile.h
//
// The project file's inside, for the tests and the fuzzer that check its
// reader: the schema and the reader of an open SQLite database. Hosts use
// RefDatabase::SaveToFile and LoadFromFile.
#pragma once

#include <string>

#include "refdb/RefDatabase.h"

struct sqlite3;

namespace refdb {

// PRAGMA application_id of every project file ("KX9P") and the schema
// version (PRAGMA user_version) this build writes and reads.
constexpr int kProjectApplicationId = 0x4B583950;
constexpr int kProjectSchemaVersion = 1;

// The SQL that makes an empty project file's tables and views.
const char* ProjectSchemaSql();

// Reads the tables of `file` into `db`, which must hold no project, after
// checking every invariant of the database: a parent that exists, no cycle,
// known object types in their places, children numbered 0, 1, ... in order,
// each kind's own state present exactly once, rows that parse. False, with
// *problem saying what is wrong, when a check fails; `db` may then hold part
// of the file, so read into a database of its own.
bool ReadProjectTables(sqlite3* file, RefDatabase& db, std::string* problem);

}  // namespace refdb
