// File: Persistence.cc
//
// The database file: the whole database, every project with every object,
// field, row, array size, blob, service block, conversion, flag, name and
// stamp, so that a saved database loads back identical (IDs included).
//
// Layout (host byte order, little-endian on every supported target):
//   "KX9RFDB" 0, u32 version (1), u64 next serial, u32 next project number,
//   u32 project count, the projects, "KX9RFEND".
// An object: its ID (12 u32), i32 type, u8 creation flag, its name (u32
// units, 0xFFFFFFFF for none, then UTF-16 units), u8 stamped, the stamp (8
// u16), the part of its kind, u32 child count, the children.
// Failure injection, withheld interfaces and call counts are test settings,
// not content: they are neither saved nor replaced by a load.
#include <fstream>

#include "refdb/RefDatabaseImpl.h"

namespace refdb {
namespace {

constexpr char kMagic[8] = {'K', 'X', '9', 'R', 'F', 'D', 'B', '\0'};
constexpr char kEnd[8] = {'K', 'X', '9', 'R', 'F', 'E', 'N', 'D'};
constexpr DWORD kVersion = 1;
// Deeper trees than this are not made by the database; a file claiming one is corrupt.
constexpr int kMaxDepth = 64;

}  // namespace

void RefDatabaseImpl::SaveObject(ByteWriter& w, const Object* o) const {
  w.Id(o->m_id);
  w.I32(o->m_lType);
  w.U8(o->m_byFlag);
  w.Text(o->m_strName);
  w.U8(o->m_bStamped ? 1 : 0);
  w.Raw(&o->m_stStamp, sizeof o->m_stStamp);
  o->SavePayload(w);
  w.U32(static_cast<DWORD>(o->m_lChildren));
  for (const Object* c = o->m_pFirstChild; c; c = c->m_pNext) SaveObject(w, c);
}

void RefDatabaseImpl::Save(ByteWriter& w) const {
  w.Raw(kMagic, sizeof kMagic);
  w.U32(kVersion);
  w.U64(m_ullNextSerial);
  w.U32(m_dwNextProjectNo);
  w.U32(static_cast<DWORD>(m_projects.size()));
  for (const ProjectObject* p : m_projects) SaveObject(w, p);
  w.Raw(kEnd, sizeof kEnd);
}

bool RefDatabaseImpl::LoadObject(ByteReader& r, Object* parent, int depth) {
  if (depth > kMaxDepth) return false;
  const STOBJECTID id = r.Id();
  const LONG type = r.I32();
  const BYTE flag = r.U8();
  std::u16string name = r.Text();
  const bool stamped = r.U8() != 0;
  SYSTEMTIME stamp{};
  r.Raw(&stamp, sizeof stamp);
  // Only project objects may stand at the top.
  if (!r.Ok() || (parent == nullptr && type != 1)) return false;
  Object* o = Create(parent, type, name, flag, &id);
  if (o == nullptr) return false;
  o->m_bStamped = stamped;
  o->m_stStamp = stamp;
  if (!o->LoadPayload(r)) return false;
  const DWORD children = r.U32();
  // An object takes at least 48 bytes of the file.
  if (!r.Ok() || children > r.Remaining() / 48) return false;
  for (DWORD i = 0; i < children; ++i)
    if (!LoadObject(r, o, depth + 1)) return false;
  return true;
}

bool RefDatabaseImpl::Load(ByteReader& r) {
  char magic[8];
  r.Raw(magic, sizeof magic);
  if (!r.Ok() || std::memcmp(magic, kMagic, sizeof kMagic) != 0 || r.U32() != kVersion) return false;
  m_ullNextSerial = r.U64();
  m_dwNextProjectNo = r.U32();
  const DWORD projects = r.U32();
  if (!r.Ok() || projects > r.Remaining() / 48) return false;
  for (DWORD i = 0; i < projects; ++i)
    if (!LoadObject(r, nullptr, 0)) return false;
  char end[8];
  r.Raw(end, sizeof end);
  return r.Ok() && std::memcmp(end, kEnd, sizeof kEnd) == 0 && r.Remaining() == 0;
}

bool RefDatabase::SaveToFile(const std::string& path) const {
  ByteWriter w;
  m_impl->Save(w);
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) return false;
  out.write(reinterpret_cast<const char*>(w.Buffer().data()), static_cast<std::streamsize>(w.Buffer().size()));
  out.close();
  return !out.fail();
}

bool RefDatabase::LoadFromFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  if (!in) return false;
  const std::streamoff size = in.tellg();
  if (size < 0) return false;
  std::vector<BYTE> bytes(static_cast<std::size_t>(size));
  in.seekg(0);
  if (!in.read(reinterpret_cast<char*>(bytes.data()), size)) return false;

  // Read into a database of its own, so that a bad file changes nothing.
  RefDatabaseImpl fresh;
  ByteReader r(bytes.data(), bytes.size());
  if (!fresh.Load(r)) return false;

  // Drop the current content (objects still referenced live on as zombies)
  // and take over the loaded one.
  while (!m_impl->m_projects.empty()) m_impl->Delete(m_impl->m_projects.back());
  fresh.m_objects.ForEach([this](Object* o) { o->m_pDb = m_impl.get(); });
  m_impl->m_objects = std::move(fresh.m_objects);
  m_impl->m_projects = std::move(fresh.m_projects);
  m_impl->m_ullNextSerial = fresh.m_ullNextSerial;
  m_impl->m_dwNextProjectNo = fresh.m_dwNextProjectNo;
  fresh.m_objects = ObjectTable();
  fresh.m_projects.clear();
  return true;
}

}  // namespace refdb
