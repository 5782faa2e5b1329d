#include "records/run_record.h"

#include <gtest/gtest.h>

#include <set>

#include "app/module_text.h"

namespace records {
namespace {

struct SplitCase {
  const char* label;
  std::string reply;
  UnitIdentity fields;  // `reply` is left empty here and compared separately
};

class IdentitySplit : public ::testing::TestWithParam<SplitCase> {};

TEST_P(IdentitySplit, GivesTheFourFieldsAndKeepsTheReplyAsReceived) {
  const SplitCase& c = GetParam();
  UnitIdentity expected = c.fields;
  expected.reply = c.reply;
  EXPECT_EQ(identify(c.reply), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Replies, IdentitySplit,
    ::testing::Values(
        SplitCase{
            "four_fields", "QUOR,QB-1972,QB10442,2.07", {"", "QUOR", "QB-1972", "QB10442", "2.07"}},
        SplitCase{"blanks_padding_and_line_end",
                  " QUOR , QB-1972,QB10442 ,2.07\r\n" + std::string(200, ' '),
                  {"", "QUOR", "QB-1972", "QB10442", "2.07"}},
        SplitCase{"two_fields", "QUOR,QB-1972", {"", "QUOR", "QB-1972", "", ""}},
        SplitCase{"no_comma", "QUOR BUS", {"", "QUOR BUS", "", "", ""}},
        SplitCase{"empty", "", {"", "", "", "", ""}},
        SplitCase{"only_padding", "   \r\n", {"", "", "", "", ""}},
        SplitCase{"empty_fields", ",,QB9,", {"", "", "", "QB9", ""}},
        SplitCase{"more_commas_stay_in_firmware",
                  "QUOR,QB,QB1,2.07,boot 1.1,x",
                  {"", "QUOR", "QB", "QB1", "2.07,boot 1.1,x"}},
        SplitCase{
            "nul_padded", std::string("QUOR,QB,QB2,1.0\0\0", 17), {"", "QUOR", "QB", "QB2", "1.0"}},
        SplitCase{"nul_padded_as_module_text",
                  module_text(std::string("\0QUOR,QB,QB2\0 ,1.0\0\0\r\n", 22)),
                  {"", "QUOR", "QB", "QB2", "1.0"}},
        // The fields are cut (the reply keeps them whole), by characters.
        SplitCase{"serial_of_3000_bytes",
                  "QUOR,QB," + std::string(3000, 'S') + ",1.0",
                  {"", "QUOR", "QB", std::string(kIdentityFieldLength, 'S'), "1.0"}},
        SplitCase{"long_8_bit_fields",
                  module_text("Q," + std::string(70, '\xB5') + ",S," + std::string(65, '\xFF')),
                  {"", "Q", module_text(std::string(64, '\xB5')), "S",
                   module_text(std::string(64, '\xFF'))}}),
    [](const auto& row) { return std::string(row.param.label); });

// The text ids are stored: they must stay as they are and name one value each.
TEST(TextIds, ProceduresKeepTheirStoredTextsAndReadBack) {
  const std::pair<Procedure, const char*> pinned[] = {
      {Procedure::rec, "rec"},
      {Procedure::recm, "recm"},
      {Procedure::trnsrecm, "trnsrecm"},
      {Procedure::trnorecm, "trnorecm"},
      {Procedure::trndrecm, "trndrecm"},
      {Procedure::trncrecm, "trncrecm"},
      {Procedure::self_loop, "selfloop"},
      {Procedure::self_loop2, "selfloop2"},
      {Procedure::self_long, "selflong"},
      {Procedure::stamp, "stamp"},
      {Procedure::self_test, "self_test"},
      {Procedure::memory_test, "memory_test"},
      {Procedure::output_calibration, "output_calibration"},
      {Procedure::load_non_vol, "load_non_vol"},
      {Procedure::initialize_uut, "initialize_uut"},
      {Procedure::initialize_qcu, "initialize_qcu"},
      {Procedure::initialize_all, "initialize_all"},
  };
  ASSERT_EQ(all_procedures().size(), std::size(pinned));
  std::set<std::string_view> names;
  for (const auto& [procedure, text] : pinned) {
    EXPECT_EQ(text_id(procedure), text);
    EXPECT_EQ(procedure_from_text_id(text), procedure);
    EXPECT_TRUE(names.insert(display_name(procedure)).second) << display_name(procedure);
  }
  EXPECT_EQ(procedure_from_text_id("REC"), std::nullopt);
}

TEST(TextIds, OutcomesKeepTheirStoredTextsAndReadBack) {
  const std::pair<Outcome, const char*> pinned[] = {
      {Outcome::running, "running"},
      {Outcome::passed, "passed"},
      {Outcome::failed, "failed"},
      {Outcome::stopped, "stopped"},
      {Outcome::failure_limit, "failure_limit"},
      {Outcome::aborted, "aborted"},
      {Outcome::refused, "refused"},
      {Outcome::interrupted, "interrupted"},
      {Outcome::error, "error"},
  };
  ASSERT_EQ(all_outcomes().size(), std::size(pinned));
  for (const auto& [outcome, text] : pinned) {
    EXPECT_EQ(text_id(outcome), text);
    EXPECT_EQ(outcome_from_text_id(text), outcome);
  }
  EXPECT_EQ(outcome_from_text_id(""), std::nullopt);
}

// A module's bytes as record text and back: every byte value, alone and in company.
TEST(ModuleText, GivesEveryByteBackAndShowsItAsTheWindowsDo) {
  std::string every;
  for (int value = 0; value < 256; ++value) {
    const std::string byte(1, static_cast<char>(value));
    every += byte;
    const std::string text = module_text(byte);
    EXPECT_EQ(module_bytes(text), byte) << value;
    EXPECT_EQ(text.find('\0'), std::string::npos) << value;
    EXPECT_EQ(station_text(text), text) << "record text is station text as it is: " << value;
    const bool picture = value < 0x20 && value != '\t' && value != '\n' && value != '\r';
    // The windows show a module's byte as its Latin-1 character; a control has its picture.
    const QString shown = app::module_text(byte);
    EXPECT_EQ(QString::fromStdString(text), picture ? QString(QChar(0x2400 + value)) : shown)
        << value;
  }
  const std::string all = every + every + "\xC3\x28\xE2\x82\xF0\x28\x8C\xBC\xED\xA0\x80\xC0\xAF";
  EXPECT_EQ(module_bytes(module_text(all)), all);
  const std::string reply(1000, '\0');
  EXPECT_EQ(module_bytes(module_text(reply)), reply);
}

TEST(ModuleText, TextItNeverMakesGivesNoBytes) {
  const std::string texts[] = {"\xE2\x82\xAC",           // U+20AC
                               "\xEF\xBF\xBD",           // U+FFFD
                               "\xE2\x90\x89",           // a tab's picture: a tab is kept as it is
                               "\xE2\x90\xA0",           // U+2420, no C0 control's picture
                               "\xB5",                   // not UTF-8
                               std::string("a\0b", 3)};  // a raw NUL
  for (const std::string& text : texts) EXPECT_EQ(module_bytes(text), std::nullopt) << text;
}

TEST(StationText, KeepsUtf8AndPicturesItsControls) {
  EXPECT_EQ(station_text("\xC3\x89mile \xC5\x81ukasz"), "\xC3\x89mile \xC5\x81ukasz");
  EXPECT_EQ(station_text(std::string("A\0B\x1b\tC\r\n", 8)),
            "A\xE2\x90\x80"
            "B\xE2\x90\x9B\tC\r\n");
  // A byte that is not UTF-8 is its Latin-1 character, as a module's would be.
  EXPECT_EQ(station_text("\xB5\xC3"), "\xC2\xB5\xC3\x83");
}

struct TimeCase {
  long long ms;
  const char* text;
};

class UtcText : public ::testing::TestWithParam<TimeCase> {};

TEST_P(UtcText, WritesAndReadsTheSameInstant) {
  const TimePoint time{std::chrono::milliseconds{GetParam().ms}};
  EXPECT_EQ(utc_text(time), GetParam().text);
  EXPECT_EQ(parse_utc_text(GetParam().text), time);
}

INSTANTIATE_TEST_SUITE_P(Instants, UtcText,
                         ::testing::Values(TimeCase{0, "1970-01-01T00:00:00.000Z"},
                                           TimeCase{1714566896789, "2024-05-01T12:34:56.789Z"},
                                           TimeCase{951782399999, "2000-02-28T23:59:59.999Z"},
                                           TimeCase{951868800001, "2000-03-01T00:00:00.001Z"}));

class BadTimeText : public ::testing::TestWithParam<const char*> {};

TEST_P(BadTimeText, IsNotRead) {
  EXPECT_EQ(parse_utc_text(GetParam()), std::nullopt);
  EXPECT_EQ(parse_utc_date(GetParam()), std::nullopt);
}

INSTANTIATE_TEST_SUITE_P(Texts, BadTimeText,
                         ::testing::Values("", "2024-02-30", "2023-02-29", "2024-1-01",
                                           "2024-13-01", "+024-01-01", "2024-01-0a",
                                           "2024-05-01T24:00:00.000Z", "2024-05-01T12:-1:00.000Z",
                                           "2024-05-01 12:34:56.789Z", "2024-05-01T12:34:56Z"));

TEST(UtcDate, IsTheStartOfThatDayInUtc) {
  EXPECT_EQ(parse_utc_date("2024-05-01"), TimePoint{std::chrono::milliseconds{1714521600000}});
  EXPECT_EQ(parse_utc_date("2024-02-29"), TimePoint{std::chrono::milliseconds{1709164800000}});
}

TEST(NumberText, IsTheShortestTextWithAPoint) {
  EXPECT_EQ(number_text(1.2), "1.2");
  EXPECT_EQ(number_text(-0.1), "-0.1");
  EXPECT_EQ(number_text(0.1 + 0.2), "0.30000000000000004");
  EXPECT_EQ(number_text(3.0), "3");
}

TEST(RunIds, AreUuidTextsThatDiffer) {
  const std::string first = new_run_id();
  EXPECT_EQ(first.size(), 36u);
  EXPECT_EQ(first[8], '-');
  EXPECT_NE(first, new_run_id());
}

}  // namespace
}  // namespace records
