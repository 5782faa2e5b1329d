// Resource manager, search, sessions, handles, attributes, counting and status texts.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "sim_test_support.h"

namespace sim {
namespace {

using namespace visa;
using testing::TestBench;

constexpr const char* kSearch = "?*VXI[0-9]*::?*INSTR";

std::vector<std::string> find_all(TestBench& bench, ViSession rm, ViStatus* status,
                                  ViUInt32* count) {
  ViFindList list = 0;
  ViChar name[VI_FIND_BUFLEN] = {};
  *status = bench.visa().viFindRsrc(rm, kSearch, &list, count, name);
  std::vector<std::string> names;
  if (*status < VI_SUCCESS) return names;
  names.emplace_back(name);
  while (bench.visa().viFindNext(list, name) == VI_SUCCESS) names.emplace_back(name);
  EXPECT_EQ(bench.visa().viClose(list), VI_SUCCESS);
  return names;
}

// --- Search ---

TEST(ChassisSearch, StandardBenchListsEveryVxiModuleInBenchOrder) {
  TestBench bench;
  const ViSession rm = bench.manager();
  ViStatus status = 0;
  ViUInt32 count = 0;
  const auto names = find_all(bench, rm, &status, &count);
  EXPECT_EQ(status, VI_SUCCESS);
  EXPECT_EQ(count, 3U);
  EXPECT_EQ(names,
            (std::vector<std::string>{"VXI0::8::INSTR", "VXI0::24::INSTR", "VXI0::40::INSTR"}));
}

TEST(ChassisSearch, ModuleOfAnotherModelIsFoundButCarriesItsOwnIdentity) {
  TestBench bench;
  const ViSession rm = bench.manager();
  ViAttrState model = 0;
  ViAttrState maker = 0;
  const ViSession other = bench.open(rm, "VXI0::40::INSTR");
  ASSERT_EQ(bench.visa().viGetAttribute(other, VI_ATTR_MODEL_CODE, &model), VI_SUCCESS);
  ASSERT_EQ(bench.visa().viGetAttribute(other, VI_ATTR_MANF_ID, &maker), VI_SUCCESS);
  EXPECT_NE(model, kQuorModelCode);
  EXPECT_NE(maker, kQuorManufacturerId);
  // The Quor Bus modules, by contrast, answer with the Quor Bus identity.
  for (const char* name : {"VXI0::8::INSTR", "VXI0::24::INSTR"}) {
    const ViSession quor = bench.open(rm, name);
    ASSERT_EQ(bench.visa().viGetAttribute(quor, VI_ATTR_MODEL_CODE, &model), VI_SUCCESS);
    ASSERT_EQ(bench.visa().viGetAttribute(quor, VI_ATTR_MANF_ID, &maker), VI_SUCCESS);
    EXPECT_EQ(model, 0x7B4U) << name;
    EXPECT_EQ(maker, 0x6C5U) << name;
  }
}

TEST(ChassisSearch, FindListEndsWithResourceNotFound) {
  TestBench bench(benches::two_quor());
  const ViSession rm = bench.manager();
  ViFindList list = 0;
  ViUInt32 count = 0;
  ViChar name[VI_FIND_BUFLEN] = {};
  ASSERT_EQ(bench.visa().viFindRsrc(rm, kSearch, &list, &count, name), VI_SUCCESS);
  EXPECT_EQ(count, 2U);
  EXPECT_STREQ(name, "VXI0::8::INSTR");
  EXPECT_EQ(bench.visa().viFindNext(list, name), VI_SUCCESS);
  EXPECT_STREQ(name, "VXI0::24::INSTR");
  EXPECT_EQ(bench.visa().viFindNext(list, name), VI_ERROR_RSRC_NFOUND);
  EXPECT_EQ(bench.visa().viFindNext(list, name), VI_ERROR_RSRC_NFOUND);
  EXPECT_EQ(bench.chassis.open_object_count(), 2);  // manager and list
  EXPECT_EQ(bench.visa().viClose(list), VI_SUCCESS);
  EXPECT_EQ(bench.visa().viFindNext(list, name), VI_ERROR_INV_OBJECT);
  EXPECT_EQ(bench.chassis.open_object_count(), 1);
}

TEST(ChassisSearch, GpibVxiNamesCarryTheirPrefix) {
  TestBench bench(benches::gpib_vxi());
  const ViSession rm = bench.manager();
  ViStatus status = 0;
  ViUInt32 count = 0;
  const auto names = find_all(bench, rm, &status, &count);
  ASSERT_EQ(names.size(), 3U);
  EXPECT_EQ(names[0], "GPIB-VXI0::8::INSTR");
  EXPECT_EQ(names[1], "GPIB-VXI0::24::INSTR");
  ViSession session = 0;
  EXPECT_EQ(bench.visa().viOpen(rm, "VXI0::8::INSTR", 0, 0, &session), VI_ERROR_RSRC_NFOUND);
  EXPECT_EQ(session, 0U);
  EXPECT_NE(bench.open(rm, "GPIB-VXI0::8::INSTR"), 0U);
}

TEST(ChassisSearch, EmptyChassisAndOtherModelsOnly) {
  TestBench empty(benches::empty());
  const ViSession rm = empty.manager();
  ViFindList list = 77;
  ViUInt32 count = 77;
  ViChar name[VI_FIND_BUFLEN] = {};
  EXPECT_EQ(empty.visa().viFindRsrc(rm, kSearch, &list, &count, name), VI_ERROR_RSRC_NFOUND);
  EXPECT_EQ(count, 0U);
  EXPECT_EQ(list, 0U);
  EXPECT_EQ(empty.chassis.open_object_count(), 1) << "no list is left behind";

  TestBench others(benches::other_models_only());
  const ViSession rm2 = others.manager();
  ASSERT_EQ(others.visa().viFindRsrc(rm2, kSearch, &list, &count, name), VI_SUCCESS);
  ASSERT_GE(count, 1U);
  for (SimModule* module : others.chassis.modules()) {
    EXPECT_NE(module->config().model_code, kQuorModelCode);
  }
}

TEST(ChassisSearch, BadExpressionAndBadManager) {
  TestBench bench;
  const ViSession rm = bench.manager();
  ViFindList list = 0;
  ViUInt32 count = 0;
  ViChar name[VI_FIND_BUFLEN] = {};
  EXPECT_EQ(bench.visa().viFindRsrc(rm, "VXI[0-9", &list, &count, name), VI_ERROR_INV_EXPR);
  EXPECT_EQ(bench.visa().viFindRsrc(rm, "GPIB?*", &list, &count, name), VI_ERROR_RSRC_NFOUND);
  const ViSession session = bench.open(rm, "VXI0::8::INSTR");
  EXPECT_EQ(bench.visa().viFindRsrc(session, kSearch, &list, &count, name), VI_ERROR_INV_OBJECT)
      << "a search needs a resource manager";
}

// --- Opening ---

TEST(ChassisOpen, ResourceNamesAreCheckedAndMatchedWithoutCase) {
  TestBench bench;
  const ViSession rm = bench.manager();
  ViSession session = 99;
  EXPECT_EQ(bench.visa().viOpen(rm, "VXI0::99::INSTR", 0, 0, &session), VI_ERROR_RSRC_NFOUND);
  EXPECT_EQ(session, 0U);
  EXPECT_EQ(bench.visa().viOpen(rm, "VXI1::8::INSTR", 0, 0, &session), VI_ERROR_RSRC_NFOUND);
  EXPECT_EQ(bench.visa().viOpen(rm, "VXI0::-1::INSTR", 0, 0, &session), VI_ERROR_RSRC_NFOUND);
  for (const char* bad :
       {"", "garbage", "VXI0:8::INSTR", "VXI0::x::INSTR", "VXI0::8::BOGUS", "::8::INSTR"}) {
    EXPECT_EQ(bench.visa().viOpen(rm, bad, 0, 0, &session), VI_ERROR_INV_RSRC_NAME) << bad;
  }
  EXPECT_NE(bench.open(rm, "vxi0::8::instr"), 0U);
  EXPECT_NE(bench.open(rm, "VXI0::24"), 0U) << "INSTR is the default resource class";
  EXPECT_EQ(bench.chassis.open_session_count(), 2);
}

TEST(ChassisOpen, ModuleWhoseOpenFailsGivesADescribedError) {
  BenchConfig config = benches::standard();
  config.modules[1].open_fails = true;
  TestBench bench(config);
  const ViSession rm = bench.manager();
  ViSession session = 5;
  const ViStatus status = bench.visa().viOpen(rm, "VXI0::24::INSTR", 0, 0, &session);
  EXPECT_LT(status, VI_SUCCESS);
  EXPECT_EQ(session, 0U);
  EXPECT_EQ(bench.chassis.open_session_count(), 0);
  ViChar text[VI_FIND_BUFLEN] = {};
  EXPECT_EQ(bench.visa().viStatusDesc(rm, status, text), VI_SUCCESS);
  EXPECT_STRNE(text, "Unknown status");
  EXPECT_NE(bench.open(rm, "VXI0::8::INSTR"), 0U) << "the other modules still open";
}

TEST(ChassisOpen, CustomIdentityReachesTheAttributes) {
  BenchConfig config = benches::standard();
  config.modules[0].manufacturer_id = 0x123;
  config.modules[1].model_code = 0x17B4;  // low 12 bits still 0x7B4
  TestBench bench(config);
  const ViSession rm = bench.manager();
  ViAttrState value = 0;
  ASSERT_EQ(bench.visa().viGetAttribute(bench.open(rm, "VXI0::8::INSTR"), VI_ATTR_MANF_ID, &value),
            VI_SUCCESS);
  EXPECT_EQ(value, 0x123U);
  const ViSession qcu = bench.open(rm, "VXI0::24::INSTR");
  ASSERT_EQ(bench.visa().viGetAttribute(qcu, VI_ATTR_MODEL_CODE, &value), VI_SUCCESS);
  EXPECT_EQ(value, 0x17B4U);
  ViUInt16 device_type = 0;
  ASSERT_EQ(bench.visa().viIn16(qcu, VI_A16_SPACE, 2, &device_type), VI_SUCCESS);
  EXPECT_EQ(device_type, 0x27B4U);
}

// --- Handles ---

TEST(ChassisHandles, HandlesAreNeverZeroAndNeverReused) {
  TestBench bench;
  std::vector<ViObject> seen;
  for (int round = 0; round < 3; ++round) {
    const ViSession rm = bench.manager();
    const ViSession session = bench.open(rm, "VXI0::8::INSTR");
    for (ViObject handle : {rm, session}) {
      EXPECT_NE(handle, 0U);
      EXPECT_EQ(std::count(seen.begin(), seen.end(), handle), 0) << "handle reused";
      seen.push_back(handle);
    }
    EXPECT_EQ(bench.visa().viClose(session), VI_SUCCESS);
    EXPECT_EQ(bench.visa().viClose(rm), VI_SUCCESS);
  }
  EXPECT_EQ(bench.chassis.open_object_count(), 0);
}

TEST(ChassisHandles, StaleAndUnknownHandlesAreInvalidObjectsEverywhere) {
  TestBench bench;
  const ViSession rm = bench.manager();
  const ViSession stale = bench.open(rm, "VXI0::8::INSTR");
  ASSERT_EQ(bench.visa().viClose(stale), VI_SUCCESS);
  const ViSession live = bench.open(rm, "VXI0::8::INSTR");  // must not revive the stale one
  ASSERT_NE(live, stale);
  for (ViSession bad : {stale, ViSession{0}, ViSession{0xFFFFFFFFU}, ViSession{1}}) {
    ViAttrState value = 0;
    ViUInt16 word = 0;
    ViUInt32 returned = 0;
    unsigned char buffer[8] = {'*', 'R', 'S', 'T'};
    ViChar name[VI_FIND_BUFLEN] = {};
    EXPECT_EQ(bench.visa().viClose(bad), VI_ERROR_INV_OBJECT);
    EXPECT_EQ(bench.visa().viGetAttribute(bad, VI_ATTR_TMO_VALUE, &value), VI_ERROR_INV_OBJECT);
    EXPECT_EQ(bench.visa().viSetAttribute(bad, VI_ATTR_TMO_VALUE, 10), VI_ERROR_INV_OBJECT);
    EXPECT_EQ(bench.visa().viWrite(bad, buffer, 4, &returned), VI_ERROR_INV_OBJECT);
    EXPECT_EQ(bench.visa().viRead(bad, buffer, 8, &returned), VI_ERROR_INV_OBJECT);
    EXPECT_EQ(bench.visa().viIn16(bad, VI_A16_SPACE, 0, &word), VI_ERROR_INV_OBJECT);
    EXPECT_EQ(bench.visa().viOut16(bad, VI_A24_SPACE, 0, 1), VI_ERROR_INV_OBJECT);
    EXPECT_EQ(bench.visa().viMoveIn16(bad, VI_A24_SPACE, 0, 1, &word), VI_ERROR_INV_OBJECT);
    EXPECT_EQ(bench.visa().viMoveOut16(bad, VI_A24_SPACE, 0, 1, &word), VI_ERROR_INV_OBJECT);
    EXPECT_EQ(bench.visa().viFindNext(bad, name), VI_ERROR_INV_OBJECT);
  }
  EXPECT_EQ(bench.chassis.module_at(8)->command_count("*RST"), 0U);
  EXPECT_EQ(bench.chassis.module_at(8)->memory_word(0), 0U);
  // A session handle is not a manager handle.
  ViSession session = 0;
  EXPECT_EQ(bench.visa().viOpen(live, "VXI0::24::INSTR", 0, 0, &session), VI_ERROR_INV_OBJECT);
}

TEST(ChassisHandles, ClosingAManagerClosesItsOwnObjectsOnly) {
  TestBench bench;
  const ViSession first = bench.manager();
  const ViSession second = bench.manager();
  const ViSession uut = bench.open(first, "VXI0::8::INSTR");
  const ViSession qcu = bench.open(first, "VXI0::24::INSTR");
  const ViSession kept = bench.open(second, "VXI0::8::INSTR");
  ViFindList list = 0;
  ViUInt32 count = 0;
  ViChar name[VI_FIND_BUFLEN] = {};
  ASSERT_EQ(bench.visa().viFindRsrc(first, kSearch, &list, &count, name), VI_SUCCESS);
  EXPECT_EQ(bench.chassis.open_object_count(), 6);
  EXPECT_EQ(bench.chassis.open_session_count(), 3);

  EXPECT_EQ(bench.visa().viClose(first), VI_SUCCESS);
  EXPECT_EQ(bench.chassis.open_object_count(), 2);
  EXPECT_EQ(bench.chassis.open_session_count(), 1);
  ViUInt16 word = 0;
  EXPECT_EQ(bench.visa().viIn16(uut, VI_A16_SPACE, 0, &word), VI_ERROR_INV_OBJECT);
  EXPECT_EQ(bench.visa().viClose(qcu), VI_ERROR_INV_OBJECT);
  EXPECT_EQ(bench.visa().viFindNext(list, name), VI_ERROR_INV_OBJECT);
  EXPECT_EQ(bench.visa().viIn16(kept, VI_A16_SPACE, 0, &word), VI_SUCCESS);
  EXPECT_EQ(bench.visa().viClose(first), VI_ERROR_INV_OBJECT);
  EXPECT_EQ(bench.chassis.module_of(uut), nullptr);
  EXPECT_EQ(bench.chassis.module_of(kept), bench.chassis.module_at(8));
}

// --- Attributes ---

TEST(ChassisAttributes, SessionAttributesOfTheUut) {
  TestBench bench;
  const ViSession rm = bench.manager();
  const ViSession uut = bench.open(rm, "VXI0::8::INSTR");
  const auto get = [&](ViAttr attribute) {
    ViAttrState value = 0xDEADBEEF;
    EXPECT_EQ(bench.visa().viGetAttribute(uut, attribute, &value), VI_SUCCESS);
    return value;
  };
  EXPECT_EQ(get(VI_ATTR_TMO_VALUE), 2000U);
  EXPECT_EQ(get(VI_ATTR_VXI_LA), 8U);
  EXPECT_EQ(get(VI_ATTR_MANF_ID), 0x6C5U);
  EXPECT_EQ(get(VI_ATTR_MODEL_CODE), 0x7B4U);
  EXPECT_EQ(get(VI_ATTR_MEM_SPACE), VI_A24_SPACE);
  EXPECT_EQ(get(VI_ATTR_INTF_NUM), 0U);
  EXPECT_EQ(get(VI_ATTR_SLOT), static_cast<ViAttrState>(bench.chassis.module_at(8)->config().slot));
  EXPECT_EQ(bench.chassis.module_at(8)->attribute_read_count(VI_ATTR_MANF_ID), 1U);
  EXPECT_EQ(bench.chassis.module_at(24)->attribute_read_count(VI_ATTR_MANF_ID), 0U);
}

TEST(ChassisAttributes, TimeoutIsPerSessionAndRecorded) {
  TestBench bench;
  const ViSession rm = bench.manager();
  const ViSession a = bench.open(rm, "VXI0::8::INSTR");
  const ViSession b = bench.open(rm, "VXI0::8::INSTR");
  EXPECT_EQ(bench.visa().viSetAttribute(a, VI_ATTR_TMO_VALUE, 8000), VI_SUCCESS);
  EXPECT_EQ(bench.visa().viSetAttribute(a, VI_ATTR_TMO_VALUE, 6000), VI_SUCCESS);
  EXPECT_EQ(bench.chassis.session_timeout_ms(a), 6000U);
  EXPECT_EQ(bench.chassis.session_timeout_ms(b), 2000U);
  EXPECT_EQ(bench.chassis.module_at(8)->timeout_settings(),
            (std::vector<std::uint32_t>{8000, 6000}));
  EXPECT_EQ(bench.visa().viSetAttribute(a, VI_ATTR_TMO_VALUE, ViAttrState{1} << 32),
            VI_ERROR_NSUP_ATTR_STATE);
  EXPECT_EQ(bench.chassis.session_timeout_ms(a), 6000U);
}

TEST(ChassisAttributes, ReadOnlyUnknownAndNonSessionObjects) {
  TestBench bench;
  const ViSession rm = bench.manager();
  const ViSession uut = bench.open(rm, "VXI0::8::INSTR");
  for (ViAttr attribute : {VI_ATTR_VXI_LA, VI_ATTR_MANF_ID, VI_ATTR_MEM_SPACE, VI_ATTR_MODEL_CODE,
                           VI_ATTR_SLOT, VI_ATTR_INTF_NUM}) {
    EXPECT_EQ(bench.visa().viSetAttribute(uut, attribute, 1), kErrorAttrReadonly);
  }
  ViAttrState value = 0;
  EXPECT_EQ(bench.visa().viGetAttribute(uut, 0x3FFF0001U, &value), VI_ERROR_NSUP_ATTR);
  EXPECT_EQ(bench.visa().viSetAttribute(uut, 0x3FFF0001U, 1), VI_ERROR_NSUP_ATTR);
  EXPECT_EQ(bench.visa().viGetAttribute(rm, VI_ATTR_VXI_LA, &value), VI_ERROR_NSUP_ATTR);
  EXPECT_EQ(bench.visa().viGetAttribute(uut, VI_ATTR_VXI_LA, &value), VI_SUCCESS);
  EXPECT_EQ(value, 8U) << "read-only attributes kept their values";
}

TEST(ChassisAttributes, SignedValuesComeBackZeroExtended) {
  BenchConfig config = benches::two_quor();
  config.modules[0].logical_address = -1;
  config.modules[0].slot = -1;
  TestBench bench(config);
  const ViSession rm = bench.manager();
  const ViSession session = bench.open(rm, "VXI0::-1::INSTR");
  ViAttrState value = 0;
  ASSERT_EQ(bench.visa().viGetAttribute(session, VI_ATTR_VXI_LA, &value), VI_SUCCESS);
  EXPECT_EQ(value, 0xFFFFU);
  ASSERT_EQ(bench.visa().viGetAttribute(session, VI_ATTR_SLOT, &value), VI_SUCCESS);
  EXPECT_EQ(value, 0xFFFFU);
}

// --- Read time-out on the clock ---

TEST(ChassisClock, ReadWithNothingQueuedWaitsOutTheSessionTimeoutOnTheClock) {
  TestBench bench;
  const ViSession rm = bench.manager();
  const ViSession uut = bench.open(rm, "VXI0::8::INSTR");
  ViStatus status = 0;
  EXPECT_EQ(bench.read(uut, &status), "");
  EXPECT_EQ(status, VI_ERROR_TMO);
  EXPECT_EQ(bench.clock.now_us(), 2000U * 1000U);
  ASSERT_EQ(bench.visa().viSetAttribute(uut, VI_ATTR_TMO_VALUE, 6000), VI_SUCCESS);
  bench.read(uut, &status);
  EXPECT_EQ(status, VI_ERROR_TMO);
  EXPECT_EQ(bench.clock.now_us(), 8000U * 1000U);
  // A reply waiting costs no time at all.
  ASSERT_EQ(bench.write(uut, "*OPC?"), VI_SUCCESS);
  EXPECT_EQ(bench.read(uut, &status), "1\n");
  EXPECT_EQ(bench.clock.now_us(), 8000U * 1000U);
}

// --- Counting ---

TEST(ChassisCounting, EveryCallIsCountedByFunction) {
  TestBench bench;
  EXPECT_EQ(bench.chassis.total_calls(), 0U);
  const ViSession rm = bench.manager();
  const ViSession uut = bench.open(rm, "VXI0::8::INSTR");
  ViUInt16 word = 0;
  for (int i = 0; i < 5; ++i) bench.visa().viIn16(uut, VI_A24_SPACE, 2 * i, &word);
  bench.visa().viOut16(uut, VI_A24_SPACE, 0, 1);
  bench.visa().viOut16(uut, VI_A24_SPACE, 1, 1);   // fails, still counted
  bench.visa().viIn16(0, VI_A24_SPACE, 0, &word);  // fails, still counted
  bench.query(uut, "*IDN?");
  ViChar text[VI_FIND_BUFLEN];
  bench.visa().viStatusDesc(uut, VI_ERROR_TMO, text);
  bench.visa().viClose(rm);

  const SimChassis& chassis = bench.chassis;
  EXPECT_EQ(chassis.call_count(VisaFunction::OpenDefaultRM), 1U);
  EXPECT_EQ(chassis.call_count(VisaFunction::Open), 1U);
  EXPECT_EQ(chassis.call_count(VisaFunction::In16), 6U);
  EXPECT_EQ(chassis.call_count(VisaFunction::Out16), 2U);
  EXPECT_EQ(chassis.call_count(VisaFunction::Write), 1U);
  EXPECT_EQ(chassis.call_count(VisaFunction::Read), 1U);
  EXPECT_EQ(chassis.call_count(VisaFunction::StatusDesc), 1U);
  EXPECT_EQ(chassis.call_count(VisaFunction::Close), 1U);
  EXPECT_EQ(chassis.call_count(VisaFunction::MoveIn16), 0U);
  EXPECT_EQ(chassis.total_calls(), 14U);
  EXPECT_EQ(chassis.open_object_count(), 0);
  bench.chassis.reset_call_counts();
  EXPECT_EQ(chassis.total_calls(), 0U);
}

TEST(ChassisFaults, ChassisLevelCallsCanBeMadeToFail) {
  TestBench bench;
  bench.chassis.fail_next(VisaFunction::OpenDefaultRM, VI_ERROR_SYSTEM_ERROR);
  ViSession rm = 42;
  EXPECT_EQ(bench.visa().viOpenDefaultRM(&rm), VI_ERROR_SYSTEM_ERROR);
  EXPECT_EQ(rm, 0U);
  rm = bench.manager();
  bench.chassis.fail_next(VisaFunction::FindRsrc, VI_ERROR_TMO, 2);
  ViFindList list = 0;
  ViUInt32 count = 9;
  ViChar name[VI_FIND_BUFLEN] = {};
  EXPECT_EQ(bench.visa().viFindRsrc(rm, kSearch, &list, &count, name), VI_ERROR_TMO);
  EXPECT_EQ(count, 0U);
  EXPECT_EQ(bench.visa().viFindRsrc(rm, kSearch, &list, &count, name), VI_ERROR_TMO);
  EXPECT_EQ(bench.visa().viFindRsrc(rm, kSearch, &list, &count, name), VI_SUCCESS);
  EXPECT_EQ(count, 3U);
}

// --- Status texts ---

TEST(ChassisStatusText, EveryReturnedStatusHasItsOwnText) {
  TestBench bench;
  const ViStatus returned[] = {
      VI_SUCCESS,           VI_SUCCESS_TERM_CHAR,     VI_SUCCESS_MAX_CNT,     VI_ERROR_INV_OBJECT,
      VI_ERROR_INV_EXPR,    VI_ERROR_RSRC_NFOUND,     VI_ERROR_INV_RSRC_NAME, VI_ERROR_TMO,
      VI_ERROR_NSUP_ATTR,   VI_ERROR_NSUP_ATTR_STATE, kErrorAttrReadonly,     VI_ERROR_BERR,
      VI_ERROR_INV_SPACE,   VI_ERROR_INV_OFFSET,      kErrorRsrcBusy,         kErrorUserBuf,
      VI_ERROR_SYSTEM_ERROR};
  std::vector<std::string> texts;
  for (ViStatus status : returned) {
    ViChar text[VI_FIND_BUFLEN];
    std::memset(text, 'x', sizeof text);
    EXPECT_EQ(bench.visa().viStatusDesc(0, status, text), VI_SUCCESS);
    ASSERT_LT(std::strlen(text), static_cast<std::size_t>(VI_FIND_BUFLEN));
    EXPECT_STRNE(text, "Unknown status") << std::hex << status;
    EXPECT_EQ(std::count(texts.begin(), texts.end(), text), 0) << text;
    texts.emplace_back(text);
  }
  EXPECT_NE(texts[7].find("Timeout"), std::string::npos);
  ViChar text[VI_FIND_BUFLEN];
  EXPECT_EQ(bench.visa().viStatusDesc(0, 0x12345, text), VI_SUCCESS);
  EXPECT_STREQ(text, "Unknown status");
}

TEST(ChassisCommandLog, KeepsTheOrderAcrossModulesWithTheirAddresses) {
  testing::TestBench bench;
  const visa::ViSession rm = bench.manager();
  const visa::ViSession uut = bench.open(rm, "VXI0::8::INSTR");
  const visa::ViSession qcu = bench.open(rm, "VXI0::24::INSTR");
  visa::ViUInt32 count = 0;
  const auto write = [&](visa::ViSession session, std::string_view text) {
    EXPECT_EQ(bench.chassis.viWrite(session, reinterpret_cast<const unsigned char*>(text.data()),
                                    static_cast<visa::ViUInt32>(text.size()), &count),
              visa::VI_SUCCESS);
  };
  write(qcu, "mode trnd");
  write(uut, "mode rec");
  write(qcu, "mode idle");
  const auto& log = bench.chassis.command_log();
  ASSERT_EQ(log.size(), 3U);
  EXPECT_EQ(log[0].logical_address, 24);
  EXPECT_EQ(log[0].text, "mode trnd");
  EXPECT_EQ(log[1].logical_address, 8);
  EXPECT_EQ(log[1].text, "mode rec");
  EXPECT_EQ(log[2].logical_address, 24);
  // A write that failed never reached the module, so it is not in the history.
  bench.chassis.module_at(8)->fail_next(VisaFunction::Write, visa::VI_ERROR_TMO);
  std::string_view lost = "*RST";
  EXPECT_EQ(
      bench.chassis.viWrite(uut, reinterpret_cast<const unsigned char*>(lost.data()), 4, &count),
      visa::VI_ERROR_TMO);
  EXPECT_EQ(log.size(), 3U);
}

}  // namespace
}  // namespace sim
