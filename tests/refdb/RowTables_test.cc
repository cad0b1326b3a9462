// The row tables of high-capacity GVLs and SDTs: row IDs, batch reads and
// writes of whole records.
#include <gtest/gtest.h>

#include <deque>

#include "tests/refdb/RefdbTestUtil.h"

namespace {

using refdb_test::Query;
using refdb_test::Sample;
using Row = stVNGlobalVariableAndSystemLabelElementDataX;
using Longs = std::vector<LONG>;

constexpr BSTR Row::*kTexts[] = {&Row::name,           &Row::dataTypeName, &Row::initData,       &Row::device,
                                 &Row::deviceExtra,    &Row::remark,       &Row::structTypeName, &Row::dynamicAttr1,
                                 &Row::dynamicAttr2,   &Row::dynamicAttr4, &Row::dynamicAttr5,   &Row::sysName,
                                 &Row::sysProgramName, &Row::sysSpareText, &Row::sysLocalName};
constexpr LONG Row::*kNumbers[] = {&Row::lineNo,        &Row::classKeyword, &Row::structType, &Row::dataTypeCode,
                                   &Row::hasArraySizes, &Row::dynamicAttr3, &Row::exAccess,   &Row::sysDataType,
                                   &Row::sysListID,     &Row::sysID,        &Row::sysCPUID,   &Row::sysProjectID,
                                   &Row::sysStatus};

// Every field of a record, null texts told from empty ones; with `owned`,
// frees what the database put into it, as the component's release does.
std::string Dump(Row& r, bool owned = false) {
  std::string out =
      std::to_string(r.rowID) + " " + std::to_string(r.sysAttribute) + " " + std::to_string(r.sysDataSize);
  auto text = [&](BSTR& b) {
    out += b ? "|" + ToUtf8(b) : "|<null>";
    if (owned) SysFreeString(b);
  };
  for (auto f : kTexts) text(r.*f);
  for (auto f : kNumbers) out += " " + std::to_string(r.*f);
  for (LONG i = 0; i < r.comment.count; ++i) {
    out += std::to_string(r.comment.items[i].key);
    text(r.comment.items[i].text);
  }
  for (LONG i = 0; i < r.memberDeviceCount; ++i) text(r.memberDevices[i]), text(r.memberDeviceExtras[i]);
  if (owned) {
    CoTaskMemFree(r.comment.items);
    CoTaskMemFree(r.memberDevices);
    CoTaskMemFree(r.memberDeviceExtras);
  }
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
    Longs ids(static_cast<std::size_t>(n));
    EXPECT_EQ(S_OK, rows->AddRows(n, ids.data(), &d));
    return ids;
  };
  auto list = [&](LONG count) {  // the row count, then the IDs listed
    Longs ids(static_cast<std::size_t>(count) + 1, 0);
    LONG returned = -1;
    EXPECT_EQ(S_OK, rows->GetRowCount(&ids[0], &d));
    EXPECT_EQ(S_OK, rows->GetRowIDs(1, 2, 1, count, 0, &ids[1], &returned, &d));
    ids.resize(static_cast<std::size_t>(returned) + 1);
    return ids;
  };
  EXPECT_EQ((Longs{1001, 1008, 1015}), add(3));
  const LONG gone[] = {1008, 1008, 1015};  // one named twice, deleted once
  ASSERT_EQ(S_OK, rows->DeleteRows(3, gone, &d));
  EXPECT_EQ((Longs{1022, 1029}), add(2));
  EXPECT_EQ((std::vector<Longs>{{3, 1001, 1022, 1029}, {3, 1001, 1022}}), (std::vector<Longs>{list(9), list(2)}));
  ASSERT_EQ(S_OK, rows->DeleteRows(0, nullptr, &d));
  EXPECT_EQ((std::vector<Longs>{{0}, {1036}}), (std::vector<Longs>{list(9), add(1)}));
  Longs ids = add(2500), odd, kept{1251, 1036};
  for (std::size_t i = 0; i < ids.size(); ++i) (i % 2 ? odd : kept).push_back(ids[i]);
  for (std::size_t i = 0; i < odd.size(); i += 125) ASSERT_EQ(S_OK, rows->DeleteRows(125, &odd[i], &d));
  EXPECT_EQ(kept, list(2000));
  Row r{};
  EXPECT_EQ(std::make_pair(S_OK, refdb::kStatusFailed),
            std::make_pair(rows->GetRows(1, &kept[1200], &r, &d), rows->GetRows(1, &odd[1200], &r, &d)));
}

// A record reads back with every field as written (null texts apart from
// empty ones, comments and member devices in order), a fresh row all zero, a
// rewritten one only with the new record.
TEST(RefRows, RecordsKeepEveryFieldAsWritten) {
  Sample s;
  auto rows = Query<IVNDataABS_HighCapacityGlobalVariable>(s.db, s.gvlX);
  std::deque<BstrHolder> texts;
  auto text = [&texts](int i) -> BSTR {  // every fifth null, every fifth empty, the others distinct
    const std::u16string t(i % 5 == 2 ? 0 : static_cast<std::size_t>(i + 1), static_cast<char16_t>(u'a' + i));
    return i % 5 == 1 ? nullptr : texts.emplace_back(SysAllocString(t.c_str())).Get();
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
  const LONG order[2] = {ids[1], ids[0]};
  ASSERT_EQ(S_OK, rows->SetRows(1, &in, &d));
  ASSERT_EQ(S_OK, rows->GetRows(2, order, out, &d));
  EXPECT_EQ(Dump(in), Dump(out[0], true));
  EXPECT_EQ(0, std::memcmp(&fresh, &out[1], sizeof fresh));
  fresh.rowID = ids[1];
  fresh.name = texts.front().Get();
  ASSERT_EQ(S_OK, rows->SetRows(1, &fresh, &d));
  ASSERT_EQ(S_OK, rows->GetRows(1, &ids[1], out, &d));
  EXPECT_EQ(Dump(fresh), Dump(out[0], true));
}

}  // namespace
