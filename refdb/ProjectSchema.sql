-- The project file: everything the reference database holds, one table per
-- kind of state. Objects are numbered (oid) in the order of a walk down the
-- tree, parents before children; every other table refers to them by oid.
-- Texts are TEXT, or a BLOB of UTF-16LE units when they are not valid
-- UTF-16 (a lone surrogate); NULL is the empty text of an element and the
-- null text of a row.

CREATE TABLE meta (
  next_serial     INTEGER NOT NULL,  -- serial of the next object the database makes
  next_project_no INTEGER NOT NULL
);

CREATE TABLE objects (
  oid      INTEGER PRIMARY KEY,
  id       BLOB NOT NULL,          -- the 48-byte object ID
  parent   INTEGER,                -- NULL for a project, the only kind at the top
  child_no INTEGER NOT NULL,       -- place among its parent's children, from 0
  type     INTEGER NOT NULL,
  flag     INTEGER NOT NULL,       -- the flag it was created with
  name     TEXT,
  stamp    BLOB                    -- last update time (16 bytes); NULL: never set
);

CREATE TABLE projects (
  oid             INTEGER PRIMARY KEY,
  project_no      INTEGER NOT NULL,
  next_list_no    INTEGER NOT NULL,
  next_struct_no  INTEGER NOT NULL,
  service_block   BLOB NOT NULL,   -- the label service's block
  size_overridden INTEGER NOT NULL,
  reported_size   INTEGER NOT NULL
);

-- Device conversions of a project's label service, in the order of their
-- first request.
CREATE TABLE conversions (
  project INTEGER NOT NULL,
  no      INTEGER NOT NULL,
  label   TEXT,
  device  TEXT,
  PRIMARY KEY (project, no)
) WITHOUT ROWID;

-- External equipment flags of the GVL collections; flushes of the
-- high-capacity one's storage.
CREATE TABLE flags (
  oid           INTEGER PRIMARY KEY,
  external_flag INTEGER NOT NULL,
  flushes       INTEGER             -- NULL for the classic collection
);

CREATE TABLE generic_data (
  oid   INTEGER NOT NULL,
  no    INTEGER NOT NULL,
  kind  INTEGER NOT NULL,
  bytes BLOB NOT NULL,
  PRIMARY KEY (oid, no)
) WITHOUT ROWID;

-- Classic global variables (type 16) and structure members (type 20). A
-- type code, type name or structure ID never set is NULL; the sys_ columns
-- are NULL until the system-label part was first written.
CREATE TABLE elements (
  oid            INTEGER PRIMARY KEY,
  line_no        INTEGER NOT NULL,
  ex_access      INTEGER NOT NULL,
  class_keyword  INTEGER NOT NULL,
  struct_kind    INTEGER NOT NULL,
  type_code      INTEGER,
  type_name      TEXT,
  struct_define  BLOB,
  comment        TEXT,
  init_data      TEXT,
  type_string    TEXT,
  remark         TEXT,
  device         TEXT,
  device_extra   TEXT,
  system_label   INTEGER NOT NULL,  -- 1: the sys_ columns hold its part
  sys_name         TEXT,
  sys_program_name TEXT,
  sys_comment      TEXT,
  sys_remark       TEXT,
  sys_local_name   TEXT,
  sys_value_type   INTEGER,
  sys_list_id      INTEGER,
  sys_id           INTEGER,
  sys_cpu_id       INTEGER,
  sys_project_id   INTEGER,
  sys_status       INTEGER,
  sys_attribute    INTEGER,
  sys_value_size   INTEGER
);

CREATE TABLE member_devices (
  element INTEGER NOT NULL,
  no      INTEGER NOT NULL,
  device  TEXT,
  extra   TEXT,
  PRIMARY KEY (element, no)
) WITHOUT ROWID;

-- High-capacity GVLs and SDTs: the next row ID each will give.
CREATE TABLE row_tables (
  oid         INTEGER PRIMARY KEY,
  next_row_id INTEGER NOT NULL
);

-- Rows of high-capacity GVLs, one per variable, with its fields as columns.
CREATE TABLE variable_rows (
  list             INTEGER NOT NULL,
  row_id           INTEGER NOT NULL,
  fresh            INTEGER NOT NULL,  -- 1: added, never written
  line_no          INTEGER NOT NULL,
  class_keyword    INTEGER NOT NULL,
  struct_type      INTEGER NOT NULL,
  data_type_code   INTEGER NOT NULL,
  has_array_sizes  INTEGER NOT NULL,
  dynamic_attr3    INTEGER NOT NULL,
  ex_access        INTEGER NOT NULL,
  sys_data_type    INTEGER NOT NULL,
  sys_list_id      INTEGER NOT NULL,
  sys_id           INTEGER NOT NULL,
  sys_cpu_id       INTEGER NOT NULL,
  sys_project_id   INTEGER NOT NULL,
  sys_status       INTEGER NOT NULL,
  sys_attribute    INTEGER NOT NULL,
  sys_data_size    INTEGER NOT NULL,
  name             TEXT,
  data_type_name   TEXT,
  init_data        TEXT,
  device           TEXT,
  device_extra     TEXT,
  remark           TEXT,
  struct_type_name TEXT,
  dynamic_attr1    TEXT,
  dynamic_attr2    TEXT,
  dynamic_attr4    TEXT,
  dynamic_attr5    TEXT,
  sys_name         TEXT,
  sys_program_name TEXT,
  sys_spare_text   TEXT,
  sys_local_name   TEXT,
  comment_count     INTEGER NOT NULL,
  comment_first_key INTEGER,           -- keys count up by one from here; NULL: each entry has its row
  PRIMARY KEY (list, row_id)
) WITHOUT ROWID;

-- A row's comment entries. Where the row has a first key, an entry whose
-- text is "" has no row here.
CREATE TABLE variable_comments (
  list   INTEGER NOT NULL,
  row_id INTEGER NOT NULL,
  no     INTEGER NOT NULL,
  key    INTEGER NOT NULL,
  text   TEXT,
  PRIMARY KEY (list, row_id, no)
) WITHOUT ROWID;

CREATE TABLE variable_devices (
  list   INTEGER NOT NULL,
  row_id INTEGER NOT NULL,
  no     INTEGER NOT NULL,
  device TEXT,
  extra  TEXT,
  PRIMARY KEY (list, row_id, no)
) WITHOUT ROWID;

-- Rows of high-capacity SDTs, one per member.
CREATE TABLE member_rows (
  structure      INTEGER NOT NULL,
  row_id         INTEGER NOT NULL,
  fresh          INTEGER NOT NULL,
  line_no        INTEGER NOT NULL,
  class_keyword  INTEGER NOT NULL,
  data_type_code INTEGER NOT NULL,
  spare_value    INTEGER NOT NULL,
  name           TEXT,
  data_type_name TEXT,
  init_data      TEXT,
  spare_text1    TEXT,
  spare_text2    TEXT,
  spare_text3    TEXT,
  spare_text4    TEXT,
  comment_count     INTEGER NOT NULL,
  comment_first_key INTEGER,
  PRIMARY KEY (structure, row_id)
) WITHOUT ROWID;

CREATE TABLE member_comments (
  structure INTEGER NOT NULL,
  row_id    INTEGER NOT NULL,
  no        INTEGER NOT NULL,
  key       INTEGER NOT NULL,
  text      TEXT,
  PRIMARY KEY (structure, row_id, no)
) WITHOUT ROWID;

-- Array sizes of any row, in order.
CREATE TABLE array_sizes (
  owner  INTEGER NOT NULL,
  row_id INTEGER NOT NULL,
  no     INTEGER NOT NULL,
  value1 INTEGER NOT NULL,
  value2 INTEGER NOT NULL,
  PRIMARY KEY (owner, row_id, no)
) WITHOUT ROWID;

-- For people with the sqlite3 shell: every global variable of both series,
-- with its first comment and first device (a structured one's first member device).
CREATE VIEW variables AS
  SELECT l.name AS list, v.name AS name, COALESCE(e.type_string, e.type_name) AS type_name,
         e.class_keyword AS class, e.comment AS comment,
         COALESCE(e.device, (SELECT device FROM member_devices m WHERE m.element = v.oid ORDER BY no LIMIT 1)) AS device
    FROM objects v
    JOIN elements e ON e.oid = v.oid
    JOIN objects c ON c.oid = v.parent
    JOIN objects l ON l.oid = c.parent
   WHERE v.type = 16
  UNION ALL
  SELECT l.name, r.name, COALESCE(NULLIF(r.struct_type_name, ''), r.data_type_name), r.class_keyword,
         (SELECT text FROM variable_comments k WHERE k.list = r.list AND k.row_id = r.row_id ORDER BY no LIMIT 1),
         COALESCE(NULLIF(r.device, ''),
                  (SELECT device FROM variable_devices d WHERE d.list = r.list AND d.row_id = r.row_id ORDER BY no LIMIT 1))
    FROM variable_rows r
    JOIN objects l ON l.oid = r.list;

-- Every member of every structured data type of both series.
CREATE VIEW data_types AS
  SELECT s.name AS type, m.name AS member, COALESCE(e.type_string, e.type_name) AS type_name
    FROM objects m
    JOIN elements e ON e.oid = m.oid
    JOIN objects c ON c.oid = m.parent
    JOIN objects s ON s.oid = c.parent
   WHERE m.type = 20
  UNION ALL
  SELECT s.name, r.name, r.data_type_name
    FROM member_rows r
    JOIN objects s ON s.oid = r.structure;
