#include "station/resource_listing.h"

#include <array>
#include <cstdio>
#include <string>

#include "driver/quor_codes.h"
#include "station/messages.h"
#include "visa/visa_loader.h"

namespace station {
namespace {

constexpr const char* kCheckTheModule =
    "check that the module is seated and that the VISA library's own tool reaches it";
constexpr const char* kCheckTheLibrary =
    "check the VISA library's configuration (its own tool lists the interfaces it sees)";

std::string hex(visa::ViAttrState value) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%03llX", static_cast<unsigned long long>(value));
  return text;
}

// One resource's line, or the failure that kept it from being read.
bool describe_resource(visa::VisaLibrary& library, visa::ViSession manager, const std::string& name,
                       bool simulated, std::ostream& out, std::ostream& err) {
  visa::ViSession session = 0;
  visa::ViStatus status = library.viOpen(manager, name.c_str(), 0, 0, &session);
  if (status < visa::VI_SUCCESS) {
    err << complaint(name + ": viOpen failed with " + visa::status_text(library, status),
                     kCheckTheModule);
    return false;
  }
  struct Attribute {
    visa::ViAttr attribute;
    const char* name;
    visa::ViAttrState value = 0;
  };
  std::array<Attribute, 4> attributes{{{visa::VI_ATTR_MANF_ID, "VI_ATTR_MANF_ID"},
                                       {visa::VI_ATTR_MODEL_CODE, "VI_ATTR_MODEL_CODE"},
                                       {visa::VI_ATTR_VXI_LA, "VI_ATTR_VXI_LA"},
                                       {visa::VI_ATTR_SLOT, "VI_ATTR_SLOT"}}};
  bool read = true;
  for (Attribute& attribute : attributes) {
    status = library.viGetAttribute(session, attribute.attribute, &attribute.value);
    if (status < visa::VI_SUCCESS) {
      err << complaint(name + ": reading " + attribute.name + " failed with " +
                           visa::status_text(library, status),
                       kCheckTheModule);
      read = false;
      break;
    }
  }
  library.viClose(session);
  if (!read) return false;
  const bool quor = attributes[0].value == driver::kQuorManufacturerId &&
                    attributes[1].value == driver::kQuorModelCode;
  out << name << "  manufacturer " << hex(attributes[0].value) << "  model "
      << hex(attributes[1].value) << "  LA " << attributes[2].value << "  slot "
      << static_cast<std::int16_t>(attributes[3].value) << "  "
      << (quor ? "Quor Bus module" : "not a Quor Bus module") << (simulated ? "  (simulated)" : "")
      << "\n";
  return true;
}

}  // namespace

int list_resources(visa::VisaLibrary& library, bool simulated, std::ostream& out,
                   std::ostream& err) {
  visa::ViSession manager = 0;
  visa::ViStatus status = library.viOpenDefaultRM(&manager);
  if (status < visa::VI_SUCCESS) {
    err << complaint("viOpenDefaultRM failed with " + visa::status_text(library, status),
                     kCheckTheLibrary);
    return 1;
  }
  std::array<visa::ViChar, visa::VI_FIND_BUFLEN + 1> name{};
  visa::ViFindList list = 0;
  visa::ViUInt32 count = 0;
  status = library.viFindRsrc(manager, driver::kQuorSearchExpression, &list, &count, name.data());
  if (status < visa::VI_SUCCESS) {
    err << complaint(std::string("the search for ") + driver::kQuorSearchExpression +
                         " failed with " + visa::status_text(library, status),
                     kCheckTheLibrary);
    library.viClose(manager);
    return 1;
  }
  if (simulated && count > 0) {
    out << report_line(
        "the modules below are on the simulated chassis, no real module: name a vendor VISA "
        "library with --visa to list the real ones");
  }
  bool all_read = true;
  for (visa::ViUInt32 i = 0; i < count; ++i) {
    name.back() = '\0';
    all_read = describe_resource(library, manager, name.data(), simulated, out, err) && all_read;
    if (i + 1 < count) {
      status = library.viFindNext(list, name.data());
      if (status < visa::VI_SUCCESS) {
        err << complaint("viFindNext failed with " + visa::status_text(library, status),
                         kCheckTheLibrary);
        all_read = false;
        break;
      }
    }
  }
  library.viClose(manager);
  return all_read ? 0 : 1;
}

}  // namespace station
