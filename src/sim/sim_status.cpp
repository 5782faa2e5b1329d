#include "sim/sim_status.h"

namespace sim {
namespace {

struct StatusText {
  visa::ViStatus status;
  const char* text;
};

constexpr StatusText kTexts[] = {
    {visa::VI_SUCCESS, "VI_SUCCESS: Operation completed successfully."},
    {visa::VI_SUCCESS_TERM_CHAR,
     "VI_SUCCESS_TERM_CHAR: The specified termination character was read."},
    {visa::VI_SUCCESS_MAX_CNT,
     "VI_SUCCESS_MAX_CNT: The number of bytes read is equal to the input count."},
    {visa::VI_ERROR_SYSTEM_ERROR, "VI_ERROR_SYSTEM_ERROR: Unknown system error."},
    {visa::VI_ERROR_INV_OBJECT,
     "VI_ERROR_INV_OBJECT: The given session or object reference is invalid."},
    {visa::VI_ERROR_INV_EXPR, "VI_ERROR_INV_EXPR: Invalid expression specified for search."},
    {visa::VI_ERROR_RSRC_NFOUND,
     "VI_ERROR_RSRC_NFOUND: Insufficient location information or the requested device or "
     "resource is not present in the system."},
    {visa::VI_ERROR_INV_RSRC_NAME, "VI_ERROR_INV_RSRC_NAME: Invalid resource reference specified."},
    {visa::VI_ERROR_TMO, "VI_ERROR_TMO: Timeout expired before operation completed."},
    {visa::VI_ERROR_NSUP_ATTR,
     "VI_ERROR_NSUP_ATTR: The specified attribute is not defined or supported by the "
     "referenced session, event, or find list."},
    {visa::VI_ERROR_NSUP_ATTR_STATE,
     "VI_ERROR_NSUP_ATTR_STATE: The specified state of the attribute is not valid, or is not "
     "supported as defined by the session, event, or find list."},
    {kErrorAttrReadonly, "VI_ERROR_ATTR_READONLY: The specified attribute is read-only."},
    {visa::VI_ERROR_BERR, "VI_ERROR_BERR: Bus error occurred during transfer."},
    {visa::VI_ERROR_INV_SPACE, "VI_ERROR_INV_SPACE: Invalid address space specified."},
    {visa::VI_ERROR_INV_OFFSET, "VI_ERROR_INV_OFFSET: Invalid offset specified."},
    {kErrorRsrcBusy,
     "VI_ERROR_RSRC_BUSY: The resource is valid, but VISA cannot currently access it."},
    {kErrorUserBuf,
     "VI_ERROR_USER_BUF: A specified user buffer is not valid or cannot be accessed."},
};

}  // namespace

const char* status_text(visa::ViStatus status) {
  for (const StatusText& entry : kTexts) {
    if (entry.status == status) return entry.text;
  }
  return "Unknown status";
}

}  // namespace sim
