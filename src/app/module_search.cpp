#include "app/module_search.h"

#include <array>

#include "driver/quor_codes.h"
#include "visa/visa_loader.h"

namespace app {
namespace {

// Reads one resource's identification; appends it when it is a Quor Bus module.
void read_resource(visa::VisaLibrary& library, visa::ViSession manager, const std::string& name,
                   ModuleSearch& search) {
  visa::ViSession session = 0;
  visa::ViStatus status = library.viOpen(manager, name.c_str(), 0, 0, &session);
  if (status < visa::VI_SUCCESS) {
    search.error = name + ": viOpen failed with " + visa::status_text(library, status);
    return;
  }
  const std::array<visa::ViAttr, 4> attributes{visa::VI_ATTR_MANF_ID, visa::VI_ATTR_MODEL_CODE,
                                               visa::VI_ATTR_VXI_LA, visa::VI_ATTR_SLOT};
  std::array<visa::ViAttrState, 4> values{};
  for (std::size_t i = 0; i < attributes.size(); ++i) {
    status = library.viGetAttribute(session, attributes[i], &values[i]);
    if (status < visa::VI_SUCCESS) {
      search.error =
          name + ": reading its identification failed with " + visa::status_text(library, status);
      library.viClose(session);
      return;
    }
  }
  library.viClose(session);
  if (values[0] == driver::kQuorManufacturerId && values[1] == driver::kQuorModelCode) {
    search.modules.push_back({name, static_cast<int>(values[2]),
                              static_cast<int>(static_cast<std::int16_t>(values[3]))});
  }
}

}  // namespace

ModuleSearch find_quor_modules(visa::VisaLibrary& library) {
  ModuleSearch search;
  visa::ViSession manager = 0;
  visa::ViStatus status = library.viOpenDefaultRM(&manager);
  if (status < visa::VI_SUCCESS) {
    search.error = "viOpenDefaultRM failed with " + visa::status_text(library, status);
    return search;
  }
  std::array<visa::ViChar, visa::VI_FIND_BUFLEN + 1> name{};
  visa::ViFindList list = 0;
  visa::ViUInt32 count = 0;
  status = library.viFindRsrc(manager, driver::kQuorSearchExpression, &list, &count, name.data());
  if (status < visa::VI_SUCCESS) {
    // No resource at all is a search that found nothing.
    if (status != visa::VI_ERROR_RSRC_NFOUND) {
      search.error =
          std::string("The search for modules failed with ") + visa::status_text(library, status);
    }
    library.viClose(manager);
    return search;
  }
  for (visa::ViUInt32 i = 0; i < count; ++i) {
    name.back() = '\0';
    read_resource(library, manager, name.data(), search);
    if (i + 1 < count && library.viFindNext(list, name.data()) < visa::VI_SUCCESS) break;
  }
  library.viClose(manager);
  return search;
}

}  // namespace app
