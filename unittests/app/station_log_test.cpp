// The station's logging: the VISA call trace reaches quor.visa only when an engineer asks for it.
#include <gtest/gtest.h>

#include <QLoggingCategory>
#include <QRegularExpression>
#include <QString>
#include <QStringList>

#include "app/station_log.h"
#include "testing/sim_station.h"

namespace app {
namespace {

QStringList* g_lines = nullptr;
const char* g_category = "quor.visa";

void capture(QtMsgType, const QMessageLogContext& context, const QString& message) {
  if (g_lines != nullptr && QString::fromLatin1(context.category) == g_category) {
    g_lines->append(message);
  }
}

class VisaLogTest : public ::testing::Test, protected testing_support::SimStation {
 protected:
  VisaLogTest() : SimStation({.traced = true}) {
    traced->set_sink(&sink);
    g_lines = &lines;
    previous_ = qInstallMessageHandler(capture);
  }
  ~VisaLogTest() override {
    traced->set_sink(nullptr);
    qInstallMessageHandler(previous_);
    QLoggingCategory::setFilterRules(QString());
    g_lines = nullptr;
  }

  void open_manager() {
    visa::ViSession manager = 0;
    ASSERT_EQ(traced->viOpenDefaultRM(&manager), visa::VI_SUCCESS);
    ASSERT_EQ(traced->viClose(manager), visa::VI_SUCCESS);
  }

  QStringList lines;
  LoggingVisaSink sink;

 private:
  QtMessageHandler previous_ = nullptr;
};

TEST_F(VisaLogTest, IsOffUnlessEnabled) {
  EXPECT_FALSE(lcVisa().isDebugEnabled());
  open_manager();
  EXPECT_TRUE(lines.isEmpty());
}

TEST_F(VisaLogTest, WritesOneLinePerCallWithItsDurationWhenEnabled) {
  QLoggingCategory::setFilterRules(QStringLiteral("quor.visa.debug=true"));
  open_manager();
  ASSERT_EQ(lines.size(), 2);
  EXPECT_TRUE(lines[0].startsWith("viOpenDefaultRM() -> VI_SUCCESS, handle 0x"))
      << lines[0].toStdString();
  EXPECT_TRUE(lines[1].startsWith("viClose(0x")) << lines[1].toStdString();
  EXPECT_TRUE(lines[1].contains(QRegularExpression(R"(\[\d+\.\d us\]$)")))
      << lines[1].toStdString();
}

TEST_F(VisaLogTest, ProceduresAreLoggedAsTheyStartEndAndAreRefused) {
  g_category = "quor.procedure";
  LoggingProcedureObserver observer;
  station.procedure.observers.push_back(&observer);
  // Both units stand initialized: the refusal logged is the one for the units being busy.
  station.units.uut.session = 1;
  station.units.qcu.session = 2;
  {
    const core::ProcedureScope rec(station, core::procedure(core::ProcedureKind::rec));
    const core::ProcedureScope self_test(station, core::procedure(core::ProcedureKind::self_test));
  }
  g_category = "quor.visa";
  EXPECT_EQ(lines,
            (QStringList{"started: the REC test", "refused: Self Test while the REC test runs",
                         "ended: the REC test"}));
}

}  // namespace
}  // namespace app
