// File: RowTables.cc
//
// The row tables of high-capacity GVLs and SDTs and the coding of a row
// record into the bytes kept per row.
//
// A row keeps every field of the record it was last written with, texts as
// written (a null text stays null, an empty one empty) and the comment and
// member-device entries with their keys and in their order.
#include <algorithm>

#include "refdb/RefDatabaseImpl.h"

namespace refdb {
namespace {

// A GetRowIDs result, with the count output the test asked for.
HRESULT ReportRowIDs(const RefDatabaseImpl* db, HRESULT hr, LONG* returned) {
  if (hr == S_OK && returned != nullptr && db->m_lReportedRowIDs >= 0) *returned = db->m_lReportedRowIDs;
  return hr;
}

// --- row coding ---------------------------------------------------------------

bool ValidComment(const stVNVariableComment& c) { return c.count >= 0 && (c.count == 0 || c.items != nullptr); }

void WriteComment(ByteWriter& w, const stVNVariableComment& c) {
  w.U32(static_cast<DWORD>(c.count));
  for (LONG i = 0; i < c.count; ++i) {
    w.U64(c.items[i].key);
    w.Bstr(c.items[i].text);
  }
}

// Frees what a row record's comment holds and empties it.
void FreeComment(stVNVariableComment& c) {
  if (c.items) {
    for (LONG i = 0; i < c.count; ++i) SysFreeString(c.items[i].text);
    CoTaskMemFree(c.items);
  }
  c.items = nullptr;
  c.count = 0;
}

bool ReadComment(ByteReader& r, stVNVariableComment& c) {
  const DWORD n = r.U32();
  if (!r.Ok() || n > r.Remaining() / 12) return false;
  if (n == 0) return true;
  auto* items = static_cast<stVNVariableCommentItem*>(CoTaskMemAlloc(n * sizeof(stVNVariableCommentItem)));
  if (items == nullptr) return false;
  std::memset(static_cast<void*>(items), 0, n * sizeof(stVNVariableCommentItem));
  // The entries count only once they are readable, so a failure leaves a
  // record that FreeComment can release.
  c.items = items;
  for (DWORD i = 0; i < n; ++i) {
    items[i].key = r.U64();
    c.count = static_cast<LONG>(i + 1);
    if (!r.Bstr(&items[i].text)) return false;
  }
  return true;
}

// GVL variable rows. Numbers first, then the texts in the order below, then
// the comment, then the member devices.
enum VarText {
  kVarName,
  kVarDataTypeName,
  kVarInitData,
  kVarDevice,
  kVarDeviceExtra,
  kVarRemark,
  kVarStructTypeName,
};
constexpr std::size_t kVarTextCount = 15;

using VarRow = stVNGlobalVariableAndSystemLabelElementDataX;
using MemberRow = stVNStructElementDataX;

BSTR VarRow::*const kVarTexts[kVarTextCount] = {&VarRow::name,           &VarRow::dataTypeName, &VarRow::initData,
                                                &VarRow::device,         &VarRow::deviceExtra,  &VarRow::remark,
                                                &VarRow::structTypeName, &VarRow::dynamicAttr1, &VarRow::dynamicAttr2,
                                                &VarRow::dynamicAttr4,   &VarRow::dynamicAttr5, &VarRow::sysName,
                                                &VarRow::sysProgramName, &VarRow::sysSpareText, &VarRow::sysLocalName};
LONG VarRow::*const kVarLongs[] = {
    &VarRow::lineNo,       &VarRow::classKeyword, &VarRow::structType,  &VarRow::dataTypeCode, &VarRow::hasArraySizes,
    &VarRow::dynamicAttr3, &VarRow::exAccess,     &VarRow::sysDataType, &VarRow::sysListID,    &VarRow::sysID,
    &VarRow::sysCPUID,     &VarRow::sysProjectID, &VarRow::sysStatus};
DWORD VarRow::*const kVarDwords[] = {&VarRow::sysAttribute, &VarRow::sysDataSize};

BSTR MemberRow::*const kMemberTexts[] = {&MemberRow::name,       &MemberRow::dataTypeName, &MemberRow::initData,
                                         &MemberRow::spareText1, &MemberRow::spareText2,   &MemberRow::spareText3,
                                         &MemberRow::spareText4};
LONG MemberRow::*const kMemberLongs[] = {&MemberRow::lineNo, &MemberRow::classKeyword, &MemberRow::dataTypeCode,
                                         &MemberRow::spareValue};

// The project file reads and writes codes by this layout.
static_assert(kVariableRowLayout.numbers == sizeof kVarLongs / sizeof kVarLongs[0] + sizeof kVarDwords / sizeof kVarDwords[0] &&
              kVariableRowLayout.texts == kVarTextCount);
static_assert(kMemberRowLayout.numbers == sizeof kMemberLongs / sizeof kMemberLongs[0] &&
              kMemberRowLayout.texts == sizeof kMemberTexts / sizeof kMemberTexts[0]);

bool Valid(const VarRow& r) {
  return ValidComment(r.comment) && r.memberDeviceCount >= 0 &&
         (r.memberDeviceCount == 0 || (r.memberDevices != nullptr && r.memberDeviceExtras != nullptr));
}

bool Valid(const MemberRow& r) { return ValidComment(r.comment); }

void Encode(const VarRow& r, ByteWriter& w) {
  for (auto f : kVarLongs) w.I32(r.*f);
  for (auto f : kVarDwords) w.U32(r.*f);
  for (auto f : kVarTexts) w.Bstr(r.*f);
  WriteComment(w, r.comment);
  w.U32(static_cast<DWORD>(r.memberDeviceCount));
  for (LONG i = 0; i < r.memberDeviceCount; ++i) {
    w.Bstr(r.memberDevices[i]);
    w.Bstr(r.memberDeviceExtras[i]);
  }
}

void Encode(const MemberRow& r, ByteWriter& w) {
  for (auto f : kMemberLongs) w.I32(r.*f);
  for (auto f : kMemberTexts) w.Bstr(r.*f);
  WriteComment(w, r.comment);
}

// Frees everything a record holds and zeroes it but for its row ID.
void FreeRow(VarRow& r) {
  for (auto f : kVarTexts) SysFreeString(r.*f);
  FreeComment(r.comment);
  for (LONG i = 0; i < r.memberDeviceCount; ++i) {
    if (r.memberDevices) SysFreeString(r.memberDevices[i]);
    if (r.memberDeviceExtras) SysFreeString(r.memberDeviceExtras[i]);
  }
  CoTaskMemFree(r.memberDevices);
  CoTaskMemFree(r.memberDeviceExtras);
  const LONG id = r.rowID;
  r = VarRow{};
  r.rowID = id;
}

void FreeRow(MemberRow& r) {
  for (auto f : kMemberTexts) SysFreeString(r.*f);
  FreeComment(r.comment);
  const LONG id = r.rowID;
  r = MemberRow{};
  r.rowID = id;
}

// Fills `r` from a row's code; false when an allocation failed (the record
// may then hold part of the row: FreeRow releases it).
bool Decode(const StoredRow& row, VarRow& r) {
  r = VarRow{};
  r.rowID = row.lRowID;
  if (row.code.empty()) return true;
  ByteReader rd(row.code.data(), row.code.size());
  for (auto f : kVarLongs) r.*f = rd.I32();
  for (auto f : kVarDwords) r.*f = rd.U32();
  for (auto f : kVarTexts)
    if (!rd.Bstr(&(r.*f))) return false;
  if (!ReadComment(rd, r.comment)) return false;
  const DWORD n = rd.U32();
  if (n == 0) return rd.Ok();
  auto* devices = static_cast<BSTR*>(CoTaskMemAlloc(n * sizeof(BSTR)));
  auto* extras = static_cast<BSTR*>(CoTaskMemAlloc(n * sizeof(BSTR)));
  if (devices == nullptr || extras == nullptr) {
    CoTaskMemFree(devices);
    CoTaskMemFree(extras);
    return false;
  }
  std::fill(devices, devices + n, nullptr);
  std::fill(extras, extras + n, nullptr);
  r.memberDevices = devices;
  r.memberDeviceExtras = extras;
  r.memberDeviceCount = static_cast<LONG>(n);
  for (DWORD i = 0; i < n; ++i)
    if (!rd.Bstr(&devices[i]) || !rd.Bstr(&extras[i])) return false;
  return rd.Ok();
}

bool Decode(const StoredRow& row, MemberRow& r) {
  r = MemberRow{};
  r.rowID = row.lRowID;
  if (row.code.empty()) return true;
  ByteReader rd(row.code.data(), row.code.size());
  for (auto f : kMemberLongs) r.*f = rd.I32();
  for (auto f : kMemberTexts)
    if (!rd.Bstr(&(r.*f))) return false;
  return ReadComment(rd, r.comment) && rd.Ok();
}

// Text `index` of a variable row's code (empty for a fresh row).
std::u16string VarTextOf(const StoredRow& row, int index) {
  if (row.code.empty()) return std::u16string();
  ByteReader rd(row.code.data(), row.code.size());
  rd.Skip(sizeof kVarLongs / sizeof kVarLongs[0] * 4 + sizeof kVarDwords / sizeof kVarDwords[0] * 4);
  for (int i = 0; i < index; ++i) rd.SkipText();
  return rd.Text();
}

template <class Row>
HRESULT GetRowsOf(RowTable& table, LONG count, const LONG* rowIDs, Row* rows, LONG* detail) {
  if (count < 0) return Fail(detail, kStatusInvalidArgument, kDetailBadArgument);
  if (count > 0 && (rowIDs == nullptr || rows == nullptr)) return Fail(detail, kStatusBadPointer, kDetailBadArgument);
  if (!table.AllExist(count, rowIDs)) return Fail(detail, kStatusFailed, kDetailNotFound);
  for (LONG i = 0; i < count; ++i) {
    if (!Decode(*table.Find(rowIDs[i]), rows[i])) {
      // Hand back nothing rather than part of the rows.
      for (LONG j = 0; j <= i; ++j) FreeRow(rows[j]);
      return Fail(detail, kStatusOutOfMemory, kDetailOutOfMemory);
    }
  }
  return S_OK;
}

template <class Row>
HRESULT SetRowsOf(RowTable& table, LONG count, const Row* rows, LONG* detail) {
  if (count < 0) return Fail(detail, kStatusInvalidArgument, kDetailBadArgument);
  if (count > 0 && rows == nullptr) return Fail(detail, kStatusBadPointer, kDetailBadArgument);
  // Check every record first, so that a bad one changes nothing.
  for (LONG i = 0; i < count; ++i) {
    if (table.Find(rows[i].rowID) == nullptr) return Fail(detail, kStatusFailed, kDetailNotFound);
    if (!Valid(rows[i])) return Fail(detail, kStatusInvalidArgument, kDetailBadArgument);
  }
  static thread_local ByteWriter scratch;
  for (LONG i = 0; i < count; ++i) {
    scratch.Buffer().clear();
    Encode(rows[i], scratch);
    StoredRow* row = table.Find(rows[i].rowID);
    row->code.assign(scratch.Buffer().begin(), scratch.Buffer().end());
  }
  return S_OK;
}

}  // namespace

// --- RowTable ---------------------------------------------------------------------

StoredRow* RowTable::Find(LONG rowID) {
  return const_cast<StoredRow*>(static_cast<const RowTable*>(this)->Find(rowID));
}

const StoredRow* RowTable::Find(LONG rowID) const {
  auto it =
      std::lower_bound(m_rows.begin(), m_rows.end(), rowID, [](const StoredRow& r, LONG id) { return r.lRowID < id; });
  return it != m_rows.end() && it->lRowID == rowID && it->bLive ? &*it : nullptr;
}

bool RowTable::AllExist(LONG count, const LONG* rowIDs) const {
  for (LONG i = 0; i < count; ++i)
    if (Find(rowIDs[i]) == nullptr) return false;
  return true;
}

HRESULT RowTable::Add(LONG count, LONG* rowIDs, LONG* detail) {
  if (count < 0) return Fail(detail, kStatusInvalidArgument, kDetailBadArgument);
  if (count == 0) return S_OK;
  if (rowIDs == nullptr) return Fail(detail, kStatusBadPointer, kDetailBadArgument);
  const LONGLONG last = m_llNextRowID + static_cast<LONGLONG>(count - 1) * kRowIDStep;
  if (last > 0x7FFFFFFFLL) return Fail(detail, kStatusFailed, kDetailExhausted);
  m_rows.reserve(m_rows.size() + static_cast<std::size_t>(count));
  for (LONG i = 0; i < count; ++i) {
    StoredRow row;
    row.lRowID = static_cast<LONG>(m_llNextRowID);
    rowIDs[i] = row.lRowID;
    m_rows.push_back(std::move(row));
    m_llNextRowID += kRowIDStep;
  }
  m_lLive += count;
  return S_OK;
}

HRESULT RowTable::Delete(LONG count, const LONG* rowIDs, LONG* detail) {
  if (count < 0) return Fail(detail, kStatusInvalidArgument, kDetailBadArgument);
  if (count == 0 && rowIDs == nullptr) {
    m_rows.clear();
    m_lLive = 0;
    return S_OK;
  }
  if (rowIDs == nullptr) return Fail(detail, kStatusBadPointer, kDetailBadArgument);
  if (!AllExist(count, rowIDs)) return Fail(detail, kStatusFailed, kDetailNotFound);
  for (LONG i = 0; i < count; ++i) {
    StoredRow* row = Find(rowIDs[i]);
    if (row == nullptr) continue;  // named twice
    row->bLive = false;
    row->code = std::vector<BYTE>();
    row->arraySizes = std::vector<stVNArraySizeX>();
    --m_lLive;
  }
  if (static_cast<std::size_t>(m_lLive) * 2 < m_rows.size()) Compact();
  return S_OK;
}

void RowTable::Compact() {
  m_rows.erase(std::remove_if(m_rows.begin(), m_rows.end(), [](const StoredRow& r) { return !r.bLive; }), m_rows.end());
}

HRESULT RowTable::Ids(LONG count, LONG* rowIDs, LONG* returned, LONG* detail) const {
  if (count < 0) return Fail(detail, kStatusInvalidArgument, kDetailBadArgument);
  if (count > 0 && rowIDs == nullptr) return Fail(detail, kStatusBadPointer, kDetailBadArgument);
  LONG n = 0;
  for (auto it = m_rows.begin(); it != m_rows.end() && n < count; ++it)
    if (it->bLive) rowIDs[n++] = it->lRowID;
  if (returned) *returned = n;
  return S_OK;
}

bool RowTable::AppendLoaded(StoredRow row) {
  const LONGLONG last = m_rows.empty() ? kFirstRowID - 1 : m_rows.back().lRowID;
  if (row.lRowID <= last || row.lRowID >= m_llNextRowID) return false;
  row.bLive = true;
  m_rows.push_back(std::move(row));
  ++m_lLive;
  return true;
}

void* HcGvlObject::Offer(REFIID iid) {
  if (IsEqualIID(iid, IIDOf<IVNDataABS_HighCapacityGlobalVariable>()))
    return static_cast<IVNDataABS_HighCapacityGlobalVariable*>(this);
  return nullptr;
}

HRESULT HcGvlObject::AddRows(LONG count, LONG* rowIDs, LONG* detail) {
  REFDB_ENTER(HighCapacityGlobalVariable_AddRows);
  return m_table.Add(count, rowIDs, detail);
}

HRESULT HcGvlObject::DeleteRows(LONG count, const LONG* rowIDs, LONG* detail) {
  REFDB_ENTER(HighCapacityGlobalVariable_DeleteRows);
  return m_table.Delete(count, rowIDs, detail);
}

HRESULT HcGvlObject::GetRowIDs(LONG, LONG, LONG, LONG count, LONG, LONG* rowIDs, LONG* returned, LONG* detail) {
  REFDB_ENTER(HighCapacityGlobalVariable_GetRowIDs);
  return ReportRowIDs(m_pDb, m_table.Ids(count, rowIDs, returned, detail), returned);
}

HRESULT HcGvlObject::GetRowCount(LONG* count, LONG* detail) {
  REFDB_ENTER(HighCapacityGlobalVariable_GetRowCount);
  if (count == nullptr) return Fail(detail, kStatusBadPointer, kDetailBadArgument);
  *count = m_table.Count();
  return S_OK;
}

HRESULT HcGvlObject::GetRows(LONG count, const LONG* rowIDs, VarRow* rows, LONG* detail) {
  REFDB_ENTER(HighCapacityGlobalVariable_GetRows);
  const HRESULT hr = GetRowsOf(m_table, count, rowIDs, rows, detail);
  if (hr == S_OK) m_pDb->Advance(static_cast<ULONGLONG>(count));
  return hr;
}

HRESULT HcGvlObject::SetRows(LONG count, const VarRow* rows, LONG* detail) {
  REFDB_ENTER(HighCapacityGlobalVariable_SetRows);
  const HRESULT hr = SetRowsOf(m_table, count, rows, detail);
  if (hr == S_OK) m_pDb->Advance(static_cast<ULONGLONG>(count));
  return hr;
}

HRESULT HcGvlObject::GetArraySizeCount(LONG rowID, LONG* count, LONG* detail) {
  REFDB_ENTER(HighCapacityGlobalVariable_GetArraySizeCount);
  if (count == nullptr) return Fail(detail, kStatusBadPointer, kDetailBadArgument);
  const StoredRow* row = m_table.Find(rowID);
  if (row == nullptr) return Fail(detail, kStatusFailed, kDetailNotFound);
  *count = static_cast<LONG>(row->arraySizes.size());
  return S_OK;
}

HRESULT HcGvlObject::GetArraySizes(LONG rowID, LONG count, LONG, stVNArraySizeX* entries, LONG* returned,
                                   LONG* detail) {
  REFDB_ENTER(HighCapacityGlobalVariable_GetArraySizes);
  if (count < 0) return Fail(detail, kStatusInvalidArgument, kDetailBadArgument);
  if (count > 0 && entries == nullptr) return Fail(detail, kStatusBadPointer, kDetailBadArgument);
  const StoredRow* row = m_table.Find(rowID);
  if (row == nullptr) return Fail(detail, kStatusFailed, kDetailNotFound);
  const LONG n = std::min(count, static_cast<LONG>(row->arraySizes.size()));
  std::copy(row->arraySizes.begin(), row->arraySizes.begin() + n, entries);
  if (returned) *returned = n;
  return S_OK;
}

HRESULT HcGvlObject::SetArraySizes(LONG rowID, LONG count, LONG, const stVNArraySizeX* entries, LONG* detail) {
  REFDB_ENTER(HighCapacityGlobalVariable_SetArraySizes);
  if (count < 0) return Fail(detail, kStatusInvalidArgument, kDetailBadArgument);
  if (count > 0 && entries == nullptr) return Fail(detail, kStatusBadPointer, kDetailBadArgument);
  StoredRow* row = m_table.Find(rowID);
  if (row == nullptr) return Fail(detail, kStatusFailed, kDetailNotFound);
  row->arraySizes.assign(entries, entries + count);
  return S_OK;
}

HRESULT HcGvlObject::GetRowObjectID(LONG rowID, STOBJECTID* structId, LONG* detail) {
  REFDB_ENTER(HighCapacityGlobalVariable_GetRowObjectID);
  if (structId == nullptr) return Fail(detail, kStatusBadPointer, kDetailBadArgument);
  const StoredRow* row = m_table.Find(rowID);
  if (row == nullptr) return Fail(detail, kStatusFailed, kDetailNotFound);
  std::u16string name = VarTextOf(*row, kVarStructTypeName);
  if (name.empty()) name = VarTextOf(*row, kVarDataTypeName);
  Object* sdt = m_pProject ? m_pProject->FindStructure(name) : nullptr;
  if (sdt == nullptr) return Fail(detail, kStatusFailed, kDetailNoSuchStructure);
  *structId = sdt->m_id;
  return S_OK;
}

// --- HcSdtObject -----------------------------------------------------------------

void* HcSdtObject::Offer(REFIID iid) {
  if (IsEqualIID(iid, IIDOf<IVNDataABS_HighCapacityStructure>()))
    return static_cast<IVNDataABS_HighCapacityStructure*>(this);
  return nullptr;
}

HRESULT HcSdtObject::AddRows(LONG count, LONG* rowIDs, LONG* detail) {
  REFDB_ENTER(HighCapacityStructure_AddRows);
  return m_table.Add(count, rowIDs, detail);
}

HRESULT HcSdtObject::DeleteRows(LONG count, const LONG* rowIDs, LONG* detail) {
  REFDB_ENTER(HighCapacityStructure_DeleteRows);
  return m_table.Delete(count, rowIDs, detail);
}

HRESULT HcSdtObject::GetRowIDs(LONG, LONG, LONG, LONG count, LONG, LONG* rowIDs, LONG* returned, LONG* detail) {
  REFDB_ENTER(HighCapacityStructure_GetRowIDs);
  return ReportRowIDs(m_pDb, m_table.Ids(count, rowIDs, returned, detail), returned);
}

HRESULT HcSdtObject::GetRowCount(LONG* count, LONG* detail) {
  REFDB_ENTER(HighCapacityStructure_GetRowCount);
  if (count == nullptr) return Fail(detail, kStatusBadPointer, kDetailBadArgument);
  *count = m_table.Count();
  return S_OK;
}

HRESULT HcSdtObject::GetRows(LONG count, const LONG* rowIDs, MemberRow* rows, LONG* detail) {
  REFDB_ENTER(HighCapacityStructure_GetRows);
  const HRESULT hr = GetRowsOf(m_table, count, rowIDs, rows, detail);
  if (hr == S_OK) m_pDb->Advance(static_cast<ULONGLONG>(count));
  return hr;
}

HRESULT HcSdtObject::SetRows(LONG count, const MemberRow* rows, LONG* detail) {
  REFDB_ENTER(HighCapacityStructure_SetRows);
  const HRESULT hr = SetRowsOf(m_table, count, rows, detail);
  if (hr == S_OK) m_pDb->Advance(static_cast<ULONGLONG>(count));
  return hr;
}

}  // namespace refdb
