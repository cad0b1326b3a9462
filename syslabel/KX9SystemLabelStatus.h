// File: KX9SystemLabelStatus.h
//
// Internal to the component: the statuses of the system labels that the
// host must learn about when their variables are read for deletion or
// collection, on the classic path and on the high-capacity rows alike.
#pragma once

#include "platform/kx9platform.h"

inline bool KX9IsCollectedSystemLabelStatus(LONG lStatus) {
  switch (lStatus) {
    case 2:
    case 3:
    case 5:
    case 6:
    case 8:
    case 10:
    case 11:
    case 13:
    case 14:
      return true;
    default:
      return false;
  }
}
