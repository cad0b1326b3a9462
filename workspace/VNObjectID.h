// File: VNObjectID.h
//
// STOBJECTID: the identifier of one object of the workspace database, passed
// by value. Twelve 32-bit words: a 64-bit key (low word first) followed by
// ten words that the component only copies and compares.
#pragma once

#include "platform/kx9platform.h"

struct STOBJECTID {
  DWORD dwWord[12];

  // The 64-bit key: word 0 is the low half, word 1 the high half.
  ULONGLONG Key() const { return (static_cast<ULONGLONG>(dwWord[1]) << 32) | dwWord[0]; }
  bool IsNull() const {
    for (DWORD w : dwWord)
      if (w != 0) return false;
    return true;
  }
  static STOBJECTID Null() { return STOBJECTID{}; }
};

inline bool operator==(const STOBJECTID& a, const STOBJECTID& b) {
  return std::memcmp(a.dwWord, b.dwWord, sizeof(a.dwWord)) == 0;
}
inline bool operator!=(const STOBJECTID& a, const STOBJECTID& b) { return !(a == b); }

// Hash of all twelve words, for maps keyed by object ID.
struct STOBJECTIDHash {
  std::size_t operator()(const STOBJECTID& id) const noexcept {
    ULONGLONG h = 1469598103934665603ULL;
    for (DWORD w : id.dwWord) {
      h ^= w;
      h *= 1099511628211ULL;
    }
    return static_cast<std::size_t>(h ^ (h >> 29));
  }
};

static_assert(sizeof(STOBJECTID) == 48, "STOBJECTID is twelve 32-bit words");
