// The row tables of high-capacity GVLs and SDTs: row IDs, batch reads and
// writes of whole records, array sizes and the structured type of a row.
#include <gtest/gtest.h>

#include <deque>

#include "tests/refdb/RefdbTestUtil.h"
#include "tests/support/AllocFailure.h"

namespace {

using refdb_test::Bstr;
using refdb_test::Query;
using refdb_test::Sample;
using Row = stVNGlobalVariableAndSystemLabelElementDataX;

constexpr BSTR Row::*kTexts[] = {&Row::name,           &Row::dataTypeName, &Row::initData,       &Row::device,
                                 &Row::deviceExtra,    &Row::remark,       &Row::structTypeName, &Row::dynamicAttr1,
                                 &Row::dynamicAttr2,   &Row::dynamicAttr4, &Row::dynamicAttr5,   &Row::sysName,
                                 &Row::sysProgramName, &Row::sysSpareText, &Row::sysLocalName};
constexpr LONG Row::*kNumbers[] = {&Row::lineNo,        &Row::classKeyword, &Row::structType, &Row::dataTypeCode,
                                   &Row::hasArraySizes, &Row::dynamicAttr3, &Row::exAccess,   &Row::sysDataType,
                                   &Row::sysListID,     &Row::sysID,        &Row::sysCPUID,   &Row::sysProjectID,
                                   &Row::sysStatus};

// Frees what the database put into a record, as the component's release does.
void FreeRow(Row& r) {
  for (auto f : kTexts) SysFreeString(r.*f);
  for (LONG i = 0; i < r.comment.count; ++i) SysFreeString(r.comment.items[i].text);
  for (LONG i = 0; i < r.memberDeviceCount; ++i) {
    SysFreeString(r.memberDevices[i]);
    SysFreeString(r.memberDeviceExtras[i]);
  }
  CoTaskMemFree(r.comment.items);
  CoTaskMemFree(r.memberDevices);
  CoTaskMemFree(r.memberDeviceExtras);
  r = Row{};
}

std::u16string Text(BSTR b) { return b ? std::u16string(b) : std::u16string(u"<null>"); }

// Every field of a record, null texts told from empty ones.
std::vector<std::pair<std::u16string, long long>> Dump(const Row& r) {
  std::vector<std::pair<std::u16string, long long>> out{{u"id", r.rowID}, {u"", r.sysAttribute}, {u"", r.sysDataSize}};
  for (auto f : kTexts) out.push_back({Text(r.*f), 0});
  for (auto f : kNumbers) out.push_back({u"", r.*f});
  for (LONG i = 0; i < r.comment.count; ++i) out.push_back({Text(r.comment.items[i].text), r.comment.items[i].key});
  for (LONG i = 0; i < r.memberDeviceCount; ++i)
    out.push_back({Text(r.memberDevices[i]) + u"|" + Text(r.memberDeviceExtras[i]), 0});
  return out;
}

// Row IDs start at 1001, step by 7 in the order rows are added and are never
// reused; GetRowIDs lists them in that order, at most `count` of them; rows
// left after many piecewise deletions keep their order and are found by ID.
TEST(RefRows, RowIdsAreStableNeverReusedAndInInsertionOrder) {
  Sample s;
  auto rows = Query<IVNDataABS_HighCapacityGlobalVariable>(s.db, s.gvlX);
  LONG d = 0;
  auto add = [&](LONG n) {
    std::vector<LONG> ids(static_cast<std::size_t>(n));
    EXPECT_EQ(S_OK, rows->AddRows(n, ids.data(), &d));
    return ids;
  };
  auto list = [&](LONG count) {  // the row count, then the IDs listed
    std::vector<LONG> ids(static_cast<std::size_t>(count) + 1, 0);
    LONG returned = -1;
    EXPECT_EQ(S_OK, rows->GetRowCount(&ids[0], &d));
    EXPECT_EQ(S_OK, rows->GetRowIDs(1, 2, 1, count, 0, &ids[1], &returned, &d));
    ids.resize(static_cast<std::size_t>(returned) + 1);
    return ids;
  };
  EXPECT_EQ((std::vector<LONG>{1001, 1008, 1015}), add(3));
  const LONG gone[] = {1008, 1008, 1015};  // one named twice, deleted once
  ASSERT_EQ(S_OK, rows->DeleteRows(3, gone, &d));
  EXPECT_EQ((std::vector<LONG>{1022, 1029}), add(2));
  EXPECT_EQ((std::vector<LONG>{3, 1001, 1022, 1029}), list(9));
  EXPECT_EQ((std::vector<LONG>{3, 1001, 1022}), list(2));
  ASSERT_EQ(S_OK, rows->DeleteRows(0, nullptr, &d));
  EXPECT_EQ((std::vector<LONG>{0}), list(9));
  EXPECT_EQ((std::vector<LONG>{1036}), add(1));
  std::vector<LONG> ids = add(2500), odd, kept{1251, 1036};
  for (std::size_t i = 0; i < ids.size(); ++i) (i % 2 ? odd : kept).push_back(ids[i]);
  for (std::size_t i = 0; i < odd.size(); i += 125) ASSERT_EQ(S_OK, rows->DeleteRows(125, &odd[i], &d));
  EXPECT_EQ(kept, list(2000));
  Row r{};
  EXPECT_EQ(std::make_pair(S_OK, refdb::kStatusFailed),
            std::make_pair(rows->GetRows(1, &kept[1200], &r, &d), rows->GetRows(1, &odd[1200], &r, &d)));
}

// A record reads back with every field as written (null texts apart from
// empty ones, comments and member devices in order), a fresh row all zero, a
// rewritten one only with the new record; the database's own allocations are
// not failed by AllocFailure unless it is asked to. Array sizes are kept per
// row, read back up to `count`, and go with the row.
TEST(RefRows, RecordsAndArraySizesKeepEveryFieldAsWritten) {
  Sample s;
  auto rows = Query<IVNDataABS_HighCapacityGlobalVariable>(s.db, s.gvlX);
  std::deque<Bstr> texts;
  auto text = [&texts](int i) -> BSTR {  // every fifth null, every fifth empty, the others distinct
    if (i % 5 == 1) return nullptr;
    return texts.emplace_back(i % 5 == 2 ? u"" : std::u16string(static_cast<std::size_t>(i + 1), u'a' + i).c_str());
  };
  stVNVariableCommentItem items[3] = {{9, text(20)}, {24, text(21)}, {0x123456789AB, text(22)}};
  BSTR devices[3] = {text(30), text(31), text(32)}, extras[3] = {text(33), text(34), text(35)};
  LONG ids[2] = {}, d = 0, i = 0;
  ASSERT_EQ(S_OK, rows->AddRows(2, ids, &d));
  Row in{}, out[2] = {}, fresh{};
  for (auto f : kTexts) in.*f = text(i++);
  for (auto f : kNumbers) in.*f = -1000 * i++ - 7;
  in.rowID = ids[1];
  in.comment = {3, items};
  in.memberDevices = devices;
  in.memberDeviceExtras = extras;
  in.memberDeviceCount = 3;
  in.sysAttribute = 0x1234ABCDu;
  in.sysDataSize = 0xFFFF0002u;
  fresh.rowID = ids[0];
  ASSERT_EQ(S_OK, rows->SetRows(1, &in, &d));
  const LONG order[2] = {ids[1], ids[0]};
  HRESULT hr = E_FAIL;
  bool fired = true;
  {
    AllocFailure fail(1);
    hr = rows->GetRows(2, order, out, &d);
    fired = fail.Fired();
  }
  EXPECT_EQ(std::make_pair(S_OK, false), std::make_pair(hr, fired));
  EXPECT_EQ(Dump(in), Dump(out[0]));
  EXPECT_EQ(0, std::memcmp(&fresh, &out[1], sizeof fresh));
  for (Row& r : out) FreeRow(r);
  fresh.rowID = ids[1];
  fresh.name = texts.front();
  ASSERT_EQ(S_OK, rows->SetRows(1, &fresh, &d));
  ASSERT_EQ(S_OK, rows->GetRows(1, &ids[1], out, &d));
  EXPECT_EQ(Dump(fresh), Dump(out[0]));
  FreeRow(out[0]);

  LONG count = -1;
  const stVNArraySizeX sizes[3] = {{-1, 10}, {0, 0}, {0x7FFFFFFF, -3}};
  ASSERT_EQ(S_OK, rows->SetArraySizes(ids[1], 3, 1, sizes, &d));
  const std::vector<std::tuple<LONG, LONG, LONG, LONG>> reads = {
      {ids[0], 4, 0, 0}, {ids[1], 4, 3, 3}, {ids[1], 2, 3, 2}};
  for (auto [row, asked, stored, returned] : reads) {
    stVNArraySizeX back[4] = {}, want[4] = {};
    std::copy(sizes, sizes + returned, want);
    ASSERT_EQ(S_OK, rows->GetArraySizeCount(row, &count, &d));
    EXPECT_EQ(stored, count);
    ASSERT_EQ(S_OK, rows->GetArraySizes(row, asked, 1, back, &count, &d));
    EXPECT_EQ(returned, count);
    EXPECT_EQ(0, std::memcmp(want, back, sizeof back));
  }
  ASSERT_EQ(S_OK, rows->DeleteRows(1, &ids[1], &d));
  EXPECT_EQ(refdb::kStatusFailed, rows->GetArraySizeCount(ids[1], &count, &d));
}

// GetRowObjectID names the high-capacity SDT called by the row's struct type
// name, else its data type name; renames and deletions are followed, classic
// SDTs never count and the first of several of a name wins.
TEST(RefRows, RowObjectIdResolvesTheStructuredTypeByName) {
  Sample s;
  auto rows = Query<IVNDataABS_HighCapacityGlobalVariable>(s.db, s.gvlX);
  LONG ids[3] = {}, d = 0;
  ASSERT_EQ(S_OK, rows->AddRows(3, ids, &d));
  Bstr pos(u"Pos"), other(u"Other"), word(u"WORD");
  Row in[3] = {};
  for (int i = 0; i < 3; ++i) in[i].rowID = ids[i];
  in[0].dataTypeName = word;
  in[0].structTypeName = in[1].dataTypeName = pos;
  in[2].dataTypeName = other;
  ASSERT_EQ(S_OK, rows->SetRows(3, in, &d));
  auto resolve = [&] {  // the SDT of each row, null where there is none
    std::vector<STOBJECTID> found(3);
    for (int i = 0; i < 3; ++i) {
      const HRESULT hr = rows->GetRowObjectID(ids[i], &found[i], &d);
      EXPECT_EQ(hr != S_OK, found[i].IsNull());
    }
    return found;
  };
  const STOBJECTID none{}, types = s.Child(VN_TYPE_SDT_COLLECTION_X);
  EXPECT_EQ((std::vector<STOBJECTID>{s.sdtX, s.sdtX, none}), resolve());
  refdb_test::Create(s.db, s.Child(VN_TYPE_SDT_COLLECTION), VN_TYPE_SDT, u"Other");
  ASSERT_EQ(S_OK, s.db.Workspace()->SetObjectName(s.sdtX, other, &d));
  EXPECT_EQ((std::vector<STOBJECTID>{none, none, s.sdtX}), resolve());
  const STOBJECTID second = refdb_test::Create(s.db, types, VN_TYPE_SDT, u"Pos");
  refdb_test::Create(s.db, types, VN_TYPE_SDT, u"Pos");
  EXPECT_EQ((std::vector<STOBJECTID>{second, second, s.sdtX}), resolve());
  ASSERT_EQ(S_OK, s.db.Workspace()->DeleteDataObject(s.sdtX, &d));
  EXPECT_EQ((std::vector<STOBJECTID>{second, second, none}), resolve());
}

}  // namespace
