// Inputs the fuzzers (fuzz/) found trouble with, kept as cases.
#include <gtest/gtest.h>

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QXmlStreamReader>
#include <cmath>
#include <string>

#include "driver/number_text.h"
#include "records/record_export.h"
#include "sim/resource_expression.h"

namespace reliability {
namespace {

// Nested repetitions over a name they almost match once took time exponential in the name's
// length ("(x*)+y" against forty x took 2^40 steps): the matcher hung the chassis's viFindRsrc.
TEST(ResourceExpressionFinding, NestedRepetitionsEndOnANameTheyDoNotMatch) {
  const std::string xs(40, 'x');
  EXPECT_FALSE(sim::ResourceExpression("(x*)+y").matches(xs));
  EXPECT_FALSE(sim::ResourceExpression("?*(x*)+(x+)*y").matches(xs));
  EXPECT_FALSE(sim::ResourceExpression("((x|xx)+)+y").matches(xs));
  // The same expressions still match where they should.
  EXPECT_TRUE(sim::ResourceExpression("(x*)+y").matches(xs + "y"));
  EXPECT_TRUE(sim::ResourceExpression("((x|xx)+)+y").matches(xs + "y"));
  EXPECT_TRUE(sim::ResourceExpression("(GPIB|VXI)+[0-9]*::?*INSTR").matches("VXI0::24::INSTR"));
}

// A number past a double's range is a large number, not 0: a self-test reply of 400 digits or
// "1E400" must not read as the passing result 0.
TEST(LeadingNumberFinding, NumbersBeyondADoubleAreInfiniteWithTheirSign) {
  EXPECT_EQ(driver::leading_number(std::string(400, '7')), HUGE_VAL);
  EXPECT_EQ(driver::leading_number("1E400"), HUGE_VAL);
  EXPECT_EQ(driver::leading_number("-1E400"), -HUGE_VAL);
  EXPECT_EQ(driver::leading_number(" 0.00000E999999999999999"), 0.0);
  EXPECT_EQ(driver::leading_number("1E-400"), 0.0);
  EXPECT_EQ(driver::leading_number("-0.000" + std::string(400, '0') + "1"), 0.0);
  // The integer readers still refuse them.
  EXPECT_EQ(driver::leading_int16("1E400"), 0);
  EXPECT_EQ(driver::leading_int32("-1E400"), 0);
}

// A report quoting a module's 8-bit text ("Qu\xE9ue", Latin-1) once made the JSON and JUnit XML
// exports invalid UTF-8, which their readers refuse. Such bytes are written as the Latin-1
// characters they are; text that is UTF-8 already stays as it is; characters XML does not
// allow become U+FFFD.
TEST(RecordExportFinding, EightBitReportTextComesOutAsWellFormedUtf8) {
  QTemporaryDir folder;
  ASSERT_TRUE(folder.isValid());
  records::RunRecord record;
  record.procedure = records::Procedure::stamp;
  record.outcome = records::Outcome::failed;
  record.report = "Qu\xE9ue \xB5s, \xE2\x82\xAC 5, \xEF\xBF\xBE, \xED\xA0\x80 end";
  record.last_errors = {"\xFF"};
  const std::string json = folder.filePath("r.json").toStdString();
  const std::string xml = folder.filePath("r.xml").toStdString();
  ASSERT_EQ(records::export_records({record}, json), "");
  ASSERT_EQ(records::export_records({record}, xml), "");

  const auto read = [](const std::string& file) {
    QFile in(QString::fromStdString(file));
    EXPECT_TRUE(in.open(QIODevice::ReadOnly));
    return in.readAll();
  };
  QJsonParseError error{};
  const QJsonDocument document = QJsonDocument::fromJson(read(json), &error);
  ASSERT_EQ(error.error, QJsonParseError::NoError) << error.errorString().toStdString();
  const QJsonObject object = document.array().at(0).toObject();
  EXPECT_EQ(object.value("report").toString(),
            QString::fromUtf8("Qu\u00E9ue \u00B5s, \u20AC 5, \uFFFE, \u00ED\u00A0\u0080 end"));
  EXPECT_EQ(object.value("last_errors").toArray().at(0).toString(), QString::fromUtf8("\u00FF"));

  QXmlStreamReader reader(read(xml));
  QString failure;
  while (!reader.atEnd()) {
    if (reader.readNext() == QXmlStreamReader::StartElement && reader.name() == u"failure") {
      failure = reader.readElementText();
    }
  }
  ASSERT_FALSE(reader.hasError()) << reader.errorString().toStdString();
  EXPECT_TRUE(failure.contains(QString::fromUtf8("Qu\u00E9ue \u00B5s, \u20AC 5, \uFFFD,")))
      << failure.toStdString();
}

}  // namespace
}  // namespace reliability
