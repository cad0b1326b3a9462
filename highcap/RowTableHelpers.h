// File: RowTableHelpers.h
//
// Internal helpers shared by the high-capacity readers: row counts and
// row-ID lists of a row table (either row interface).
#pragma once

#include <algorithm>

#include "component/KX9ComFuncLabelStructure.h"

namespace kx9_highcap {

// Rows cross the database boundary at most this many per call.
constexpr LONG kRowBatchSize = 1000;
// Constant arguments the database expects with GetRowIDs; passed unchanged.
constexpr LONG kRowIDsArg1 = 1;
constexpr LONG kRowIDsArg2 = 2;
constexpr LONG kRowIDsArg3 = 1;
constexpr LONG kRowIDsArg5 = 0;

// The number of rows of a row table; a negative count reads as none.
template <class TTable>
ULONG CountRows(TTable* pTable, LONG& lCount) {
  LONG lDetail = 0;
  LONG lRows = 0;
  if (pTable->GetRowCount(&lRows, &lDetail) < 0) return KX9_ERR_DB;
  lCount = std::max<LONG>(lRows, 0);
  return KX9_OK;
}

// Fills `pIDs` with the table's lCount row IDs in row order. The count
// output is not used: the rows are the ones GetRowCount announced.
template <class TTable>
ULONG FetchRowIDs(TTable* pTable, LONG* pIDs, LONG lCount) {
  LONG lDetail = 0;
  LONG lReturned = 0;
  if (pTable->GetRowIDs(kRowIDsArg1, kRowIDsArg2, kRowIDsArg3, lCount, kRowIDsArg5, pIDs, &lReturned, &lDetail) < 0)
    return KX9_ERR_DB;
  return KX9_OK;
}

}  // namespace kx9_highcap
