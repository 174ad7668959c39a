// The exchange as both transports fill it: the outcome, ExecuteCommand's
// 0/1/255, the host error, the sense (decoded and as it came) and the bytes
// moved, for every way a drive can answer.
#include "device/scsi_exchange.h"

#include <gtest/gtest.h>

#include "device/device_manager.h"
#include "tests/support/scripted_drive.h"

namespace {

struct Case {
  const char* what;
  ScriptedReply reply;
  ExchangeOutcome passThrough;
  uint32_t hostError;  // pass-through
  ExchangeOutcome aspi;
  uint16_t aspiStatus;  // request status | adapter status << 8
  uint8_t status;       // ExecuteCommand's over pass-through
  uint8_t aspiResult;   // and over ASPI
};

const Case kCases[] = {
    {"good, with data",
     {ExchangeOutcome::kDone, 0, 0, 0, 0, {1, 2, 3}},
     ExchangeOutcome::kDone,
     0,
     ExchangeOutcome::kDone,
     SS_COMP,
     kStatusDone,
     kStatusDone},
    {"check condition",
     {ExchangeOutcome::kCheckCondition, 2, 2, 0x3A, 0, {}},
     ExchangeOutcome::kCheckCondition,
     0,
     ExchangeOutcome::kCheckCondition,
     SS_ERR,
     kStatusFailed,
     kStatusFailed},
    {"busy",
     {ExchangeOutcome::kDone, 8, 0, 0, 0, {}},
     ExchangeOutcome::kDone,
     0,
     ExchangeOutcome::kDone,
     SS_ERR,
     kStatusDone,
     kStatusFailed},  // an answer on both; ExecuteCommand fails it on ASPI
    {"task set full",
     {ExchangeOutcome::kDone, 0x28, 0, 0, 0, {}},
     ExchangeOutcome::kDone,
     0,
     ExchangeOutcome::kDone,
     SS_ERR,
     kStatusDone,
     kStatusFailed},
    {"timed out",
     {ExchangeOutcome::kTimedOut, 0, 0, 0, 0, {}},
     ExchangeOutcome::kTimedOut,
     kErrorSemTimeout,
     ExchangeOutcome::kTimedOut,
     SS_ERR | HASTAT_TIMEOUT << 8,
     kStatusTimedOut,
     kStatusTimedOut},
    {"drive gone",
     {ExchangeOutcome::kDriveGone, 0, 0, 0, 0, {}},
     ExchangeOutcome::kDriveGone,
     kErrorDevNotExist,
     ExchangeOutcome::kDriveGone,
     SS_ERR | HASTAT_SEL_TO << 8,
     kStatusFailed,
     kStatusFailed},
};

ScsiExchange SendInquiry(CDeviceManager& manager, uint8_t* data, uint32_t length) {
  ScsiExchange exchange;
  const uint8_t cdb[6] = {0x12, 0, 0, 0, static_cast<uint8_t>(length), 0};
  exchange.SetCdb(cdb, sizeof cdb);
  exchange.direction = kDirectionIn;
  exchange.data = data;
  exchange.dataLength = length;
  exchange.timeout = std::chrono::seconds(15);
  manager.Execute(exchange);
  return exchange;
}

void ExpectTransport(bool aspi) {
  for (const Case& c : kCases) {
    SCOPED_TRACE(std::string(c.what) + (aspi ? " (aspi)" : " (pass-through)"));
    ScriptedDrive drive;
    auto host =
        std::make_shared<CSimulatedHost>(aspi ? AspiConfig({&drive}) : PassThroughConfig({&drive}));
    CDeviceManager manager(host);
    manager.SetMessageHandler([](const std::string&, const std::string&) {});
    ASSERT_TRUE(manager.Initialize());
    manager.EnumerateDrives();
    ASSERT_EQ(manager.GetDriveCount(), 1);
    drive.On(0x12, c.reply);

    uint8_t data[8] = {};
    const ScsiExchange x = SendInquiry(manager, data, sizeof data);
    EXPECT_EQ(x.outcome, aspi ? c.aspi : c.passThrough);
    EXPECT_EQ(x.Status(), aspi ? c.aspiResult : c.status);
    // The wrapper maps the same way.
    const uint8_t cdb[6] = {0x12, 0, 0, 0, sizeof data, 0};
    uint8_t again[8] = {};
    EXPECT_EQ(manager.ExecuteCommand(cdb, kDirectionIn, again, sizeof again, 15), x.Status());
    EXPECT_EQ(x.hostError, aspi ? 0u : c.hostError);
    EXPECT_EQ(x.aspiStatus, aspi ? c.aspiStatus : 0u);
    EXPECT_EQ(x.scsiStatus, c.reply.outcome == ExchangeOutcome::kDone ||
                                    c.reply.outcome == ExchangeOutcome::kCheckCondition
                                ? c.reply.scsiStatus
                                : 0);
    const bool check = c.reply.scsiStatus == kScsiStatusCheckCondition;
    EXPECT_EQ(x.sense.valid, check);
    if (check) {
      EXPECT_EQ(x.sense.key, c.reply.sense.key);
      EXPECT_EQ(x.sense.asc, c.reply.sense.asc);
      EXPECT_EQ(x.senseBytes[0], 0x70);
      EXPECT_EQ(x.senseBytes[12], c.reply.sense.asc);
      // ASPI's sense area holds 14 bytes; pass-through's the whole 32.
      EXPECT_EQ(x.senseLength, aspi ? kAspiSenseLength : 32);
    }
    // What moved, on either transport: the reply where the drive answered,
    // else the length asked for, as the layer left it.
    const uint32_t moved = c.reply.outcome == ExchangeOutcome::kDone ||
                                   c.reply.outcome == ExchangeOutcome::kCheckCondition
                               ? static_cast<uint32_t>(c.reply.data.size())
                               : sizeof data;
    EXPECT_EQ(x.Moved(), moved);
    if (c.reply.data.size() == 3) {
      EXPECT_EQ(data[0], 1);
      EXPECT_EQ(data[2], 3);
    }
  }
}

TEST(ScsiExchangeOutcome, PassThroughFillsEveryField) { ExpectTransport(false); }

TEST(ScsiExchangeOutcome, AspiFillsEveryField) { ExpectTransport(true); }

TEST(ScsiExchangeOutcome, NoDriveSelectedSendsNothing) {
  ScriptedDrive drive;
  auto host = std::make_shared<CSimulatedHost>(PassThroughConfig({}));
  CDeviceManager manager(host);
  ASSERT_TRUE(manager.Initialize());
  manager.EnumerateDrives();
  uint8_t data[8] = {};
  const ScsiExchange x = SendInquiry(manager, data, sizeof data);
  EXPECT_EQ(x.outcome, ExchangeOutcome::kTransportError);
  EXPECT_EQ(x.Status(), kStatusFailed);
  EXPECT_EQ(x.transferred, 0u);
  EXPECT_TRUE(drive.Commands().empty());
}

TEST(ScsiExchangeAnswer, CheckConditionCarriesFixedSense) {
  struct AnswerCase {
    uint8_t status, key, asc, ascq;
    ExchangeOutcome outcome;
    uint8_t senseLength;
  };
  const AnswerCase cases[] = {
      {0x00, 0, 0, 0, ExchangeOutcome::kDone, 0},
      {0x08, 0, 0, 0, ExchangeOutcome::kDone, 0},
      {0x02, 0x05, 0x24, 0x00, ExchangeOutcome::kCheckCondition, 18},
      {0x02, 0x12, 0x3A, 0x01, ExchangeOutcome::kCheckCondition, 18},  // key cut to 4 bits
  };
  for (const AnswerCase& c : cases) {
    ScsiExchange x;
    x.Answer(c.status, {c.key, c.asc, c.ascq});
    EXPECT_EQ(x.outcome, c.outcome);
    EXPECT_EQ(x.scsiStatus, c.status);
    EXPECT_EQ(x.senseLength, c.senseLength);
    EXPECT_EQ(x.sense.valid, c.senseLength > 0);
    if (c.senseLength > 0) {
      EXPECT_EQ(x.senseBytes[2], c.key & 0x0F);
      EXPECT_EQ(x.sense.key, c.key & 0x0F);
      EXPECT_EQ(x.sense.asc, c.asc);
      EXPECT_EQ(x.sense.ascq, c.ascq);
      EXPECT_EQ(x.senseBytes[7], 10);
    }
  }
}

}  // namespace
