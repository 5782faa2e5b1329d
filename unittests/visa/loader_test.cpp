// The run-time loader against real shared libraries.
#include <gtest/gtest.h>

#include <cstring>
#include <ostream>
#include <string>

#include "visa/visa_loader.h"

#if defined(_WIN32)
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace visa {
namespace {

// The platform's own loader, for looking at the exported C functions directly.
#if defined(_WIN32)
void* open_library(const char* file) { return reinterpret_cast<void*>(LoadLibraryA(file)); }
void* find_function(void* library, const char* name) {
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}
void close_library(void* library) { FreeLibrary(static_cast<HMODULE>(library)); }
std::string library_error() { return "error " + std::to_string(GetLastError()); }
#else
void* open_library(const char* file) { return dlopen(file, RTLD_NOW | RTLD_LOCAL); }
void* find_function(void* library, const char* name) { return dlsym(library, name); }
void close_library(void* library) { dlclose(library); }
std::string library_error() {
  const char* text = dlerror();
  return text != nullptr ? text : "";
}
#endif

std::string read_reply(VisaLibrary& library, ViSession session, ViStatus* status) {
  unsigned char buffer[1000];
  ViUInt32 returned = 0;
  *status = library.viRead(session, buffer, sizeof buffer, &returned);
  return std::string(reinterpret_cast<char*>(buffer), returned);
}

TEST(LoaderWithSimulatedChassis, LoadsAndTalksToTheUut) {
  LoadedLibrary loaded = load_visa_library(QUOR_SIM_VISA_PATH);
  ASSERT_NE(loaded.library, nullptr) << loaded.error;
  EXPECT_TRUE(loaded.error.empty());
  EXPECT_TRUE(loaded.simulated) << "the marker symbol tells the chassis from hardware";
  VisaLibrary& visa = *loaded.library;

  ViSession rm = 0;
  ASSERT_EQ(visa.viOpenDefaultRM(&rm), VI_SUCCESS);
  ViFindList list = 0;
  ViUInt32 count = 0;
  ViChar name[VI_FIND_BUFLEN] = {};
  ASSERT_EQ(visa.viFindRsrc(rm, "?*VXI[0-9]*::?*INSTR", &list, &count, name), VI_SUCCESS);
  EXPECT_EQ(count, 3U);
  EXPECT_STREQ(name, "VXI0::8::INSTR");
  ASSERT_EQ(visa.viFindNext(list, name), VI_SUCCESS);
  EXPECT_STREQ(name, "VXI0::24::INSTR");

  ViSession uut = 0;
  ASSERT_EQ(visa.viOpen(rm, "VXI0::8::INSTR", 0, 0, &uut), VI_SUCCESS);
  ViAttrState value = 0;
  ASSERT_EQ(visa.viGetAttribute(uut, VI_ATTR_MANF_ID, &value), VI_SUCCESS);
  EXPECT_EQ(value, 0x6C5U);
  ASSERT_EQ(visa.viGetAttribute(uut, VI_ATTR_VXI_LA, &value), VI_SUCCESS);
  EXPECT_EQ(value, 8U);
  ASSERT_EQ(visa.viSetAttribute(uut, VI_ATTR_TMO_VALUE, 6000), VI_SUCCESS);
  ASSERT_EQ(visa.viGetAttribute(uut, VI_ATTR_TMO_VALUE, &value), VI_SUCCESS);
  EXPECT_EQ(value, 6000U);

  const char command[] = "*IDN?";
  ViUInt32 returned = 0;
  ASSERT_EQ(visa.viWrite(uut, reinterpret_cast<const unsigned char*>(command), 5, &returned),
            VI_SUCCESS);
  EXPECT_EQ(returned, 5U);
  ViStatus status = 0;
  const std::string reply = read_reply(visa, uut, &status);
  EXPECT_EQ(status, VI_SUCCESS);
  EXPECT_NE(reply.find("QUOR BUS SIMULATED"), std::string::npos) << reply;
  EXPECT_EQ(reply.back(), '\n');

  ViUInt16 id = 0;
  ASSERT_EQ(visa.viIn16(uut, VI_A16_SPACE, 0, &id), VI_SUCCESS);
  EXPECT_EQ(id, 0x86C5);
  const ViUInt16 words[2] = {0x0100, 0x0E00};
  ViUInt16 back[2] = {};
  EXPECT_EQ(visa.viMoveOut16(uut, VI_A24_SPACE, 0x100000, 2, words), VI_SUCCESS);
  EXPECT_EQ(visa.viMoveIn16(uut, VI_A24_SPACE, 0x100000, 2, back), VI_SUCCESS);
  EXPECT_EQ(back[1], 0x0E00);
  EXPECT_EQ(visa.viOut16(uut, VI_A24_SPACE, 0x200000, 1), VI_ERROR_INV_OFFSET);

  ViChar text[VI_FIND_BUFLEN] = {};
  EXPECT_EQ(visa.viStatusDesc(uut, VI_ERROR_INV_OFFSET, text), VI_SUCCESS);
  EXPECT_NE(std::string(text).find("offset"), std::string::npos) << text;

  // Closing the manager closes the session opened through it.
  EXPECT_EQ(visa.viClose(rm), VI_SUCCESS);
  EXPECT_EQ(visa.viIn16(uut, VI_A16_SPACE, 0, &id), VI_ERROR_INV_OBJECT);
}

// The exported C function writes exactly the attribute's width into the caller's buffer.
TEST(LoaderWithSimulatedChassis, ExportedGetAttributeWritesTheAttributesOwnWidth) {
  void* module = open_library(QUOR_SIM_VISA_PATH);
  ASSERT_NE(module, nullptr) << library_error();
  using OpenRm = ViStatus(QUOR_VISA_CALL*)(ViSession*);
  using Open = ViStatus(QUOR_VISA_CALL*)(ViSession, const char*, ViUInt32, ViUInt32, ViSession*);
  using GetAttribute = ViStatus(QUOR_VISA_CALL*)(ViObject, ViAttr, void*);
  using Close = ViStatus(QUOR_VISA_CALL*)(ViObject);
  auto open_rm = reinterpret_cast<OpenRm>(find_function(module, "viOpenDefaultRM"));
  auto open = reinterpret_cast<Open>(find_function(module, "viOpen"));
  auto get = reinterpret_cast<GetAttribute>(find_function(module, "viGetAttribute"));
  auto close = reinterpret_cast<Close>(find_function(module, "viClose"));
  ASSERT_TRUE(open_rm && open && get && close);

  ViSession rm = 0;
  ViSession uut = 0;
  ASSERT_EQ(open_rm(&rm), VI_SUCCESS);
  ASSERT_EQ(open(rm, "VXI0::24::INSTR", 0, 0, &uut), VI_SUCCESS);
  const auto read_with_guard = [&](ViAttr attribute, unsigned char(&buffer)[8]) {
    std::memset(buffer, 0xEE, sizeof buffer);
    return get(uut, attribute, buffer);
  };
  unsigned char buffer[8];
  ASSERT_EQ(read_with_guard(VI_ATTR_VXI_LA, buffer), VI_SUCCESS);
  EXPECT_EQ(buffer[0] | (buffer[1] << 8), 24);
  for (int i = 2; i < 8; ++i) EXPECT_EQ(buffer[i], 0xEE) << "byte " << i << " of a ViInt16";
  ASSERT_EQ(read_with_guard(VI_ATTR_TMO_VALUE, buffer), VI_SUCCESS);
  ViUInt32 timeout = 0;
  std::memcpy(&timeout, buffer, sizeof timeout);
  EXPECT_EQ(timeout, 2000U);
  for (int i = 4; i < 8; ++i) EXPECT_EQ(buffer[i], 0xEE) << "byte " << i << " of a ViUInt32";
  EXPECT_EQ(close(rm), VI_SUCCESS);
  close_library(module);
}

TEST(LoaderRefusal, LibraryMissingAFunctionIsRefusedByName) {
  const LoadedLibrary loaded = load_visa_library(QUOR_FAKE_NO_MOVE_OUT16_PATH);
  EXPECT_EQ(loaded.library, nullptr);
  EXPECT_NE(loaded.error.find("viMoveOut16"), std::string::npos) << loaded.error;
  EXPECT_FALSE(loaded.simulated);
}

TEST(LoaderRefusal, MissingFileGivesAnError) {
  const std::string file = "/nonexistent/libquor_no_such_visa.so";
  const LoadedLibrary loaded = load_visa_library(file);
  EXPECT_EQ(loaded.library, nullptr);
  EXPECT_NE(loaded.error.find(file), std::string::npos) << loaded.error;
}

// A file that is not there is no installation to complain about, whether it is named by a path
// or by a bare name that the system's library search did not find.
struct AbsentRow {
  const char* label;
  const char* file;
};

void PrintTo(const AbsentRow& row, std::ostream* out) { *out << row.label; }

class LoaderAbsentFile : public ::testing::TestWithParam<AbsentRow> {};

TEST_P(LoaderAbsentFile, IsRefusedAndNotInstalled) {
  const LoadedLibrary loaded = load_visa_library(GetParam().file);
  EXPECT_EQ(loaded.library, nullptr);
  EXPECT_FALSE(loaded.installed) << loaded.error;
  EXPECT_NE(loaded.error.find(GetParam().file), std::string::npos) << loaded.error;
}

#if defined(_WIN32)
const AbsentRow kAbsentFiles[] = {
    {"bare_name", "quor_no_such_visa.dll"},
    {"path", "C:\\quor_no_such_folder\\visa64.dll"},
    {"slash_path", "C:/quor_no_such_folder/visa64.dll"},
};
#else
const AbsentRow kAbsentFiles[] = {
    {"bare_name", "libquor_no_such_visa.so"},
    {"path", "/nonexistent/libquor_no_such_visa.so"},
};
#endif

INSTANTIATE_TEST_SUITE_P(Names, LoaderAbsentFile, ::testing::ValuesIn(kAbsentFiles),
                         [](const ::testing::TestParamInfo<AbsentRow>& row) {
                           return std::string(row.param.label);
                         });

TEST(LoaderRefusal, LibraryThatLoadsButLacksAFunctionIsInstalled) {
  const LoadedLibrary loaded = load_visa_library(QUOR_FAKE_NO_MOVE_OUT16_PATH);
  EXPECT_TRUE(loaded.installed) << "a broken installation the technician must hear of";
}

TEST(LoaderNarrowing, AttributeValuesKeepOnlyTheirOwnWidth) {
  const LoadedLibrary loaded = load_visa_library(QUOR_FAKE_COMPLETE_PATH);
  ASSERT_NE(loaded.library, nullptr) << loaded.error;
  EXPECT_FALSE(loaded.simulated) << "a library without the marker is a vendor library";
  ViAttrState value = 0;
  // The stand-in writes junk (0xAB) into every byte above the attribute's width.
  ASSERT_EQ(loaded.library->viGetAttribute(2, VI_ATTR_MANF_ID, &value), VI_SUCCESS);
  EXPECT_EQ(value, 0x06C5U);
  ASSERT_EQ(loaded.library->viGetAttribute(2, VI_ATTR_VXI_LA, &value), VI_SUCCESS);
  EXPECT_EQ(value, 0xFFFFU) << "LA -1 is 0xFFFF, not sign-extended";
  ASSERT_EQ(loaded.library->viGetAttribute(2, VI_ATTR_TMO_VALUE, &value), VI_SUCCESS);
  EXPECT_EQ(value, 6000U);
}

}  // namespace
}  // namespace visa
