#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "interpreter/command_interpreter.h"
#include "link/device_link.h"
#include "link/transport_sim.h"
#include "sim_test_support.h"

namespace {

// The "sensor" module over the simulated brick: the reply word and the
// telegrams that a request puts on the wire.
class SensorHandler : public SimLinkTest {
 protected:
  void SetUp() override {
    settings.brick.sensorRaw[1] = 512;
    settings.brick.sonarCm[3] = 37;
    SimLinkTest::SetUp();
  }

  void open() {
    ASSERT_EQ(interpreter.interpretLine("nxt;open"), "ok");
    clearTrace();
  }

  // The telegrams sent since the last call.
  static std::vector<std::string> sent() {
    std::vector<std::string> telegrams = hostTelegrams();
    clearTrace();
    return telegrams;
  }

  CommandInterpreter interpreter;
};

using Telegrams = std::vector<std::string>;

TEST_F(SensorHandler, RequestsAndTheirTelegrams) {
  open();
  struct Case {
    const char* request;
    const char* reply;
    Telegrams telegrams;
  };
  const Case cases[] = {
      {"SENSOR ; GetValue ; IN_2", "0", {"00 07 01"}},  // no sensor type: 0 since power-up
      {"sensor;settouch;in_3", "ok", {"80 05 02 01 20"}},
      {"sensor;settouch;in_1;more", "ok", {"80 05 00 01 20"}},
      {"sensor;settouch;s2", "ok", {"80 05 01 01 20"}},
      {"sensor;setsound;in_2", "ok", {"80 05 01 07 80"}},
      {"sensor;setlight;in_3;false", "ok", {"80 05 02 06 80"}},
      {"sensor;setlight;in_3;TRUE", "ok", {"80 05 02 05 80"}},
      {"sensor;setsonar;in_4", "ok", {"80 05 03 0b 00"}},
      {"sensor;setraw;in_1", "ok", {"80 05 00 07 00"}},
      {"sensor;setsonaroff;in_4", "ok", {"00 0f 03 03 00 02 41 00"}},
      {"sensor;setsonarsingleshot;in_4", "ok", {"00 0f 03 03 00 02 41 01"}},
      {"sensor;setsonarcontinuous;in_4", "ok", {"00 0f 03 03 00 02 41 02"}},
      {"sensor;setsonarcontinuousinterval;in_4;300", "ok", {"00 0f 03 03 00 02 40 2c"}},
      {"sensor;setsonarcontinuousinterval;in_4;x", "ok", {"00 0f 03 03 00 02 40 00"}},
      {"sensor;lsgetstatus;in_4", "0", {"00 0e 03"}},
      // Refused before anything is sent.
      {"sensor", "err: wrong_params", {}},
      {"sensor;settouch", "err: wrong_params", {}},
      {"sensor;getvalue;in_9", "err: wrong_params", {}},
      {"sensor;getsonarvalue;out_a", "err: wrong_params", {}},
      {"sensor;setlight;in_3", "err: wrong_params", {}},
      {"sensor;setlight;in_3;yes", "err: wrong_params", {}},
      {"sensor;setlight;in_5;true", "err: wrong_params", {}},
      {"sensor;setsonarcontinuousinterval;in_4", "err: wrong_params", {}},
      {"sensor;setcolor;in_1", "err: unknown_command: setcolor", {}},
      {"sensor;;in_1", "err: unknown_command: ", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.request);
    EXPECT_EQ(interpreter.interpretLine(c.request), c.reply);
    EXPECT_EQ(sent(), c.telegrams);
  }
}

TEST_F(SensorHandler, ClosedInterfaceSendsNothing) {
  for (const char* request : {"sensor;settouch;in_1", "sensor;nosuchcommand", "sensor;getvalue"}) {
    SCOPED_TRACE(request);
    EXPECT_EQ(interpreter.interpretLine(request), "err: not_enable_interface");
  }
  EXPECT_EQ(interpreter.interpretLine("sensor"), "err: wrong_params");
  EXPECT_EQ(sent(), Telegrams{});
}

TEST_F(SensorHandler, QueriesInBothReplyForms) {
  open();
  ASSERT_EQ(interpreter.interpretLine("sensor;setsonar;in_4"), "ok");
  EXPECT_EQ(interpreter.interpretLine("sensor;getsonarvalue;in_4"), "37");
  interpreter.setShortReplyMode();
  EXPECT_EQ(interpreter.interpretLine("sensor;getsonarvalue;in_4"), "ok37");
  EXPECT_EQ(interpreter.interpretLine("sensor;getvalue;in_2"), "ok0");
  EXPECT_EQ(interpreter.interpretLine("sensor;setsonaroff;in_4"), "ok");
}

}  // namespace
