// File: Verify.h
//
// What the tool writes is read back through the component's readers and
// compared with the document it was made from, field by field in the JSON
// form. Each finding names a field's JSON path and what becomes of it.
#pragma once

#include <string>
#include <vector>

#include "tools/LabelTool.h"

namespace kx9tool {

// Problems found in or about a file, for the user: the first kShown are
// kept, the others only counted.
class Findings {
 public:
  static constexpr std::size_t kShown = 100;
  void Add(std::string finding);
  bool Empty() const { return Count() == 0; }
  std::size_t Count() const { return m_shown.size() + m_more; }
  const std::vector<std::string>& Shown() const { return m_shown; }

 private:
  std::vector<std::string> m_shown;
  std::size_t m_more = 0;
};

// Reads `bytes`, the export envelope (or with `envelope` false the label
// image) made from `document` with `settings`, back as decode reads it, and
// reports every field of the document that does not come back as given.
Findings VerifyImage(const Json& document, const std::vector<BYTE>& bytes, bool envelope,
                     const ImageSettings& settings);
// Likewise for the text file at `path` made from `document`.
Findings VerifyText(const Json& document, const std::string& path);

}  // namespace kx9tool
