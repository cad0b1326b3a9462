// The JSON form of label records: every field both ways, construction values
// for missing keys, and refusals that name the offending field.
#include "tools/LabelCodec.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sstream>

namespace {

using kx9tool::CodecError;
using kx9tool::Json;
using ::testing::HasSubstr;
using ::testing::StartsWith;
using ::testing::ThrowsMessage;

// Every field of each record kind away from its construction value, in the
// order the codec writes them; text outside the BMP and up to U+10FFFF.
const char* kFull = R"({"count": 2, "data": [
  {"dataType": 18, "name": "Typ\u00e9", "elements": [{"lineNo": 4000000000, "name": "member",
    "comments": ["ca", "cb", "cc", "cd", "ce", "cf", "cg", "ch", "ci", "cj", "ck", "cl", "cm", "cn", "co", "cp"],
    "reservedText": "R", "dataTypeName": "DINT", "initData": "-7"}]},
  {"dataType": 14, "name": "List", "elements": [{"lineNo": 3, "name": "\u901f\u5ea6",
    "comments": ["a,b\\c\r\nd \ud83d\ude00\uffff\udbff\udfff", "", "", "", "", "", "", "", "", "", "", "", "", "", "", "l"],
    "reservedText": "", "classKeyword": -2, "structType": 2, "dataTypeName": "Axis", "initData": "init",
    "devices": [{"device": "D0", "deviceExtra": "U1"}, {"device": "", "deviceExtra": "x"}], "remark": "remark",
    "systemLabel": {"ID": -1, "name": "sys", "programName": "prog", "CPUID": 5, "attribute": 65535, "status": 14,
      "projectID": 2147483647, "listID": -2147483648, "comment": "sc", "remark": "sr", "dataType": 9,
      "dataSize": 65535, "localName": "loc"},
    "exAccess": "1", "arraySizes": [{"value1": -3, "value2": 9223372036854775807},
                                    {"value1": 0, "value2": -9223372036854775808}],
    "dynamicAttr1": "d1", "dynamicAttr2": "12", "dynamicAttr3": 77, "dynamicAttr4": "d4", "dynamicAttr5": "-5"}]}],
  "genericData": "000fa5ff"})";

Json Compact(const Json& document) {
  kx9tool::LabelDocument doc = kx9tool::DocumentFromJson(document);
  return kx9tool::DocumentToJson(doc.data.Data(), doc.data.Count(), doc.genericData, false);
}

// JSON -> records puts each key into its own field as exact UTF-16, and
// records -> JSON gives the same document back, key order included, also
// through the compact form.
TEST(LabelCodecTest, EveryFieldRoundTripsThroughRecords) {
  const Json in = Json::parse(kFull);
  kx9tool::LabelDocument doc = kx9tool::DocumentFromJson(in);
  ASSERT_EQ(doc.data.Count(), 2);
  const auto* v = static_cast<const _STKX9LABELSTRUCTUREGVLDATA*>(doc.data.Data()[1].elements[0]);
  EXPECT_EQ(doc.data.Data()[0].elements[0]->comments[15], u"cp");
  EXPECT_EQ(v->name, u"\u901f\u5ea6");
  EXPECT_EQ(v->comments[0], u"a,b\\c\r\nd \U0001F600\uFFFF\U0010FFFF");
  EXPECT_EQ(v->systemLabel.comment, u"sc");
  EXPECT_EQ(v->arraySizes[0].value2, INT64_MAX);
  EXPECT_EQ(doc.genericData, (std::vector<BYTE>{0x00, 0x0F, 0xA5, 0xFF}));
  EXPECT_EQ(kx9tool::DocumentToJson(doc.data.Data(), doc.data.Count(), doc.genericData), in);
  kx9tool::LabelDocument back = kx9tool::DocumentFromJson(Compact(in));
  EXPECT_EQ(kx9tool::DocumentToJson(back.data.Data(), back.data.Count(), back.genericData), in);
  EXPECT_EQ(kx9tool::HexToBytes("00FFa5", "x"), (std::vector<BYTE>{0x00, 0xFF, 0xA5}));  // either case reads
}

// The streamed text is the tree's dump, byte for byte, in both forms:
// with and without data, a list whose only element is null, extra keys.
TEST(LabelCodecTest, StreamedDocumentIsTheDumpOfItsTree) {
  kx9tool::LabelDocument doc = kx9tool::DocumentFromJson(Json::parse(kFull));
  auto* list = &doc.data.Data()[1];
  list->elements[0]->comments[1] = u"q\"t\tx\u0001\u001f\u007f\b\f/";  // every escape the dump makes
  list->elements.Add(nullptr);                                         // skipped by both
  kx9tool::LabelDocument empty;
  kx9tool::LabelDocument bare = kx9tool::DocumentFromJson(Json::parse(R"({"data": [{"dataType": 14, "name": "L"}]})"));
  const std::vector<std::pair<std::string, std::string>> extra{{"serviceBlock", "04000000"}, {"settings", "5a"}};
  for (kx9tool::LabelDocument* d : {&doc, &empty, &bare}) {
    for (bool full : {true, false}) {
      for (const auto& more : {std::vector<std::pair<std::string, std::string>>{}, extra}) {
        Json tree = kx9tool::DocumentToJson(d->data.Data(), d->data.Count(), d->genericData, full);
        for (const auto& [key, value] : more) tree[key] = value;
        std::ostringstream text;
        kx9tool::WriteDocumentJson(text, d->data.Data(), d->data.Count(), d->genericData, full, more);
        EXPECT_EQ(text.str(), tree.dump(2) + "\n") << "full " << full << ", " << more.size() << " extra";
      }
    }
  }
}

// Keys left out take the records' construction values, which the compact
// form leaves out: a document of nothing else comes back as it is ("count"
// is ignored). Positional entries stay, as {} when nothing else is left.
TEST(LabelCodecTest, CompactFormLeavesOutConstructionValues) {
  const Json compact = Json::parse(R"({"data": [{"dataType": 14, "name": "G", "elements": [{"name": "v"},
    {"name": "w", "comments": ["", "c"], "reservedText": "", "devices": [{}, {"deviceExtra": "U"}],
     "systemLabel": {"status": 1}, "exAccess": "", "arraySizes": [{}, {"value2": -1}]}]},
    {"dataType": 18, "name": "S", "elements": [{"name": "m", "reservedText": "1", "initData": "0"}]}]})");
  EXPECT_EQ(Compact(compact), compact);
  Json counted = compact;
  counted["count"] = 9;
  EXPECT_EQ(Compact(counted), compact);
  EXPECT_EQ(Compact(Json::parse(R"({"genericData": ""})")), Json::object());
}

// Bad documents are refused with the place and the reason; so are texts
// without an exact UTF-8 or UTF-16 form.
TEST(LabelCodecTest, BadInputIsRefusedWithItsPlace) {
  auto gvl = [](const std::string& element) {
    return R"({"data": [{"dataType": 14, "name": "G", "elements": [)" + element + "]}]}";
  };
  const std::pair<std::string, std::string> bad[] = {
      {gvl(R"({"lineNo": -1})"), "data[0].elements[0].lineNo: number -1 out of range"},
      {gvl(R"({"lineNo": "1"})"), "data[0].elements[0].lineNo: expected an integer"},
      {gvl(R"({"name": "v", "systemLabel": {"attribute": 65536}})"),
       "data[0].elements[0].systemLabel.attribute: number 65536 out of range"},
      {gvl(R"({"name": 5})"), "data[0].elements[0].name: expected a string"},
      {gvl(R"({"nmae": "x"})"), "data[0].elements[0]: unknown field \"nmae\""},
      {gvl(R"({"name": "v", "comments": )" + Json(std::vector<std::string>(17)).dump() + "}"),
       "data[0].elements[0].comments: at most 16 comments"},
      {R"({"data": [{"dataType": 18, "name": "S", "elements": [{"devices": []}]}]})",
       "data[0].elements[0]: unknown field \"devices\""},
      {gvl(R"({"lineNo": 1})"), "data[0].elements[0].name: empty: every element needs a name"},
      {R"({"data": [{"dataType": 18}]})", "data[0].name: empty: every datum needs a name"},
      {R"({"data": [{"dataType": 14, "name": "G"}, {"dataType": 5}]})",
       "data[1].dataType: 5 is neither 14 (GVL) nor 18 (SDT)"},
      {R"({"data": [{"name": "G"}]})", "data[0]: no dataType (14 for a GVL, 18 for an SDT)"},
      {R"({"data": {}})", "data: expected an array"},
      {R"({"genericData": "abc"})", "genericData: hex text of odd length 3"},
      {R"({"genericData": "0g"})", "genericData: not a hex digit at position 1"},
      {R"({"genericdata": ""})", "unknown field \"genericdata\""},
  };
  for (const auto& [text, message] : bad)
    EXPECT_THAT([&] { kx9tool::DocumentFromJson(Json::parse(text)); }, ThrowsMessage<CodecError>(message)) << text;
  // Invalid UTF-8 can only come from a JSON built in memory: the parser
  // refuses it in files.
  for (const char* text : {"\xC0\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80", "ab\xE9", "\x80"}) {
    const Json d = Json::array({Json{{"dataType", 14}, {"name", std::string(text)}}});
    EXPECT_THAT([&] { kx9tool::DataFromJson(d); },
                ThrowsMessage<CodecError>(testing::AllOf(StartsWith("data[0].name: "), HasSubstr("UTF-8"))));
  }
  kx9tool::LabelSet set(1);
  set.Data()[0].dataType = KX9_DATATYPE_GVL;
  auto* v = new _STKX9LABELSTRUCTUREGVLDATA();
  v->systemLabel.localName = CString(std::u16string(u"x") + char16_t(0xDC00));
  set.Data()[0].elements.Add(v);
  EXPECT_THAT([&] { kx9tool::DataToJson(set.Data(), 1); },
              ThrowsMessage<CodecError>("data[0].elements[0].systemLabel.localName: unpaired UTF-16 surrogate at "
                                        "unit 1: not representable as UTF-8"));
  set.Data()[0].name = CString(std::u16string(1, char16_t(0xD800)) + u"x");
  EXPECT_THAT([&] { kx9tool::DataToJson(set.Data(), 1); },
              ThrowsMessage<CodecError>(StartsWith("data[0].name: unpaired")));
}

}  // namespace
