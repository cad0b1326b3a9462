// File: ResultCodes.cc
//
// What the component's result codes mean, for hosts that show them to a user.
#include "component/KX9ComFuncLabelStructure.h"

const char* KX9ResultMeaning(ULONG code) {
  switch (code) {
    case KX9_OK:
      return "success, or nothing to do";
    case KX9_ERR_ALLOC:
      return "allocation failed; image not written or parsed; X-series block size check";
    case KX9_ERR_DB:
      return "a database operation failed, or an interface is missing";
    case KX9_ERR_TYPE:
      return "a type code not expected there";
    case KX9_ERR_ARG:
      return "a bad argument: missing output, null buffer or ID, size <= 0";
    case KX9_ERR_NO_WORKSPACE:
      return "the component has no workspace database";
    case KX9_ERR_NO_INTERFACE:
      return "the element lacks the interface carrying the field";
    case KX9_ERR_EMPTY_IMAGE:
      return "the image to import holds no GVL and no SDT";
    case KX9_ERR_NO_STRUCT:
      return "no structured data type of that name";
    case KX9_ERR_NOT_INIT:
      return "the project object ID is null";
    case KX9_ERR_NO_ELEMENT:
      return "a variable's element object could not be obtained";
    default:
      return "not a code of the component: a detail code passed up from the database";
  }
}
