// File: FaultTable.cc
//
// Failure injection and call counting of the reference database.
#include <stdexcept>
#include <unordered_map>

#include "refdb/RefDatabase.h"
#include "refdb/RefOperations.h"

namespace refdb {
namespace {

const std::vector<std::string>& Names() {
  static const std::vector<std::string> kNames = {
#define REFDB_OP_NAME(itf, op) #itf "." #op,
      REFDB_OPERATIONS(REFDB_OP_NAME)
#undef REFDB_OP_NAME
  };
  return kNames;
}

const std::unordered_map<std::string, int>& Index() {
  static const std::unordered_map<std::string, int> kIndex = [] {
    std::unordered_map<std::string, int> index;
    const auto& names = Names();
    for (std::size_t i = 0; i < names.size(); ++i) index.emplace(names[i], static_cast<int>(i));
    return index;
  }();
  return kIndex;
}

}  // namespace

FaultTable::FaultTable()
    : m_armed(static_cast<std::size_t>(kOperationCount)), m_calls(static_cast<std::size_t>(kOperationCount), 0) {}

std::vector<std::string> FaultTable::OperationNames() { return Names(); }

int FaultTable::OperationIndex(const std::string& op) {
  auto it = Index().find(op);
  return it == Index().end() ? -1 : it->second;
}

int FaultTable::Require(const std::string& op) {
  int i = OperationIndex(op);
  if (i < 0) throw std::invalid_argument("refdb: no database operation named \"" + op + "\"");
  return i;
}

void FaultTable::Set(const std::string& op, const Fault& fault) {
  Armed& a = m_armed[static_cast<std::size_t>(Require(op))];
  if (a.active) --m_armedCount;
  a.fault = fault;
  a.seen = 0;
  a.active = fault.times != 0;
  if (a.active) ++m_armedCount;
}

void FaultTable::Clear(const std::string& op) {
  Armed& a = m_armed[static_cast<std::size_t>(Require(op))];
  if (a.active) --m_armedCount;
  a = Armed{};
}

void FaultTable::ClearAll() {
  for (Armed& a : m_armed) a = Armed{};
  m_armedCount = 0;
}

long FaultTable::Calls(const std::string& op) const { return m_calls[static_cast<std::size_t>(Require(op))]; }

long FaultTable::TotalCalls() const { return m_total; }

void FaultTable::ResetCounts() {
  for (long& c : m_calls) c = 0;
  m_total = 0;
}

bool FaultTable::Hit(const char* op, HRESULT* status, LONG* detail) {
  return Hit(Require(op ? op : ""), status, detail);
}

bool FaultTable::Fire(int op, HRESULT* status, LONG* detail) {
  Armed& a = m_armed[static_cast<std::size_t>(op)];
  if (!a.active) return false;
  ++a.seen;
  const long first = a.fault.nth < 1 ? 1 : a.fault.nth;
  if (a.seen < first) return false;
  if (a.fault.times >= 0 && a.seen >= first + a.fault.times - 1) {
    // This is the last failing call: later calls take the fast path again.
    a.active = false;
    --m_armedCount;
  }
  *status = a.fault.status;
  if (detail) *detail = a.fault.detail;
  return true;
}

}  // namespace refdb
