#include "visa/visa_loader.h"

#include <array>
#include <cctype>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <type_traits>
#include <utility>

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace visa {
namespace {

// C signatures of the library functions, with the platform's VISA calling convention.
extern "C" {
using FnOpenDefaultRM = ViStatus(QUOR_VISA_CALL*)(ViSession*);
using FnFindRsrc = ViStatus(QUOR_VISA_CALL*)(ViSession, const char*, ViFindList*, ViUInt32*,
                                             ViChar*);
using FnFindNext = ViStatus(QUOR_VISA_CALL*)(ViFindList, ViChar*);
using FnOpen = ViStatus(QUOR_VISA_CALL*)(ViSession, const char*, ViUInt32, ViUInt32, ViSession*);
using FnClose = ViStatus(QUOR_VISA_CALL*)(ViObject);
using FnGetAttribute = ViStatus(QUOR_VISA_CALL*)(ViObject, ViAttr, void*);
using FnSetAttribute = ViStatus(QUOR_VISA_CALL*)(ViObject, ViAttr, ViAttrState);
using FnWrite = ViStatus(QUOR_VISA_CALL*)(ViSession, unsigned char*, ViUInt32, ViUInt32*);
using FnRead = ViStatus(QUOR_VISA_CALL*)(ViSession, unsigned char*, ViUInt32, ViUInt32*);
using FnStatusDesc = ViStatus(QUOR_VISA_CALL*)(ViObject, ViStatus, ViChar*);
using FnIn16 = ViStatus(QUOR_VISA_CALL*)(ViSession, ViUInt16, ViBusAddress, ViUInt16*);
using FnOut16 = ViStatus(QUOR_VISA_CALL*)(ViSession, ViUInt16, ViBusAddress, ViUInt16);
using FnMove16 = ViStatus(QUOR_VISA_CALL*)(ViSession, ViUInt16, ViBusAddress, ViBusSize, ViUInt16*);
}

// Owns the loaded module handle.
class ModuleHandle {
 public:
  ModuleHandle() = default;
  explicit ModuleHandle(void* handle) : handle_(handle) {}
  ModuleHandle(const ModuleHandle&) = delete;
  ModuleHandle& operator=(const ModuleHandle&) = delete;
  ModuleHandle(ModuleHandle&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}
  ~ModuleHandle() {
    if (handle_ == nullptr) return;
#if defined(_WIN32)
    FreeLibrary(static_cast<HMODULE>(handle_));
#else
    dlclose(handle_);
#endif
  }
  void* get() const { return handle_; }

  void* symbol(const char* name) const {
#if defined(_WIN32)
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle_), name));
#else
    return dlsym(handle_, name);
#endif
  }

 private:
  void* handle_ = nullptr;
};

// Whether a file that did not load is there at all: a path that exists, or a bare name the
// loader found but could not load (a wrong architecture, a missing dependency).
bool is_installed(const std::string& file, const std::string& load_error) {
  if (file.find('/') != std::string::npos || file.find('\\') != std::string::npos) {
    std::error_code error;
    return std::filesystem::exists(file, error);
  }
#if defined(_WIN32)
  return load_error != "error 126";  // ERROR_MOD_NOT_FOUND
#else
  return load_error.find("No such file or directory") == std::string::npos;
#endif
}

std::string last_load_error() {
#if defined(_WIN32)
  return "error " + std::to_string(GetLastError());
#else
  const char* text = dlerror();
  return text != nullptr ? text : "unknown error";
#endif
}

ModuleHandle open_module(const std::string& file) {
#if defined(_WIN32)
  return ModuleHandle(reinterpret_cast<void*>(LoadLibraryA(file.c_str())));
#else
  return ModuleHandle(dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL));
#endif
}

class SystemVisaLibrary final : public VisaLibrary {
 public:
  explicit SystemVisaLibrary(ModuleHandle module) : module_(std::move(module)) {}

  // Resolves every function; returns the name of the first one missing, or empty.
  std::string resolve() {
    const auto bind = [this](auto& target, const char* name) {
      void* address = module_.symbol(name);
      if (address == nullptr) return false;
      target = reinterpret_cast<std::remove_reference_t<decltype(target)>>(address);
      return true;
    };
    const std::pair<bool, const char*> results[] = {
        {bind(open_default_rm_, "viOpenDefaultRM"), "viOpenDefaultRM"},
        {bind(find_rsrc_, "viFindRsrc"), "viFindRsrc"},
        {bind(find_next_, "viFindNext"), "viFindNext"},
        {bind(open_, "viOpen"), "viOpen"},
        {bind(close_, "viClose"), "viClose"},
        {bind(get_attribute_, "viGetAttribute"), "viGetAttribute"},
        {bind(set_attribute_, "viSetAttribute"), "viSetAttribute"},
        {bind(write_, "viWrite"), "viWrite"},
        {bind(read_, "viRead"), "viRead"},
        {bind(status_desc_, "viStatusDesc"), "viStatusDesc"},
        {bind(in16_, "viIn16"), "viIn16"},
        {bind(out16_, "viOut16"), "viOut16"},
        {bind(move_in16_, "viMoveIn16"), "viMoveIn16"},
        {bind(move_out16_, "viMoveOut16"), "viMoveOut16"},
    };
    for (const auto& [found, name] : results) {
      if (!found) return name;
    }
    return {};
  }

  bool has_symbol(const char* name) const { return module_.symbol(name) != nullptr; }

  ViStatus viOpenDefaultRM(ViSession* manager) override { return open_default_rm_(manager); }
  ViStatus viFindRsrc(ViSession manager, const char* expression, ViFindList* list, ViUInt32* count,
                      ViChar first_name[VI_FIND_BUFLEN]) override {
    return find_rsrc_(manager, expression, list, count, first_name);
  }
  ViStatus viFindNext(ViFindList list, ViChar next_name[VI_FIND_BUFLEN]) override {
    return find_next_(list, next_name);
  }
  ViStatus viOpen(ViSession manager, const char* resource, ViUInt32 access_mode,
                  ViUInt32 open_timeout, ViSession* session) override {
    return open_(manager, resource, access_mode, open_timeout, session);
  }
  ViStatus viClose(ViObject object) override { return close_(object); }

  ViStatus viGetAttribute(ViObject object, ViAttr attribute, ViAttrState* value) override {
    // The library writes the attribute's own width; read into a zeroed 64-bit buffer and
    // take exactly that many bytes, so stray high bytes never reach the caller.
    unsigned char buffer[8] = {};
    const ViStatus status = get_attribute_(object, attribute, buffer);
    switch (attribute_width(attribute)) {
      case 2: {
        ViUInt16 narrow = 0;
        std::memcpy(&narrow, buffer, sizeof narrow);
        *value = narrow;
        break;
      }
      case 4: {
        ViUInt32 narrow = 0;
        std::memcpy(&narrow, buffer, sizeof narrow);
        *value = narrow;
        break;
      }
      default: {
        ViAttrState wide = 0;
        std::memcpy(&wide, buffer, sizeof wide);
        *value = wide;
        break;
      }
    }
    return status;
  }
  ViStatus viSetAttribute(ViObject object, ViAttr attribute, ViAttrState value) override {
    return set_attribute_(object, attribute, value);
  }
  ViStatus viWrite(ViSession session, const unsigned char* buffer, ViUInt32 count,
                   ViUInt32* returned) override {
    // The C prototype of older VISA versions is not const-qualified; the library only reads.
    return write_(session, const_cast<unsigned char*>(buffer), count, returned);
  }
  ViStatus viRead(ViSession session, unsigned char* buffer, ViUInt32 count,
                  ViUInt32* returned) override {
    return read_(session, buffer, count, returned);
  }
  ViStatus viStatusDesc(ViObject object, ViStatus status,
                        ViChar description[VI_FIND_BUFLEN]) override {
    return status_desc_(object, status, description);
  }
  ViStatus viIn16(ViSession session, ViUInt16 space, ViBusAddress offset,
                  ViUInt16* value) override {
    return in16_(session, space, offset, value);
  }
  ViStatus viOut16(ViSession session, ViUInt16 space, ViBusAddress offset,
                   ViUInt16 value) override {
    return out16_(session, space, offset, value);
  }
  ViStatus viMoveIn16(ViSession session, ViUInt16 space, ViBusAddress offset, ViBusSize count,
                      ViUInt16* values) override {
    return move_in16_(session, space, offset, count, values);
  }
  ViStatus viMoveOut16(ViSession session, ViUInt16 space, ViBusAddress offset, ViBusSize count,
                       const ViUInt16* values) override {
    return move_out16_(session, space, offset, count, const_cast<ViUInt16*>(values));
  }

 private:
  ModuleHandle module_;
  FnOpenDefaultRM open_default_rm_ = nullptr;
  FnFindRsrc find_rsrc_ = nullptr;
  FnFindNext find_next_ = nullptr;
  FnOpen open_ = nullptr;
  FnClose close_ = nullptr;
  FnGetAttribute get_attribute_ = nullptr;
  FnSetAttribute set_attribute_ = nullptr;
  FnWrite write_ = nullptr;
  FnRead read_ = nullptr;
  FnStatusDesc status_desc_ = nullptr;
  FnIn16 in16_ = nullptr;
  FnOut16 out16_ = nullptr;
  FnMove16 move_in16_ = nullptr;
  FnMove16 move_out16_ = nullptr;
};

}  // namespace

LoadedLibrary load_visa_library(const std::string& file) {
  LoadedLibrary result;
  result.file = file;
  ModuleHandle module = open_module(file);
  if (module.get() == nullptr) {
    const std::string why = last_load_error();
    result.error = file + ": cannot be loaded (" + why + ")";
    result.installed = is_installed(file, why);
    return result;
  }
  result.installed = true;
  auto library = std::make_unique<SystemVisaLibrary>(std::move(module));
  const std::string missing = library->resolve();
  if (!missing.empty()) {
    result.error = file + ": refused, the library has no function " + missing;
    return result;
  }
  result.simulated = library->has_symbol(kSimulatedMarkerSymbol);
  result.library = std::move(library);
  return result;
}

std::string status_text(VisaLibrary& library, ViStatus status) {
  char hex[16] = {};
  const auto written = std::to_chars(hex, hex + sizeof hex, static_cast<std::uint32_t>(status), 16);
  std::string code(hex, written.ptr);
  for (char& c : code) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  std::string text = "status " + std::to_string(status) + " (0x" + code;
  std::array<ViChar, VI_FIND_BUFLEN> description{};
  if (library.viStatusDesc(0, status, description.data()) >= VI_SUCCESS) {
    description.back() = '\0';
    if (description[0] != '\0') text += std::string(": ") + description.data();
  }
  return text + ")";
}

std::vector<std::string> vendor_library_candidates() {
#if defined(_WIN32)
#if defined(_WIN64)
  return {"visa64.dll", "visa32.dll"};
#else
  return {"visa32.dll"};
#endif
#else
  std::vector<std::string> names{"libvisa.so"};
  // Versioned names (libvisa.so.21 and the like) in the usual library folders.
  const char* folders[] = {"/usr/lib",       "/usr/lib64",
                           "/usr/local/lib", "/usr/lib/x86_64-linux-gnu",
                           "/opt/lib64",     "/opt/lib"};
  for (const char* folder : folders) {
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
      const std::string name = entry.path().filename().string();
      if (name.rfind("libvisa.so.", 0) == 0) names.push_back(entry.path().string());
    }
  }
  names.emplace_back("librsvisa.so");
  names.emplace_back("libiovisa.so");
  return names;
#endif
}

LoadedLibrary find_vendor_library(const std::vector<std::string>& candidates,
                                  std::vector<RefusedLibrary>* tried) {
  for (const std::string& file : candidates) {
    LoadedLibrary loaded = load_visa_library(file);
    if (!loaded.library) {
      if (tried != nullptr) tried->push_back({file, loaded.error, loaded.installed});
      continue;
    }
    ViSession manager = 0;
    const ViStatus status = loaded.library->viOpenDefaultRM(&manager);
    if (status < VI_SUCCESS) {
      if (tried != nullptr) {
        tried->push_back(
            {file, file + ": viOpenDefaultRM failed with " + status_text(*loaded.library, status),
             true});
      }
      continue;
    }
    loaded.library->viClose(manager);
    return loaded;
  }
  return {};
}

}  // namespace visa
