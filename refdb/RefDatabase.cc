// File: RefDatabase.cc
//
// The object tree of the reference database, its workspace interface and the
// public face of the database.
#include "refdb/RefDatabase.h"

#include <algorithm>

#include "refdb/RefDatabaseImpl.h"

namespace refdb {
namespace {


bool Contains(const std::vector<IID>& list, REFIID iid) {
  return std::find(list.begin(), list.end(), iid) != list.end();
}

std::unique_ptr<Object> MakeObject(RefDatabaseImpl* db, const Object* parent, LONG type) {
  switch (type) {
    case 1:
      return std::make_unique<ProjectObject>(db, type);
    case VN_TYPE_GENERIC_DATA:
      return std::make_unique<GenericDataObject>(db, type);
    case VN_TYPE_GVL_COLLECTION:
      return std::make_unique<GvlCollectionObject>(db, type);
    case VN_TYPE_GVL_COLLECTION_X:
      return std::make_unique<HcGvlCollectionObject>(db, type);
    case VN_TYPE_GLOBAL_VARIABLE:
    case VN_TYPE_STRUCT_MEMBER:
      return std::make_unique<ElementObject>(db, type);
    case VN_TYPE_GVL:
      if (parent && parent->m_lType == VN_TYPE_GVL_COLLECTION_X) return std::make_unique<HcGvlObject>(db, type);
      break;
    case VN_TYPE_SDT:
      if (parent && parent->m_lType == VN_TYPE_SDT_COLLECTION_X) return std::make_unique<HcSdtObject>(db, type);
      break;
    default:
      break;
  }
  return std::make_unique<PlainObject>(db, type);
}

}  // namespace

bool ToBstr(const std::u16string& text, BSTR* out) {
  if (text.empty()) {
    *out = nullptr;
    return true;
  }
  *out = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
  return *out != nullptr;
}

bool ToBstr(const CString& text, BSTR* out) {
  if (text.IsEmpty()) {
    *out = nullptr;
    return true;
  }
  *out = SysAllocStringLen(text.GetString(), static_cast<UINT>(text.GetLength()));
  return *out != nullptr;
}

// --- Object -----------------------------------------------------------------

HRESULT Object::DoQueryInterface(REFIID iid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  *ppv = nullptr;
  if (m_pDb->m_bWithholding && m_pDb->IsWithheld(this, iid)) return E_NOINTERFACE;
  void* p = IsEqualIID(iid, IID_IUnknown) ? static_cast<void*>(Unknown()) : Offer(iid);
  if (p == nullptr) return E_NOINTERFACE;
  DoAddRef();
  *ppv = p;
  return S_OK;
}

ULONG Object::DoAddRef() {
  ++m_pDb->m_lOutstanding;
  return static_cast<ULONG>(++m_lRefs);
}

ULONG Object::DoRelease() {
  --m_pDb->m_lOutstanding;
  LONG left = --m_lRefs;
  if (left == 0 && m_bDeleted) m_pDb->Bury(this);  // destroys this object
  return static_cast<ULONG>(left < 0 ? 0 : left);
}

bool Object::Enter(Op op, LONG* detail, HRESULT* status) {
  if (m_pDb->Enter(op, detail, status)) return true;
  if (m_lType == VN_TYPE_GLOBAL_VARIABLE || m_lType == VN_TYPE_STRUCT_MEMBER) m_pDb->Touch(this);
  if (m_bDeleted) {
    *status = Fail(detail, kStatusFailed, kDetailDeleted);
    return true;
  }
  return false;
}

// --- RefDatabaseImpl ------------------------------------------------------------

RefDatabaseImpl::~RefDatabaseImpl() = default;

ProjectObject* RefDatabaseImpl::FindProject(const STOBJECTID& id) const {
  Object* o = Find(id);
  return o && o->m_pProject == o ? static_cast<ProjectObject*>(o) : nullptr;
}

STOBJECTID RefDatabaseImpl::NewId(const Object* parent, LONG type, ProjectObject* project) {
  STOBJECTID id{};
  id.dwWord[11] = kIdTag;
  const ULONGLONG serial = m_ullNextSerial++;
  if (type == VN_TYPE_GLOBAL_VARIABLE || type == VN_TYPE_STRUCT_MEMBER) {
    // Type-carrying: the key's top byte 0xFF, its low word the type; the 24
    // serial bits of word 1 skip 0 and the whole serial in word 2 keeps IDs
    // unique once they wrap.
    id.dwWord[0] = static_cast<DWORD>(type);
    id.dwWord[1] = kElementIdMark | static_cast<DWORD>((serial - 1) % 0xFFFFFFu + 1);
    id.dwWord[2] = static_cast<DWORD>(serial);
    id.dwWord[3] = static_cast<DWORD>(serial >> 32);
  } else if (type == VN_TYPE_GVL && parent && parent->m_lType == VN_TYPE_GVL_COLLECTION_X && project) {
    id.dwWord[1] = kListKeyHigh;
    id.dwWord[2] = project->m_dwProjectNo;
    id.dwWord[3] = project->m_dwNextListNo++;
  } else if (type == VN_TYPE_SDT && parent && parent->m_lType == VN_TYPE_SDT_COLLECTION_X && project) {
    id.dwWord[1] = kStructKeyHigh;
    id.dwWord[2] = project->m_dwProjectNo;
    id.dwWord[3] = project->m_dwNextStructNo++;
  } else {
    id.dwWord[0] = static_cast<DWORD>(serial);
    id.dwWord[1] = kObjectIdMark | static_cast<DWORD>((serial >> 32) & 0xFFFFFu);
  }
  return id;
}

Object* RefDatabaseImpl::Create(Object* parent, LONG type, const std::u16string& name, BYTE flag,
                                const STOBJECTID* fixedId) {
  std::unique_ptr<Object> owned = MakeObject(this, parent, type);
  Object* o = owned.get();
  ProjectObject* ownProject = type == 1 ? static_cast<ProjectObject*>(o) : nullptr;
  if (ownProject && !fixedId) ownProject->m_dwProjectNo = m_dwNextProjectNo++;
  ProjectObject* project = ownProject ? ownProject : (parent ? parent->m_pProject : nullptr);
  if (fixedId) {
    if (fixedId->IsNull() || m_objects.Find(*fixedId)) return nullptr;
    o->m_id = *fixedId;
  } else {
    o->m_id = NewId(parent, type, project);
  }
  o->m_strName = name;
  o->m_byFlag = flag;
  o->m_pProject = project;
  o->m_pParent = parent;
  m_objects.Insert(std::move(owned));
  if (parent) {
    o->m_pPrev = parent->m_pLastChild;
    if (parent->m_pLastChild)
      parent->m_pLastChild->m_pNext = o;
    else
      parent->m_pFirstChild = o;
    parent->m_pLastChild = o;
    ++parent->m_lChildren;
  } else if (ownProject) {
    m_projects.push_back(ownProject);
  }
  if (o->m_bRows && type == VN_TYPE_SDT && project) {
    project->IndexStructure(o);
    o->m_bIndexed = true;
  }
  return o;
}

void RefDatabaseImpl::Rename(Object* object, std::u16string name) {
  const bool indexed = object->m_bIndexed && object->m_pProject;
  if (indexed) object->m_pProject->UnindexStructure(object);
  object->m_strName = std::move(name);
  if (indexed) object->m_pProject->IndexStructure(object);
}

void RefDatabaseImpl::Delete(Object* root) {
  // Unlink the subtree root from its parent.
  if (Object* parent = root->m_pParent) {
    (root->m_pPrev ? root->m_pPrev->m_pNext : parent->m_pFirstChild) = root->m_pNext;
    (root->m_pNext ? root->m_pNext->m_pPrev : parent->m_pLastChild) = root->m_pPrev;
    --parent->m_lChildren;
  } else {
    m_projects.erase(std::remove(m_projects.begin(), m_projects.end(), root), m_projects.end());
  }
  // Gather the subtree without recursion, then remove it leaves first, so
  // that each object still finds its project while it is removed. An object
  // still referenced is kept as a zombie until its last Release.
  std::vector<Object*> subtree{root};
  for (std::size_t i = 0; i < subtree.size(); ++i)
    for (Object* c = subtree[i]->m_pFirstChild; c; c = c->m_pNext) subtree.push_back(c);
  for (auto r = subtree.rbegin(); r != subtree.rend(); ++r) {
    Object* o = *r;
    if (o->m_bIndexed && o->m_pProject) o->m_pProject->UnindexStructure(o);
    o->m_bIndexed = false;
    o->m_pParent = o->m_pFirstChild = o->m_pLastChild = o->m_pPrev = o->m_pNext = nullptr;
    o->m_lChildren = 0;
    if (o->m_pProject != o) o->m_pProject = nullptr;
    std::unique_ptr<Object> owned = m_objects.Remove(o->m_id);
    if (o->m_lRefs > 0) {
      o->m_bDeleted = true;
      m_zombies.emplace(o, std::move(owned));
    }
  }
}

void RefDatabaseImpl::Bury(Object* object) { m_zombies.erase(object); }

Object* RefDatabaseImpl::ChildOfType(const Object* parent, LONG type) {
  for (Object* c = parent->m_pFirstChild; c; c = c->m_pNext)
    if (c->m_lType == type) return c;
  return nullptr;
}

bool RefDatabaseImpl::IsWithheld(const Object* object, REFIID iid) const {
  auto t = m_withheldByType.find(object->m_lType);
  if (t != m_withheldByType.end() && Contains(t->second, iid)) return true;
  auto i = m_withheldById.find(object->m_id);
  return i != m_withheldById.end() && Contains(i->second, iid);
}

bool RefDatabaseImpl::IsServiceWithheld(REFIID iid) const { return Contains(m_withheldService, iid); }

// --- WorkspaceObject ------------------------------------------------------------

HRESULT WorkspaceObject::QueryInterface(REFIID iid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  *ppv = nullptr;
  if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, IIDOf<IVNDataABS_Workspace>())) return E_NOINTERFACE;
  AddRef();
  *ppv = static_cast<IVNDataABS_Workspace*>(this);
  return S_OK;
}

// The workspace is owned by the database; its count only feeds
// OutstandingReferences.
ULONG WorkspaceObject::AddRef() { return static_cast<ULONG>(++m_pDb->m_lOutstanding); }
ULONG WorkspaceObject::Release() { return static_cast<ULONG>(--m_pDb->m_lOutstanding); }

bool WorkspaceObject::Enter(Op op, LONG* detail, HRESULT* status) { return m_pDb->Enter(op, detail, status); }

HRESULT WorkspaceObject::GetDataObject(STOBJECTID id, IUnknown** object, LONG* detail) {
  REFDB_ENTER(Workspace_GetDataObject);
  if (object == nullptr) return Fail(detail, kStatusBadPointer, kDetailBadArgument);
  Object* o = m_pDb->Find(id);
  if (o == nullptr) {
    *object = nullptr;
    return Fail(detail, kStatusFailed, kDetailNotFound);
  }
  *object = o->Unknown();
  return S_OK;
}

HRESULT WorkspaceObject::DeleteDataObject(STOBJECTID id, LONG* detail) {
  REFDB_ENTER(Workspace_DeleteDataObject);
  Object* o = m_pDb->Find(id);
  if (o == nullptr) return Fail(detail, kStatusFailed, kDetailNotFound);
  m_pDb->Delete(o);
  return S_OK;
}

HRESULT WorkspaceObject::CreateDataObject(STOBJECTID parent, BSTR name, LONG type, BYTE flag, STOBJECTID* newId,
                                          LONG* detail) {
  REFDB_ENTER(Workspace_CreateDataObject);
  if (newId == nullptr) return Fail(detail, kStatusBadPointer, kDetailBadArgument);
  Object* p = m_pDb->Find(parent);
  if (p == nullptr) return Fail(detail, kStatusFailed, kDetailNotFound);
  Object* o = m_pDb->Create(p, type, FromBstr(name), flag, nullptr);
  // A classic list or structure type comes with its (empty) element
  // collection, so reading an empty one finds nothing rather than failing.
  if (!o->m_bRows && (type == VN_TYPE_GVL || type == VN_TYPE_SDT))
    m_pDb->Create(o, type == VN_TYPE_GVL ? VN_TYPE_VARIABLE_COLLECTION : VN_TYPE_MEMBER_COLLECTION, std::u16string(), 0,
                  nullptr);
  *newId = o->m_id;
  return S_OK;
}

HRESULT WorkspaceObject::CreateElementObject(STOBJECTID data, STOBJECTID* newId, LONG* detail) {
  REFDB_ENTER(Workspace_CreateElementObject);
  if (newId == nullptr) return Fail(detail, kStatusBadPointer, kDetailBadArgument);
  Object* d = m_pDb->Find(data);
  if (d == nullptr) return Fail(detail, kStatusFailed, kDetailNotFound);
  // Only classic GVLs and SDTs have element objects; high-capacity ones keep rows.
  LONG collectionType = 0, elementType = 0;
  if (d->m_lType == VN_TYPE_GVL && !d->m_bRows) {
    collectionType = VN_TYPE_VARIABLE_COLLECTION;
    elementType = VN_TYPE_GLOBAL_VARIABLE;
  } else if (d->m_lType == VN_TYPE_SDT && !d->m_bRows) {
    collectionType = VN_TYPE_MEMBER_COLLECTION;
    elementType = VN_TYPE_STRUCT_MEMBER;
  } else {
    return Fail(detail, kStatusFailed, kDetailWrongType);
  }
  Object* collection = RefDatabaseImpl::ChildOfType(d, collectionType);
  if (collection == nullptr) collection = m_pDb->Create(d, collectionType, std::u16string(), 0, nullptr);
  *newId = m_pDb->Create(collection, elementType, std::u16string(), 0, nullptr)->m_id;
  return S_OK;
}

HRESULT WorkspaceObject::GetChildIDList(STOBJECTID collection, LONG* count, STOBJECTID* ids, LONG* detail) {
  REFDB_ENTER(Workspace_GetChildIDList);
  if (count == nullptr) return Fail(detail, kStatusBadPointer, kDetailBadArgument);
  Object* c = m_pDb->Find(collection);
  if (c == nullptr) return Fail(detail, kStatusFailed, kDetailNotFound);
  if (ids == nullptr) {
    *count = c->m_lChildren;
    return S_OK;
  }
  LONG n = 0;
  for (Object* child = c->m_pFirstChild; child && n < *count; child = child->m_pNext) ids[n++] = child->m_id;
  *count = n;
  return S_OK;
}

HRESULT WorkspaceObject::GetChildIDByType(STOBJECTID parent, LONG type, STOBJECTID* child, LONG* detail) {
  REFDB_ENTER(Workspace_GetChildIDByType);
  if (child == nullptr) return Fail(detail, kStatusBadPointer, kDetailBadArgument);
  Object* p = m_pDb->Find(parent);
  if (p == nullptr) return Fail(detail, kStatusFailed, kDetailNotFound);
  Object* c = RefDatabaseImpl::ChildOfType(p, type);
  if (c == nullptr) return Fail(detail, kStatusNoChild, kDetailNoSuchChild);
  *child = c->m_id;
  return S_OK;
}

HRESULT WorkspaceObject::GetParentID(STOBJECTID id, STOBJECTID* parent, LONG* detail) {
  REFDB_ENTER(Workspace_GetParentID);
  if (parent == nullptr) return Fail(detail, kStatusBadPointer, kDetailBadArgument);
  Object* o = m_pDb->Find(id);
  if (o == nullptr) return Fail(detail, kStatusFailed, kDetailNotFound);
  *parent = o->m_pParent ? o->m_pParent->m_id : STOBJECTID::Null();
  return S_OK;
}

HRESULT WorkspaceObject::GetObjectType(STOBJECTID id, LONG* type, LONG* detail) {
  REFDB_ENTER(Workspace_GetObjectType);
  if (type == nullptr) return Fail(detail, kStatusBadPointer, kDetailBadArgument);
  Object* o = m_pDb->Find(id);
  if (o == nullptr) return Fail(detail, kStatusFailed, kDetailNotFound);
  *type = o->m_lType;
  return S_OK;
}

HRESULT WorkspaceObject::SetObjectName(STOBJECTID id, BSTR name, LONG* detail) {
  REFDB_ENTER(Workspace_SetObjectName);
  Object* o = m_pDb->Find(id);
  if (o == nullptr) return Fail(detail, kStatusFailed, kDetailNotFound);
  m_pDb->Rename(o, FromBstr(name));
  return S_OK;
}

HRESULT WorkspaceObject::GetObjectName(STOBJECTID id, BSTR* name, LONG* detail) {
  REFDB_ENTER(Workspace_GetObjectName);
  if (name == nullptr) return Fail(detail, kStatusBadPointer, kDetailBadArgument);
  Object* o = m_pDb->Find(id);
  if (o == nullptr) return Fail(detail, kStatusFailed, kDetailNotFound);
  if (!ToBstr(o->m_strName, name)) return Fail(detail, kStatusOutOfMemory, kDetailOutOfMemory);
  return S_OK;
}

HRESULT WorkspaceObject::SetLastUpdateTime(STOBJECTID id, SYSTEMTIME time, LONG* detail) {
  REFDB_ENTER(Workspace_SetLastUpdateTime);
  Object* o = m_pDb->Find(id);
  if (o == nullptr) return Fail(detail, kStatusFailed, kDetailNotFound);
  o->m_bStamped = true;
  o->m_stStamp = time;
  return S_OK;
}

HRESULT WorkspaceObject::GetServiceObject(STOBJECTID project, LONG code, IVNDataABS_LabelService** service,
                                          LONG* detail) {
  REFDB_ENTER(Workspace_GetServiceObject);
  if (service == nullptr) return Fail(detail, kStatusBadPointer, kDetailBadArgument);
  *service = nullptr;
  ProjectObject* p = m_pDb->FindProject(project);
  if (p == nullptr) return Fail(detail, kStatusFailed, m_pDb->Find(project) ? kDetailWrongType : kDetailNotFound);
  if (code != VN_SERVICE_LABEL) return Fail(detail, kStatusFailed, kDetailNoSuchService);
  *service = &p->m_service;
  return S_OK;
}

// --- RefDatabase ----------------------------------------------------------------

RefDatabase::RefDatabase() : m_impl(std::make_unique<RefDatabaseImpl>()) {}
RefDatabase::~RefDatabase() = default;

IVNDataABS_Workspace* RefDatabase::Workspace() { return &m_impl->m_workspace; }

STOBJECTID RefDatabase::NewProject(const std::u16string& name, const ProjectOptions& options) {
  Object* project = m_impl->Create(nullptr, 1, name, 0, nullptr);
  if (options.classicCollections) {
    m_impl->Create(project, VN_TYPE_GVL_COLLECTION, u"Global Variable Lists", 0, nullptr);
    m_impl->Create(project, VN_TYPE_SDT_COLLECTION, u"Structured Data Types", 0, nullptr);
  }
  if (options.highCapacityCollections) {
    m_impl->Create(project, VN_TYPE_GVL_COLLECTION_X, u"Global Variable Lists", 0, nullptr);
    m_impl->Create(project, VN_TYPE_SDT_COLLECTION_X, u"Structured Data Types", 0, nullptr);
  }
  if (options.genericData) m_impl->Create(project, VN_TYPE_GENERIC_DATA, u"Generic Data", 0, nullptr);
  return project->m_id;
}

FaultTable& RefDatabase::Faults() { return m_impl->m_faults; }

void RefDatabase::WithholdInterface(const STOBJECTID& id, const IID& iid) {
  m_impl->m_withheldById[id].push_back(iid);
  m_impl->m_bWithholding = true;
}

void RefDatabase::WithholdInterfaceForType(LONG type, const IID& iid) {
  m_impl->m_withheldByType[type].push_back(iid);
  m_impl->m_bWithholding = true;
}

void RefDatabase::WithholdServiceInterface(const IID& iid) { m_impl->m_withheldService.push_back(iid); }

bool RefDatabase::Exists(const STOBJECTID& id) const { return m_impl->Find(id) != nullptr; }

long RefDatabase::ObjectCount() const { return m_impl->m_objects.Count(); }

void RefDatabase::SetProgress(ProgressReport report, unsigned long long total) {
  RefDatabaseImpl& db = *m_impl;
  db.m_progress = std::move(report);
  db.m_ullDone = 0;
  db.m_ullNextReport = 0;
  db.m_ullTotal = total;
  db.m_ullStep = total == 0 ? 4096 : std::max<unsigned long long>(1, total / 1000);
  ++db.m_ullEpoch;
}

unsigned long long RefDatabase::ElementsHeld() const {
  unsigned long long n = 0;
  m_impl->m_objects.ForEach([&n](const Object* o) {
    if (o->m_lType == VN_TYPE_GLOBAL_VARIABLE || o->m_lType == VN_TYPE_STRUCT_MEMBER) ++n;
    if (const auto* l = dynamic_cast<const HcGvlObject*>(o)) n += static_cast<unsigned long long>(l->m_table.Count());
    if (const auto* s = dynamic_cast<const HcSdtObject*>(o)) n += static_cast<unsigned long long>(s->m_table.Count());
  });
  return n;
}

bool RefDatabase::LastUpdateTime(const STOBJECTID& id, SYSTEMTIME* time) const {
  Object* o = m_impl->Find(id);
  if (o == nullptr || !o->m_bStamped) return false;
  if (time) *time = o->m_stStamp;
  return true;
}

bool RefDatabase::TypeCode(const STOBJECTID& id, LONG* code) const {
  auto* e = dynamic_cast<ElementObject*>(m_impl->Find(id));
  if (e == nullptr || !e->m_bHasTypeCode) return false;
  if (code) *code = e->m_lTypeCode;
  return true;
}

bool RefDatabase::TypeName(const STOBJECTID& id, std::u16string* name) const {
  auto* e = dynamic_cast<ElementObject*>(m_impl->Find(id));
  if (e == nullptr || !e->m_bHasTypeName) return false;
  if (name) *name = std::u16string(e->m_strTypeName.View());
  return true;
}

bool RefDatabase::StructDefineID(const STOBJECTID& id, STOBJECTID* structId) const {
  auto* e = dynamic_cast<ElementObject*>(m_impl->Find(id));
  if (e == nullptr || !e->m_bHasStructDefine) return false;
  if (structId) *structId = e->m_structDefineID;
  return true;
}

std::vector<BYTE> RefDatabase::ServiceBlock(const STOBJECTID& project) const {
  ProjectObject* p = m_impl->FindProject(project);
  return p ? p->m_service.m_block : std::vector<BYTE>();
}

void RefDatabase::SetServiceBlock(const STOBJECTID& project, const std::vector<BYTE>& block) {
  if (ProjectObject* p = m_impl->FindProject(project)) p->m_service.m_block = block;
}

void RefDatabase::SetReportedBlockSize(const STOBJECTID& project, LONGLONG size) {
  if (ProjectObject* p = m_impl->FindProject(project)) {
    p->m_service.m_bSizeOverridden = true;
    p->m_service.m_llReportedSize = size;
  }
}

void RefDatabase::SetReportedRowIDCount(LONG count) { m_impl->m_lReportedRowIDs = count; }

long RefDatabase::FlushCount(const STOBJECTID& project) const {
  Object* p = m_impl->FindProject(project);
  auto* c =
      p ? dynamic_cast<HcGvlCollectionObject*>(RefDatabaseImpl::ChildOfType(p, VN_TYPE_GVL_COLLECTION_X)) : nullptr;
  return c ? static_cast<long>(c->m_llFlushes) : 0;
}

long RefDatabase::OutstandingReferences() const { return m_impl->m_lOutstanding; }

bool RefDatabase::CreationFlag(const STOBJECTID& id, BYTE* flag) const {
  Object* o = m_impl->Find(id);
  if (o == nullptr) return false;
  if (flag) *flag = o->m_byFlag;
  return true;
}

LONG RefDatabase::ClassicExternalFlag(const STOBJECTID& project) const {
  Object* p = m_impl->FindProject(project);
  auto* c = p ? dynamic_cast<GvlCollectionObject*>(RefDatabaseImpl::ChildOfType(p, VN_TYPE_GVL_COLLECTION)) : nullptr;
  return c ? c->m_lFlag : 0;
}

void RefDatabase::SetHighCapacityExternalFlag(const STOBJECTID& project, LONG flag) {
  Object* p = m_impl->FindProject(project);
  auto* c =
      p ? dynamic_cast<HcGvlCollectionObject*>(RefDatabaseImpl::ChildOfType(p, VN_TYPE_GVL_COLLECTION_X)) : nullptr;
  if (c) c->m_lFlag = flag;
}

STOBJECTID RefDatabase::ChildOfType(const STOBJECTID& parent, LONG type) const {
  Object* p = m_impl->Find(parent);
  Object* c = p ? RefDatabaseImpl::ChildOfType(p, type) : nullptr;
  return c ? c->m_id : STOBJECTID::Null();
}

std::vector<STOBJECTID> RefDatabase::Children(const STOBJECTID& parent) const {
  std::vector<STOBJECTID> ids;
  if (Object* p = m_impl->Find(parent)) {
    ids.reserve(static_cast<std::size_t>(p->m_lChildren));
    for (Object* c = p->m_pFirstChild; c; c = c->m_pNext) ids.push_back(c->m_id);
  }
  return ids;
}

LONG RefDatabase::ObjectType(const STOBJECTID& id) const {
  Object* o = m_impl->Find(id);
  return o ? o->m_lType : 0;
}

std::u16string RefDatabase::ObjectName(const STOBJECTID& id) const {
  Object* o = m_impl->Find(id);
  return o ? o->m_strName : std::u16string();
}

std::vector<std::pair<std::u16string, std::u16string>> RefDatabase::ConvertedLabels(const STOBJECTID& project) const {
  ProjectObject* p = m_impl->FindProject(project);
  return p ? p->m_service.m_conversions : std::vector<std::pair<std::u16string, std::u16string>>();
}

std::vector<STOBJECTID> RefDatabase::Projects() const {
  std::vector<STOBJECTID> ids;
  ids.reserve(m_impl->m_projects.size());
  for (const ProjectObject* p : m_impl->m_projects) ids.push_back(p->m_id);
  return ids;
}

}  // namespace refdb
