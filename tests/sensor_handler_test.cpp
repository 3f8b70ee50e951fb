#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "interpreter_test_support.h"

namespace {

// The "sensor" module over the simulated brick: the reply word and the
// telegrams that a request puts on the wire.
class SensorHandler : public InterpreterTest {
 protected:
  void SetUp() override {
    settings.brick.sensorRaw[1] = 512;
    settings.brick.sonarCm[3] = 37;
    InterpreterTest::SetUp();
  }
};

TEST_F(SensorHandler, RequestsAndTheirTelegrams) {
  open();
  expectRequests({
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
  });
}

TEST_F(SensorHandler, QueriesInBothReplyForms) {
  open();
  ASSERT_EQ(ask("sensor;setsonar;in_4"), "ok");
  EXPECT_EQ(ask("sensor;getsonarvalue;in_4"), "37");
  interpreter.setShortReplyMode();
  EXPECT_EQ(ask("sensor;getsonarvalue;in_4"), "ok37");
  EXPECT_EQ(ask("sensor;getvalue;in_2"), "ok0");
  EXPECT_EQ(ask("sensor;setsonaroff;in_4"), "ok");
}

}  // namespace
