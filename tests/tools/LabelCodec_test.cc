// The JSON form of label records: every field both ways, construction values
// for missing keys, and clear refusals of bad input.
#include "tools/LabelCodec.h"

#include <gtest/gtest.h>

namespace {

using kx9tool::CodecError;
using kx9tool::Json;

// Every field of every record kind set to a value other than its
// construction value.
kx9tool::LabelSet FullData() {
  kx9tool::LabelSet set(3);
  _STKX9LABELSTRUCTURE* d = set.Data();
  d[0].dataType = KX9_DATATYPE_SDT;
  d[0].name = u"Typ\u00e9";
  auto* m = new _STKX9LABELSTRUCTURESDTDATA();
  m->lineNo = 4000000000u;
  m->name = u"member";
  for (int i = 0; i < KX9_COMMENT_COUNT; ++i) m->comments[i] = CString(std::u16string(u"c") + char16_t(u'a' + i));
  m->reservedText = u"R";
  m->dataTypeName = u"DINT";
  m->initData = u"-7";
  d[0].elements.Add(m);

  d[1].dataType = KX9_DATATYPE_GVL;
  d[1].name = u"List";
  auto* v = new _STKX9LABELSTRUCTUREGVLDATA();
  v->lineNo = 3;
  v->name = u"\u901f\u5ea6";                     // CJK
  v->comments[0] = u"a,b\\c\r\nd \U0001F600";   // comma, backslash, CR LF, outside the BMP
  v->comments[15] = u"last";
  v->reservedText = u"";
  v->classKeyword = -2;
  v->structType = 2;
  v->dataTypeName = u"Axis";
  v->initData = u"init";
  v->devices.Add(_STKX9LABELSTRUCTUREGVLDEVICE{CString(u"D0"), CString(u"U1")});
  v->devices.Add(_STKX9LABELSTRUCTUREGVLDEVICE{CString(), CString(u"x")});
  v->remark = u"remark";
  _STKX9SYSTEMLABELDATA& s = v->systemLabel;
  s.ID = -1;
  s.name = u"sys";
  s.programName = u"prog";
  s.CPUID = 5;
  s.attribute = 0xFFFF;
  s.status = 14;
  s.projectID = 2147483647;
  s.listID = -2147483647 - 1;
  s.comment = u"sc";
  s.remark = u"sr";
  s.dataType = 9;
  s.dataSize = 65535;
  s.localName = u"loc";
  v->exAccess = u"1";
  v->arraySizes.Add(_STARRAYSIZEINFO{-3, 9223372036854775807LL});
  v->arraySizes.Add(_STARRAYSIZEINFO{0, -9223372036854775807LL - 1});
  v->dynamicAttr1 = u"d1";
  v->dynamicAttr2 = u"12";
  v->dynamicAttr3 = 77;
  v->dynamicAttr4 = u"d4";
  v->dynamicAttr5 = u"-5";
  d[1].elements.Add(v);

  d[2].dataType = 5;  // neither kind: only the common part travels
  d[2].name = u"odd";
  auto* b = new _STKX9LABELSTRUCTUREBASEDATA();
  b->lineNo = 1;
  b->name = u"base";
  d[2].elements.Add(b);
  return set;
}

TEST(LabelCodecTest, EveryFieldRoundTripsThroughJson) {
  kx9tool::LabelSet original = FullData();
  const Json first = kx9tool::DataToJson(original.Data(), original.Count());
  // Spot checks on the JSON itself: names, order, UTF-8.
  const Json& var = first[1]["elements"][0];
  EXPECT_EQ(var["name"], "\xe9\x80\x9f\xe5\xba\xa6");
  EXPECT_EQ(var["comments"].size(), 16u);
  EXPECT_EQ(var["comments"][0], "a,b\\c\r\nd \xf0\x9f\x98\x80");
  EXPECT_EQ(var["systemLabel"]["attribute"], 65535);
  EXPECT_EQ(var["arraySizes"][1]["value2"], -9223372036854775807LL - 1);
  EXPECT_EQ(var["devices"][1]["deviceExtra"], "x");
  EXPECT_EQ(first[0]["elements"][0]["lineNo"], 4000000000u);
  EXPECT_FALSE(first[0]["elements"][0].contains("devices"));
  EXPECT_FALSE(first[2]["elements"][0].contains("dataTypeName"));
  std::vector<std::string> keys;
  for (auto it = var.begin(); it != var.end(); ++it) keys.push_back(it.key());
  const std::vector<std::string> expected = {
      "lineNo",  "name",        "comments", "reservedText", "classKeyword", "structType",   "dataTypeName",
      "initData", "devices",    "remark",   "systemLabel",  "exAccess",     "arraySizes",   "dynamicAttr1",
      "dynamicAttr2", "dynamicAttr3", "dynamicAttr4", "dynamicAttr5"};
  EXPECT_EQ(keys, expected);

  kx9tool::LabelSet back = kx9tool::DataFromJson(first);
  ASSERT_EQ(back.Count(), 3);
  const auto* v = static_cast<const _STKX9LABELSTRUCTUREGVLDATA*>(back.Data()[1].elements[0]);
  EXPECT_EQ(v->comments[0], u"a,b\\c\r\nd \U0001F600");
  EXPECT_EQ(v->systemLabel.comment, u"sc");
  EXPECT_EQ(v->arraySizes[0].value2, 9223372036854775807LL);
  EXPECT_TRUE(v->reservedText.IsEmpty());
  EXPECT_EQ(kx9tool::DataToJson(back.Data(), back.Count()), first);
}

TEST(LabelCodecTest, MissingKeysTakeConstructionValues) {
  const Json data = Json::parse(R"([
    {"dataType": 14, "name": "G", "elements": [{}]},
    {"dataType": 18, "elements": [{"name": "m", "comments": ["only first"]}]},
    {}
  ])");
  kx9tool::LabelSet set = kx9tool::DataFromJson(data);
  ASSERT_EQ(set.Count(), 3);
  const auto* v = static_cast<const _STKX9LABELSTRUCTUREGVLDATA*>(set.Data()[0].elements[0]);
  EXPECT_EQ(v->reservedText, u"0");
  EXPECT_EQ(v->exAccess, u"0");
  EXPECT_EQ(v->devices.GetSize(), 0);
  EXPECT_EQ(v->systemLabel.status, 0);
  const auto* m = static_cast<const _STKX9LABELSTRUCTURESDTDATA*>(set.Data()[1].elements[0]);
  EXPECT_EQ(m->comments[0], u"only first");
  EXPECT_TRUE(m->comments[1].IsEmpty());
  EXPECT_TRUE(set.Data()[1].name.IsEmpty());
  EXPECT_EQ(set.Data()[2].dataType, 0);
  EXPECT_EQ(set.Data()[2].elements.GetSize(), 0);

  kx9tool::LabelDocument doc = kx9tool::DocumentFromJson(Json::parse(R"({"count": 9, "genericData": "00Ff"})"));
  EXPECT_EQ(doc.data.Count(), 0);
  EXPECT_EQ(doc.genericData, (std::vector<BYTE>{0x00, 0xFF}));
}

// The message of the CodecError that `f` raises; fails the test without one.
template <class F>
std::string ErrorOf(F f) {
  try {
    f();
  } catch (const CodecError& e) {
    return e.what();
  }
  ADD_FAILURE() << "no CodecError";
  return "";
}

TEST(LabelCodecTest, BadInputIsRefusedWithItsPlace) {
  auto data = [](const std::string& element) {
    return [element] { kx9tool::DataFromJson(Json::parse("[{\"dataType\": 14, \"elements\": [" + element + "]}]")); };
  };
  EXPECT_EQ(ErrorOf(data(R"({"lineNo": -1})")), "data[0].elements[0].lineNo: number -1 out of range");
  EXPECT_EQ(ErrorOf(data(R"({"systemLabel": {"attribute": 65536}})")),
            "data[0].elements[0].systemLabel.attribute: number 65536 out of range");
  EXPECT_EQ(ErrorOf(data(R"({"classKeyword": 2147483648})")),
            "data[0].elements[0].classKeyword: number 2147483648 out of range");
  EXPECT_EQ(ErrorOf(data(R"({"dynamicAttr3": 1.5})")), "data[0].elements[0].dynamicAttr3: expected an integer");
  EXPECT_EQ(ErrorOf(data(R"({"name": 5})")), "data[0].elements[0].name: expected a string");
  EXPECT_EQ(ErrorOf(data(R"({"nmae": "x"})")), "data[0].elements[0]: unknown field \"nmae\"");
  EXPECT_EQ(ErrorOf(data(R"({"devices": [{"device": "D0", "extra": ""}]})")),
            "data[0].elements[0].devices[0]: unknown field \"extra\"");
  EXPECT_EQ(ErrorOf(data(R"({"comments": ["", "", "", "", "", "", "", "", "", "", "", "", "", "", "", "", ""]})")),
            "data[0].elements[0].comments: at most 16 comments");
  EXPECT_EQ(ErrorOf([] { kx9tool::DataFromJson(Json::parse(R"([{"dataType": 18, "elements": [{"devices": []}]}])")); }),
            "data[0].elements[0]: unknown field \"devices\"");
  EXPECT_EQ(ErrorOf([] { kx9tool::DataFromJson(Json::object()); }), "data: expected an array");

  // Strings with invalid UTF-8 can only come from a JSON built in memory;
  // the parser itself refuses them in files.
  for (const char* bad : {"\xC0\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80", "ab\xE9", "\x80"}) {
    Json d = Json::array({Json{{"dataType", 14}, {"name", std::string(bad)}}});
    const std::string message = ErrorOf([&] { kx9tool::DataFromJson(d); });
    EXPECT_EQ(message.rfind("data[0].name: ", 0), 0u) << message;
    EXPECT_NE(message.find("UTF-8"), std::string::npos) << message;
  }
  EXPECT_EQ(ErrorOf([] { kx9tool::HexToBytes("abc", "genericData"); }), "genericData: hex text of odd length 3");
  EXPECT_EQ(ErrorOf([] { kx9tool::HexToBytes("0g", "settings"); }), "settings: not a hex digit at position 1");
  EXPECT_EQ(ErrorOf([] { kx9tool::DocumentFromJson(Json{{"genericdata", ""}}); }), "unknown field \"genericdata\"");
}

TEST(LabelCodecTest, TextConversionsAreExact) {
  const std::u16string all = u"A\u00e9\u20ac\uFFFF\U00010000\U0010FFFF";
  const std::string utf8 = kx9tool::Utf16ToUtf8Strict(all, "t");
  EXPECT_EQ(utf8, "A\xC3\xA9\xE2\x82\xAC\xEF\xBF\xBF\xF0\x90\x80\x80\xF4\x8F\xBF\xBF");
  EXPECT_EQ(kx9tool::Utf8ToUtf16Strict(utf8, "t"), all);
  // An unpaired surrogate has no UTF-8 form: refused, not replaced.
  EXPECT_EQ(ErrorOf([] { kx9tool::Utf16ToUtf8Strict(std::u16string(u"x") + char16_t(0xD800), "data[0].name"); }),
            "data[0].name: unpaired UTF-16 surrogate at unit 1: not representable as UTF-8");
  EXPECT_THROW(kx9tool::Utf16ToUtf8Strict(std::u16string(1, char16_t(0xDC00)) + u"x", "t"), CodecError);

  kx9tool::LabelSet set(1);
  set.Data()[0].dataType = KX9_DATATYPE_GVL;
  auto* v = new _STKX9LABELSTRUCTUREGVLDATA();
  v->systemLabel.localName = CString(std::u16string(1, char16_t(0xDBFF)));
  set.Data()[0].elements.Add(v);
  EXPECT_EQ(ErrorOf([&] { kx9tool::DataToJson(set.Data(), 1); }).rfind("data[0].elements[0].systemLabel.localName: ", 0),
            0u);

  const std::vector<BYTE> bytes = {0x00, 0x0F, 0xA5, 0xFF};
  EXPECT_EQ(kx9tool::BytesToHex(bytes), "000fa5ff");
  EXPECT_EQ(kx9tool::HexToBytes("000FA5ff", "x"), bytes);
}

}  // namespace
