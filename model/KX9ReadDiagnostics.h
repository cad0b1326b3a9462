// File: KX9ReadDiagnostics.h
//
// What a reader of the label image, its lines or the text file skipped or
// could not account for. The readers work exactly as without it; a caller
// that wants to know what its input lost passes one.
//
// Example:
//   struct Print : KX9ReadDiagnostics {
//     void Report(LONGLONG offset, LONG line, const char* what) override {
//       std::printf("byte %lld, line %d: %s\n", offset, line, what);
//     }
//   } print;
//   labels.ReadBinaryData(image, length, records, &print);
#pragma once

#include "platform/kx9platform.h"

class KX9ReadDiagnostics {
 public:
  virtual ~KX9ReadDiagnostics() = default;
  // Report
  //
  // One finding: `offset` is the byte of the input it concerns, `line` the
  // input's line there (from 1; empty lines count), `what` says what was
  // skipped or is missing.
  virtual void Report(LONGLONG offset, LONG line, const char* what) = 0;
};
