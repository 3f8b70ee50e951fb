// The USB transport over the libusb stand-in (fake_libusb.h): what it sends
// and how every failure ends, seen from the transport, the device link and
// the interpreter's replies.
#include <gtest/gtest.h>
#include <libusb.h>

#include <cstdio>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "fake_libusb.h"
#include "interpreter/command_interpreter.h"
#include "link/device_link.h"
#include "link/transport.h"
#include "sim_test_support.h"
#include "tools/text_lines.h"

namespace {

FakeUsbDeviceSetup brickNamed(const std::string& name, std::uint16_t millivolts = 8100) {
  FakeUsbDeviceSetup setup;
  setup.brick.name = name;
  setup.brick.batteryMillivolts = millivolts;
  return setup;
}

FakeUsbDeviceSetup otherDevice(std::uint16_t vendor, std::uint16_t product) {
  FakeUsbDeviceSetup setup;
  setup.vendorId = vendor;
  setup.productId = product;
  return setup;
}

// The name of a table-driven case, from its `name` field.
template <typename Case>
std::string caseName(const ::testing::TestParamInfo<Case>& param) {
  return param.param.name;
}

class UsbTransportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fakeUsbReset();
    ::testing::internal::CaptureStderr();
  }

  void TearDown() override {
    linkClose();
    ::testing::internal::GetCapturedStderr();
    for (const FakeUsbCall& call : fakeUsbCallsTo("libusb_bulk_transfer")) {
      // 0 would wait for ever.
      EXPECT_GT(call.timeoutMs, 0u) << "a transfer on endpoint " << call.value << " has no timeout";
      EXPECT_LE(call.timeoutMs, 1000u);
    }
    const FakeUsbLive live = fakeUsbLive();
    EXPECT_EQ(live.openHandles, 0);
    EXPECT_EQ(live.claimedInterfaces, 0);
    EXPECT_EQ(live.deviceLists, 0);
    EXPECT_EQ(live.configDescriptors, 0);
    EXPECT_EQ(live.deviceReferences, 0);
    EXPECT_EQ(live.contexts, 0);
    fakeUsbReset();
  }

  // The lines written to standard error since the last call.
  std::vector<std::string> stderrLines() {
    const std::string text = ::testing::internal::GetCapturedStderr();
    ::testing::internal::CaptureStderr();
    return linesOf(text);
  }

  std::string ask(const std::string& line) { return interpreter.interpretLine(line); }

  CommandInterpreter interpreter;
};

// --- Finding and opening the brick ------------------------------------------

TEST_F(UsbTransportTest, OpensTheFirstNxtRunningItsFirmware) {
  fakeUsbPlug(otherDevice(0x046d, 0xc52b));  // a mouse
  fakeUsbPlug(otherDevice(0x03eb, 0x6124));  // an NXT in its boot loader
  const int first = fakeUsbPlug(brickNamed("first"));
  fakeUsbPlug(brickNamed("second"));

  EXPECT_EQ(ask("nxt;open"), "ok");
  EXPECT_EQ(ask("nxt;getname"), "first");
  const auto opens = fakeUsbCallsTo("libusb_open");
  ASSERT_EQ(opens.size(), 1u);
  EXPECT_EQ(opens[0].device, first);
  EXPECT_TRUE(stderrLines().empty());
}

TEST_F(UsbTransportTest, OpenSelectsTheConfigurationClaimsInterfaceZeroThenDrains) {
  const int brick = fakeUsbPlug();
  EXPECT_EQ(ask("nxt;open"), "ok");

  std::vector<std::string> steps;
  for (const FakeUsbCall& call : fakeUsbCalls()) {
    if (call.device != brick || call.function == "libusb_get_device_descriptor" ||
        call.function == "libusb_get_config_descriptor") {
      continue;
    }
    steps.push_back(call.function + " " + std::to_string(call.value));
  }
  ASSERT_GE(steps.size(), 4u);
  EXPECT_EQ(steps[0], "libusb_open -1");
  EXPECT_EQ(steps[1], "libusb_set_configuration 1");
  EXPECT_EQ(steps[2], "libusb_claim_interface 0");
  for (std::size_t i = 3; i < steps.size(); ++i) {
    EXPECT_EQ(steps[i], "libusb_bulk_transfer 130") << "only reads of the IN endpoint 0x82";
  }
}

TEST_F(UsbTransportTest, RepliesLeftFromAnEarlierRunAreDrainedOnOpen) {
  FakeUsbDeviceSetup setup;
  setup.staleReplies = {{0x02, 0x0b, 0x00, 0x10, 0x27},  // 10000 mV
                        {0x02, 0x0b, 0x00, 0x28, 0x23}};
  fakeUsbPlug(setup);
  EXPECT_EQ(ask("nxt;open"), "ok");
  EXPECT_EQ(ask("nxt;batterylevel"), "8100");
}

struct LayoutCase {
  const char* name;
  std::function<void(FakeUsbDeviceSetup&)> shape;
  int configuration;
  int outEndpoint;
  int inEndpoint;
};

void PrintTo(const LayoutCase& c, std::ostream* os) { *os << c.name; }

class UsbLayoutTest : public UsbTransportTest, public ::testing::WithParamInterface<LayoutCase> {};

TEST_P(UsbLayoutTest, EndpointsAndConfigurationComeFromTheDescriptors) {
  FakeUsbDeviceSetup setup;
  GetParam().shape(setup);
  const int brick = fakeUsbPlug(setup);
  EXPECT_EQ(ask("nxt;open"), "ok");
  const auto configurations = fakeUsbCallsTo("libusb_set_configuration");
  ASSERT_EQ(configurations.size(), 1u);
  EXPECT_EQ(configurations[0].value, GetParam().configuration);

  fakeUsbClearCalls();
  EXPECT_EQ(ask("nxt;batterylevel"), "8100");
  const auto writes = fakeUsbTransfers(brick, GetParam().outEndpoint);
  ASSERT_EQ(writes.size(), 1u);
  EXPECT_EQ(hexOf(writes[0].data), "00 0b");
  EXPECT_EQ(fakeUsbTransfers(brick, GetParam().inEndpoint).size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, UsbLayoutTest,
    ::testing::Values(LayoutCase{"RealBrick", [](FakeUsbDeviceSetup&) {}, 1, 0x01, 0x82},
                      LayoutCase{"EmulatedNumbering",
                                 [](FakeUsbDeviceSetup& s) {
                                   s.outEndpoint = 0x02;
                                   s.inEndpoint = 0x81;
                                 },
                                 1, 0x02, 0x81},
                      LayoutCase{"InListedFirst",
                                 [](FakeUsbDeviceSetup& s) {
                                   s.outEndpoint = 0x05;
                                   s.inEndpoint = 0x86;
                                   s.inEndpointFirst = true;
                                 },
                                 1, 0x05, 0x86},
                      LayoutCase{"InterruptEndpointsBeforeBulk",
                                 [](FakeUsbDeviceSetup& s) { s.interruptEndpoints = true; }, 1,
                                 0x01, 0x82},
                      LayoutCase{"ConfigurationTwo",
                                 [](FakeUsbDeviceSetup& s) { s.configurationValue = 2; }, 2, 0x01,
                                 0x82}),
    caseName<LayoutCase>);

// --- Opening fails ----------------------------------------------------------

struct OpenFailureCase {
  const char* name;
  std::function<void()> arrange;
  std::int32_t result;
  const char* reason;  // in the one line on standard error
};

void PrintTo(const OpenFailureCase& c, std::ostream* os) { *os << c.name; }

class UsbOpenFailureTest : public UsbTransportTest,
                           public ::testing::WithParamInterface<OpenFailureCase> {};

TEST_P(UsbOpenFailureTest, OpenAnswersErrWithOneLineForTheOperator) {
  GetParam().arrange();
  EXPECT_EQ(ask("nxt;open"), "err");
  EXPECT_TRUE(isFatal(deviceLink.status));
  EXPECT_EQ(deviceLink.status.code, GetParam().result);
  EXPECT_EQ(deviceLink.brick, nullptr);
  EXPECT_EQ(ask("nxt;batterylevel"), "err: not_enable_interface");

  const auto lines = stderrLines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].rfind("nxt-bridge: cannot open the NXT brick: ", 0), 0u) << lines[0];
  EXPECT_NE(lines[0].find(GetParam().reason), std::string::npos) << lines[0];
  // Nothing is held after a failed open (TearDown checks the rest).
  EXPECT_EQ(fakeUsbLive().openHandles, 0);
  EXPECT_EQ(fakeUsbLive().contexts, 0);
}

FakeUsbDeviceSetup failing(int FakeUsbDeviceSetup::*call, int error) {
  FakeUsbDeviceSetup setup;
  setup.*call = error;
  return setup;
}

INSTANTIATE_TEST_SUITE_P(
    Failures, UsbOpenFailureTest,
    ::testing::Values(
        OpenFailureCase{"NoUsbAtAll", [] {}, kTransportNoDevice, "no USB devices at all"},
        OpenFailureCase{"NoBrick", [] { fakeUsbPlug(otherDevice(0x1d6b, 0x0002)); },
                        kTransportNoDevice, "no NXT found"},
        OpenFailureCase{"OnlyABootLoader", [] { fakeUsbPlug(otherDevice(0x03eb, 0x6124)); },
                        kTransportNoDevice, "no NXT found"},
        OpenFailureCase{
            "AccessDenied",
            [] { fakeUsbPlug(failing(&FakeUsbDeviceSetup::openError, LIBUSB_ERROR_ACCESS)); },
            kTransportAccessDenied, "access denied ("},
        // On Windows: a brick bound to LEGO's driver instead of WinUSB.
        OpenFailureCase{"NoDriverLibusbCanUse",
                        [] {
                          fakeUsbPlug(
                              failing(&FakeUsbDeviceSetup::openError, LIBUSB_ERROR_NOT_SUPPORTED));
                        },
                        kTransportIoError, "no driver that libusb can use is bound to it"},
        OpenFailureCase{
            "ClaimedByAnotherProgram",
            [] { fakeUsbPlug(failing(&FakeUsbDeviceSetup::claimError, LIBUSB_ERROR_BUSY)); },
            kTransportBusy, "another program holds it"},
        OpenFailureCase{"ConfiguredByAnotherProgram",
                        [] {
                          fakeUsbPlug(failing(&FakeUsbDeviceSetup::setConfigurationError,
                                              LIBUSB_ERROR_BUSY));
                        },
                        kTransportBusy, "another program holds it"},
        OpenFailureCase{
            "GoneWhileOpening",
            [] { fakeUsbPlug(failing(&FakeUsbDeviceSetup::openError, LIBUSB_ERROR_NO_DEVICE)); },
            kTransportGone, "went away"},
        OpenFailureCase{"NoBulkEndpoints",
                        [] {
                          FakeUsbDeviceSetup setup;
                          setup.bulkEndpoints = false;
                          setup.interruptEndpoints = true;
                          fakeUsbPlug(setup);
                        },
                        kTransportIoError, "no bulk OUT and IN endpoints"},
        OpenFailureCase{"UnreadableDescriptor",
                        [] {
                          fakeUsbPlug(
                              failing(&FakeUsbDeviceSetup::configDescriptorError, LIBUSB_ERROR_IO));
                        },
                        kTransportIoError, "LIBUSB_ERROR_IO"},
        OpenFailureCase{"DeviceListFails",
                        [] {
                          fakeUsbPlug();
                          fakeUsbFailDeviceList(LIBUSB_ERROR_NO_MEM);
                        },
                        kTransportIoError, "cannot list the USB devices"},
        OpenFailureCase{"LibusbCannotStart",
                        [] {
                          fakeUsbPlug();
                          fakeUsbFailInit(LIBUSB_ERROR_OTHER);
                        },
                        kTransportIoError, "no USB: libusb cannot start"}),
    caseName<OpenFailureCase>);

TEST_F(UsbTransportTest, AFailedOpenLeavesNothingThatStopsTheNextOne) {
  const int denied = fakeUsbPlug(failing(&FakeUsbDeviceSetup::openError, LIBUSB_ERROR_ACCESS));
  EXPECT_EQ(ask("nxt;open"), "err");
  fakeUsbUnplug(denied);
  fakeUsbPlug();  // the rule installed, plugged in again
  EXPECT_EQ(ask("nxt;open"), "ok");
  EXPECT_FALSE(isFatal(deviceLink.status));
  EXPECT_EQ(ask("nxt;batterylevel"), "8100");
}

// --- What goes on the wire --------------------------------------------------

struct WireCase {
  const char* request;
  const char* reply;
  const char* telegram;  // written to the OUT endpoint
  bool readsReply;
};

TEST_F(UsbTransportTest, OneBulkWritePerTelegramAndOne64ByteReadPerReply) {
  const int brick = fakeUsbPlug(brickNamed("robot"));
  ASSERT_EQ(ask("nxt;open"), "ok");
  const WireCase cases[] = {
      {"nxt;batterylevel", "8100", "00 0b", true},
      {"nxt;getname", "robot", "01 9b", true},
      {"nxt;playtone;440;1000", "ok", "80 03 b8 01 e8 03", false},
      {"nxt;stopsound", "ok", "80 0c", false},
  };
  for (const WireCase& c : cases) {
    SCOPED_TRACE(c.request);
    fakeUsbClearCalls();
    EXPECT_EQ(ask(c.request), c.reply);
    const auto& calls = fakeUsbCalls();
    ASSERT_EQ(calls.size(), c.readsReply ? 2u : 1u);
    EXPECT_EQ(calls[0].function, "libusb_bulk_transfer");
    EXPECT_EQ(calls[0].device, brick);
    EXPECT_EQ(calls[0].value, 0x01);
    EXPECT_EQ(hexOf(calls[0].data), c.telegram);
    EXPECT_EQ(calls[0].timeoutMs, 1000u);
    if (c.readsReply) {
      EXPECT_EQ(calls[1].value, 0x82);
      EXPECT_EQ(calls[1].length, 64);
      EXPECT_EQ(calls[1].timeoutMs, 1000u);
    }
  }
}

// --- A transfer fails in the middle of a run --------------------------------

struct ExchangeFailureCase {
  const char* name;
  bool onWrite;  // else on reading the reply
  FakeFault fault;
  const char* failedReply;  // to nxt;batterylevel, the brick holding 8100 mV
  std::int32_t status;      // the device link's status after it
  // Then the battery reads 7000 mV and these requests get these replies.
  std::vector<std::pair<std::string, std::string>> after;
};

void PrintTo(const ExchangeFailureCase& c, std::ostream* os) { *os << c.name; }

const std::vector<std::pair<std::string, std::string>> kRecovers = {
    {"nxt;batterylevel", "7000"}, {"nxt;getname", "NXT"}, {"nxt;batterylevel", "7000"}};

class UsbExchangeFailureTest : public UsbTransportTest,
                               public ::testing::WithParamInterface<ExchangeFailureCase> {};

TEST_P(UsbExchangeFailureTest, TheFailedRequestIsAnsweredAndSoAreTheNextOnes) {
  const ExchangeFailureCase& c = GetParam();
  const int brick = fakeUsbPlug();
  ASSERT_EQ(ask("nxt;open"), "ok");
  if (c.onWrite) {
    fakeUsbFailNextWrite(brick, c.fault);
  } else {
    fakeUsbFailNextReply(brick, c.fault);
  }
  EXPECT_EQ(ask("nxt;batterylevel"), c.failedReply);
  EXPECT_EQ(deviceLink.status.code, c.status);
  fakeUsbBrick(brick).config.batteryMillivolts = 7000;
  for (const auto& [request, reply] : c.after) EXPECT_EQ(ask(request), reply) << request;
  EXPECT_FALSE(isFatal(deviceLink.status));
  EXPECT_TRUE(stderrLines().empty()) << "only a brick that is gone is told";
}

INSTANTIATE_TEST_SUITE_P(
    Faults, UsbExchangeFailureTest,
    ::testing::Values(
        ExchangeFailureCase{"WriteTimesOut", true, FakeFault::kTimeout, "err: timeout",
                            kTransportTimeout, kRecovers},
        ExchangeFailureCase{"WriteTimesOutAfterEveryByte", true, FakeFault::kTimeoutAfterData,
                            "8100", kDriverSuccess, kRecovers},
        ExchangeFailureCase{"WriteIsShort", true, FakeFault::kShort, "err: timeout",
                            kTransportIoError, kRecovers},
        ExchangeFailureCase{"WriteFails", true, FakeFault::kIoError, "err: timeout",
                            kTransportIoError, kRecovers},
        ExchangeFailureCase{"WriteStalls", true, FakeFault::kStall, "err: timeout",
                            kTransportIoError, kRecovers},
        ExchangeFailureCase{"ReadTimesOutReplyStillComing", false, FakeFault::kTimeout,
                            "err: timeout", kTransportTimeout, kRecovers},
        ExchangeFailureCase{"ReadTimesOutAfterTheReply", false, FakeFault::kTimeoutAfterData,
                            "8100", kDriverSuccess, kRecovers},
        ExchangeFailureCase{"ReplyIsShort", false, FakeFault::kShort, "err: timeout",
                            kDriverBadReply, kRecovers},
        ExchangeFailureCase{"ReplyIsNotAReply", false, FakeFault::kMalformed, "err: timeout",
                            kDriverBadReply, kRecovers},
        ExchangeFailureCase{"ReplyOverflows", false, FakeFault::kOverflow, "err: timeout",
                            kTransportOverflow, kRecovers},
        ExchangeFailureCase{"ReadStalls", false, FakeFault::kStall, "err: timeout",
                            kTransportIoError, kRecovers},
        ExchangeFailureCase{"ReadFails", false, FakeFault::kIoError, "err: timeout",
                            kTransportIoError, kRecovers}),
    caseName<ExchangeFailureCase>);

// --- Replies that answer another telegram ---------------------------------

struct LateReplyCase {
  const char* name;
  const char* late;  // its reply times out and comes after the next telegram
  const char* next;  // that telegram's request, which gets its own reply
  const char* nextReply;
  const char* told;
};

void PrintTo(const LateReplyCase& c, std::ostream* os) { *os << c.name; }

class UsbLateReplyTest : public UsbTransportTest,
                         public ::testing::WithParamInterface<LateReplyCase> {};

TEST_P(UsbLateReplyTest, TheLateReplyIsDroppedAndToldOnce) {
  const LateReplyCase& c = GetParam();
  const int brick = fakeUsbPlug();
  fakeUsbBrick(brick).outputs.port[0].rotationOrigin = -500;  // motor A at 500
  ASSERT_EQ(ask("nxt;open"), "ok");
  fakeUsbFailNextReply(brick, FakeFault::kLate);
  EXPECT_EQ(ask(c.late), "err: timeout");
  EXPECT_EQ(ask(c.next), c.nextReply);
  const auto lines = stderrLines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find(c.told), std::string::npos) << lines[0];
  EXPECT_NE(ask(c.late), "err: timeout");
}

INSTANTIATE_TEST_SUITE_P(
    Telegrams, UsbLateReplyTest,
    ::testing::Values(LateReplyCase{"AnotherOpcode", "nxt;batterylevel", "nxt;getname", "NXT",
                                    ": a late reply to GETBATTERYLEVEL was dropped"},
                      LateReplyCase{"AnotherMotorPort", "motor;getrotationcount;out_a",
                                    "motor;getrotationcount;out_b", "0",
                                    ": a late reply to GETOUTPUTSTATE A was dropped"},
                      LateReplyCase{"AnotherSensorPort", "sensor;getvalue;in_1",
                                    "sensor;getvalue;in_2", "0",
                                    ": a late reply to GETINPUTVALUES 1 was dropped"}),
    caseName<LateReplyCase>);

// --- The brick goes away ------------------------------------------------------

struct UnplugCase {
  const char* name;
  std::function<void(int)> unplug;
};

void PrintTo(const UnplugCase& c, std::ostream* os) { *os << c.name; }

class UsbUnplugTest : public UsbTransportTest, public ::testing::WithParamInterface<UnplugCase> {};

TEST_P(UsbUnplugTest, RequestsAreStillAnsweredAndOpenTakesTheBrickPluggedBack) {
  const int brick = fakeUsbPlug();
  ASSERT_EQ(ask("nxt;open"), "ok");
  ASSERT_EQ(ask("nxt;batterylevel"), "8100");
  GetParam().unplug(brick);
  EXPECT_EQ(ask("nxt;batterylevel"), "err: timeout");
  EXPECT_EQ(deviceLink.status.code, kTransportGone);
  auto lines = stderrLines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find("went away"), std::string::npos) << lines[0];

  // Once gone, nothing more is tried on the device: requests fail at once.
  fakeUsbClearCalls();
  EXPECT_EQ(ask("nxt;batterylevel"), "err: timeout");
  EXPECT_EQ(ask("nxt;getname"), "err: timeout");
  EXPECT_EQ(ask("nxt;playtone;440;100"), "err: timeout");
  EXPECT_TRUE(fakeUsbCalls().empty());

  fakeUsbPlug(brickNamed("NXT", 7400));
  EXPECT_EQ(ask("nxt;open"), "ok");
  EXPECT_FALSE(isFatal(deviceLink.status));
  EXPECT_EQ(ask("nxt;batterylevel"), "7400");
  EXPECT_EQ(fakeUsbLive().openHandles, 1) << "the old handle is closed";
  EXPECT_TRUE(stderrLines().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Moments, UsbUnplugTest,
    ::testing::Values(
        UnplugCase{"DuringTheWrite", [](int b) { fakeUsbFailNextWrite(b, FakeFault::kUnplug); }},
        UnplugCase{"DuringTheRead", [](int b) { fakeUsbFailNextReply(b, FakeFault::kUnplug); }},
        UnplugCase{"BetweenRequests", [](int b) { fakeUsbUnplug(b); }}),
    caseName<UnplugCase>);

TEST_F(UsbTransportTest, OpenAfterAReplugWithNoFailedExchangeTakesTheNewDevice) {
  const int old = fakeUsbPlug();
  ASSERT_EQ(ask("nxt;open"), "ok");
  fakeUsbUnplug(old);
  const int replugged = fakeUsbPlug(brickNamed("NXT", 7400));
  EXPECT_EQ(ask("nxt;open"), "ok");
  EXPECT_EQ(ask("nxt;batterylevel"), "7400");
  EXPECT_EQ(fakeUsbCallsTo("libusb_claim_interface").back().device, replugged);
  EXPECT_TRUE(stderrLines().empty());
}

TEST_F(UsbTransportTest, OpenWhileTheBrickIsAwayKeepsTheOldHandleUntilItIsBack) {
  fakeUsbPlug(otherDevice(0x1d6b, 0x0002));  // a root hub stays on the bus
  const int old = fakeUsbPlug();
  ASSERT_EQ(ask("nxt;open"), "ok");
  BrickHandle* held = deviceLink.brick;
  fakeUsbUnplug(old);
  EXPECT_EQ(ask("nxt;open"), "err");
  EXPECT_EQ(deviceLink.brick, held);
  EXPECT_EQ(ask("nxt;batterylevel"), "err: timeout");
  const auto lines = stderrLines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find("no NXT found"), std::string::npos) << lines[0];

  fakeUsbPlug();
  EXPECT_EQ(ask("nxt;open"), "ok");
  EXPECT_EQ(ask("nxt;batterylevel"), "8100");
  EXPECT_EQ(fakeUsbLive().openHandles, 1);
}

TEST_F(UsbTransportTest, TheSessionsStopsOpenALostLinkOnceAndSayWhenTheyFailed) {
  const int brick = fakeUsbPlug();
  ASSERT_EQ(ask("nxt;open"), "ok");
  fakeUsbUnplug(brick);
  EXPECT_FALSE(interpreter.coastAllMotors());
  const int back = fakeUsbPlug();
  EXPECT_TRUE(interpreter.coastAllMotors());
  std::vector<std::string> sent;
  for (const FakeUsbCall& call : fakeUsbTransfers(back, 0x01)) sent.push_back(hexOf(call.data));
  EXPECT_EQ(sent, (std::vector<std::string>{"80 04 00 00 00 00 00 00 00 00 00 00",
                                            "80 04 01 00 00 00 00 00 00 00 00 00",
                                            "80 04 02 00 00 00 00 00 00 00 00 00"}));
}

// --- Sharing one brick ------------------------------------------------------

TEST_F(UsbTransportTest, OpenTwiceSharesOneClaimAndCloseReleasesIt) {
  fakeUsbPlug();
  EXPECT_EQ(ask("nxt;open"), "ok");
  EXPECT_EQ(ask("nxt;open"), "ok");
  EXPECT_EQ(fakeUsbCallsTo("libusb_open").size(), 1u);
  EXPECT_EQ(fakeUsbCallsTo("libusb_claim_interface").size(), 1u);
  EXPECT_EQ(fakeUsbLive().claimedInterfaces, 1);
  EXPECT_EQ(ask("nxt;batterylevel"), "8100");

  EXPECT_EQ(ask("nxt;close"), "ok");
  EXPECT_EQ(fakeUsbLive().openHandles, 0);
  EXPECT_EQ(fakeUsbLive().contexts, 0);
  EXPECT_EQ(fakeUsbCallsTo("libusb_release_interface").size(), 1u);
  EXPECT_EQ(ask("nxt;batterylevel"), "err: not_enable_interface");

  EXPECT_EQ(ask("nxt;open"), "ok");
  EXPECT_EQ(ask("nxt;batterylevel"), "8100");
  EXPECT_EQ(fakeUsbCallsTo("libusb_claim_interface").size(), 2u);
}

TEST_F(UsbTransportTest, EachSharedHandleIsClosedOnItsOwn) {
  const int brick = fakeUsbPlug();
  auto first = std::make_unique<OpenedBrick>();
  OpenedBrick second;
  ASSERT_NE(first->device, nullptr);
  ASSERT_NE(second.device, nullptr);
  first.reset();
  EXPECT_EQ(fakeUsbLive().claimedInterfaces, 1);

  EXPECT_EQ(transportExchange(second.device, {0x00, 0x0b}), "02 0b 00 a4 1f");
  EXPECT_EQ(fakeUsbTransfers(brick, 0x01).size(), 1u);
}

TEST_F(UsbTransportTest, ReceivingAsksForOneTelegramAtMost) {
  const int brick = fakeUsbPlug();
  OpenedBrick opened;
  ASSERT_NE(opened.device, nullptr);
  const std::uint8_t battery[] = {0x00, 0x0b};
  ASSERT_EQ(transportSend(opened.device, battery, sizeof battery), kTransportOk);
  fakeUsbClearCalls();
  std::uint8_t reply[512];
  std::size_t received = 0;
  ASSERT_EQ(transportReceive(opened.device, reply, sizeof reply, received), kTransportOk);
  EXPECT_EQ(received, 5u);
  const auto reads = fakeUsbTransfers(brick, 0x82);
  ASSERT_EQ(reads.size(), 1u);
  EXPECT_EQ(reads[0].length, 64) << "a larger read can wait for more";
}

}  // namespace
