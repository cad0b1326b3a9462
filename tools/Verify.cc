// File: Verify.cc
//
// Read-back comparison of the tool's outputs.
#include "tools/Verify.h"

#include <algorithm>
#include <optional>

namespace kx9tool {

void Findings::Add(std::string finding) {
  if (m_shown.size() < kShown)
    m_shown.push_back(std::move(finding));
  else
    ++m_more;
}

namespace {

std::string Show(const Json& value) { return value.dump(); }

// Compares what was given with what came back. The reason a text changed is
// the code page when a round trip through that code page alone changes it
// (the text went through none on UTF-16 outputs); otherwise it is what the
// reader gave back.
class Comparison {
 public:
  Comparison(std::optional<UINT> codePage, Findings& out) : m_codePage(codePage), m_out(out) {}

  void Value(const std::string& path, const Json& given, const Json& back) {
    if (given == back) return;
    if (given.is_object() && back.is_object()) {
      for (auto it = given.begin(); it != given.end(); ++it) {
        const std::string at = path.empty() ? it.key() : path + "." + it.key();
        auto found = back.find(it.key());
        if (found == back.end())
          m_out.Add(at + ": " + Show(*it) + " does not come back");
        else
          Value(at, *it, *found);
      }
      return;
    }
    if (given.is_array() && back.is_array()) {
      Count(path, given.size(), back.size());
      for (std::size_t i = 0; i < std::min(given.size(), back.size()); ++i)
        Value(path + "[" + std::to_string(i) + "]", given[i], back[i]);
      return;
    }
    if (given.is_string() && m_codePage) {
      const std::u16string text = Utf8ToUtf16Strict(given.get_ref<const std::string&>(), path);
      std::string bytes;
      AppendWideToAnsi(text.data(), text.size(), bytes);
      std::u16string again;
      AppendAnsiToWide(reinterpret_cast<const BYTE*>(bytes.data()), bytes.size(), again);
      if (again != text) {
        m_out.Add(path + ": " + Show(given) + " cannot be written in code page " + std::to_string(*m_codePage) +
                  ", becomes " + Show(Utf16ToUtf8Strict(again, path)));
        return;
      }
    }
    m_out.Add(path + ": " + Show(given) + " comes back as " + Show(back));
  }

  // Data and elements one at a time, so that no whole document is held as JSON.
  void Records(const LabelSet& given, const LabelSet& back) {
    Count("data", static_cast<std::size_t>(given.Count()), static_cast<std::size_t>(back.Count()));
    for (LONG i = 0; i < std::min(given.Count(), back.Count()); ++i) {
      const _STKX9LABELSTRUCTURE& g = given.Data()[i];
      const _STKX9LABELSTRUCTURE& b = back.Data()[i];
      const std::string where = "data[" + std::to_string(i) + "]";
      Value(where, Header(g, where), Header(b, where));
      const int n = std::min(g.elements.GetSize(), b.elements.GetSize());
      Count(where + ".elements", static_cast<std::size_t>(g.elements.GetSize()),
            static_cast<std::size_t>(b.elements.GetSize()));
      for (int k = 0; k < n; ++k) {
        const std::string at = where + ".elements[" + std::to_string(k) + "]";
        Value(at, Element(g.dataType, g.elements[k], at), Element(b.dataType, b.elements[k], at));
      }
    }
  }

 private:
  void Count(const std::string& path, std::size_t given, std::size_t back) {
    if (given != back) m_out.Add(path + ": " + std::to_string(given) + " given, " + std::to_string(back) + " come back");
  }
  static Json Header(const _STKX9LABELSTRUCTURE& d, const std::string& where) {
    return Json{{"dataType", d.dataType}, {"name", Utf16ToUtf8Strict(d.name.View(), where + ".name")}};
  }
  static Json Element(LONG dataType, const _STKX9LABELSTRUCTUREBASEDATA* e, const std::string& where) {
    return e ? ElementToJson(dataType, *e, where) : Json();
  }

  std::optional<UINT> m_codePage;
  Findings& m_out;
};

// Compares what `read` reads from the output with the document. `read`
// may add document-level fields beside the data, as given and as read, to
// the two objects it gets.
template <class Read>
Findings Verify(const Json& document, std::optional<UINT> codePage, Read read) {
  Findings findings;
  Comparison compare(codePage, findings);
  const LabelDocument given = DocumentFromJson(document);
  try {
    Json fields = Json::object();
    Json backFields = Json::object();
    const DecodedImage back = read(fields, backFields);
    compare.Records(given.data, back.data);
    fields["genericData"] = BytesToHex(given.genericData);
    backFields["genericData"] = BytesToHex(back.genericData);
    compare.Value("", fields, backFields);
  } catch (const ToolError& e) {
    findings.Add(std::string("cannot be read back: ") + e.what());
  } catch (const CodecError& e) {
    findings.Add(std::string(e.what()) + " (in what comes back)");
  }
  return findings;
}

}  // namespace

Findings VerifyImage(const Json& document, const std::vector<BYTE>& bytes, bool envelope,
                     const ImageSettings& settings) {
  const std::optional<UINT> codePage =
      settings.series == 0 ? std::optional<UINT>(GetThreadAnsiCodePage()) : std::nullopt;
  return Verify(document, codePage, [&](Json& fields, Json& backFields) {
    if (!envelope) return DecodeImage(bytes.data(), bytes.size(), settings);
    DecodedEnvelope back = DecodeEnvelope(bytes, settings);
    // Without a block in the document the envelope holds a substitute.
    if (const auto block = ServiceBlockFromJson(document)) {
      fields["serviceBlock"] = BytesToHex(*block);
      backFields["serviceBlock"] = BytesToHex(back.serviceBlock);
    }
    fields["settings"] = BytesToHex(SettingsFromJson(document));
    if (back.settingsRecord) backFields["settings"] = BytesToHex(*back.settingsRecord);
    return std::move(back.image);
  });
}

Findings VerifyText(const Json& document, const std::string& path) {
  return Verify(document, GetThreadAnsiCodePage(), [&](Json&, Json&) { return ReadText(path); });
}

}  // namespace kx9tool
