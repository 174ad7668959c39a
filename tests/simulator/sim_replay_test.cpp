// The replay rules, on a recording written by hand: each CDB answered in
// its recorded order, polls repeated, unknown commands refused once aloud,
// a gone drive staying gone, data bounded by the buffer.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "device/trace_reader.h"
#include "sim_test_util.h"
#include "simulator/sim_replay.h"

namespace {

TraceEntry Entry(int drive, std::vector<uint8_t> cdb, ExchangeOutcome outcome,
                 std::vector<uint8_t> data = {}, uint8_t scsi = kScsiStatusGood) {
  TraceEntry entry;
  entry.drive = static_cast<uint8_t>(drive);
  std::copy(cdb.begin(), cdb.end(), entry.cdb.begin());
  entry.cdbLength = static_cast<uint8_t>(cdb.size());
  entry.direction = data.empty() ? kDirectionNone : kDirectionIn;
  entry.length = entry.moved = static_cast<uint32_t>(data.size());
  entry.outcome = outcome;
  entry.scsiStatus = outcome == ExchangeOutcome::kCheckCondition ? kScsiStatusCheckCondition : scsi;
  entry.data = std::move(data);
  return entry;
}

struct Asked {
  ScsiExchange x;
  std::vector<uint8_t> buffer;
};

Asked AskReplay(CReplayRecording& replay, int drive, std::vector<uint8_t> cdb,
                uint32_t length = 0) {
  Asked asked;
  asked.buffer.assign(length, 0xEE);
  asked.x.SetCdb(cdb.data(), static_cast<uint8_t>(cdb.size()));
  asked.x.direction = length > 0 ? kDirectionIn : kDirectionNone;
  asked.x.data = length > 0 ? asked.buffer.data() : nullptr;
  asked.x.dataLength = length;
  replay.Answer(drive, asked.x);
  return asked;
}

const std::vector<uint8_t> kSampleA = {0xFD, 0xFB, 0x13, 0, 0, 0x30, 0, 0, 0, 0, 0, 0};
const std::vector<uint8_t> kSampleB = {0xFD, 0xFB, 0x13, 0, 0, 0x40, 0, 0, 0, 0, 0, 0};

TEST(Replay, EachCdbTakesItsOwnNextAnswerAndPollsRepeatTheirLast) {
  TraceEntry notReady = Entry(0, kTur, ExchangeOutcome::kCheckCondition);
  notReady.sense = DecodeSense(FixedSense({2, 4, 1}).data(), kFixedSenseLength);
  std::vector<TraceEntry> entries = {
      notReady,
      Entry(0, kTur, ExchangeOutcome::kDone),
      Entry(0, kSampleA, ExchangeOutcome::kDone, {0, 0, 1, 0, 0, 0, 2, 0}),
      Entry(0, kSampleB, ExchangeOutcome::kDone, {0, 0, 3, 0, 0, 0, 4, 0}),
      Entry(0, kSampleA, ExchangeOutcome::kDone, {0, 0, 5, 0, 0, 0, 6, 0}),
      Entry(1, kSampleA, ExchangeOutcome::kDone, {0, 0, 7, 0, 0, 0, 8, 0}),
  };
  std::vector<std::string> told;
  CReplayRecording replay(entries, false, [&](const std::string& text) { told.push_back(text); });

  const Asked first = AskReplay(replay, 0, kTur);
  EXPECT_EQ(first.x.outcome, ExchangeOutcome::kCheckCondition);
  EXPECT_EQ(FormatSense(first.x.sense), "2/04/01");
  for (int i = 0; i < 5; ++i)
    EXPECT_EQ(AskReplay(replay, 0, kTur).x.outcome, ExchangeOutcome::kDone);

  // Sample B before the second A: each CDB keeps its own place.
  EXPECT_EQ(AskReplay(replay, 0, kSampleB, 8).buffer[2], 3);
  EXPECT_EQ(AskReplay(replay, 0, kSampleA, 8).buffer[2], 1);
  EXPECT_EQ(AskReplay(replay, 0, kSampleA, 8).buffer[2], 5);
  EXPECT_EQ(AskReplay(replay, 1, kSampleA, 8).buffer[2], 7) << "drives do not share answers";
  EXPECT_TRUE(told.empty());

  // Used up: refused as an unknown command, said once.
  for (int i = 0; i < 3; ++i) {
    const Asked again = AskReplay(replay, 0, kSampleA, 8);
    EXPECT_EQ(again.x.outcome, ExchangeOutcome::kCheckCondition);
    EXPECT_EQ(FormatSense(again.x.sense), "5/20/00");
    EXPECT_EQ(again.x.transferred, 0u);
  }
  ASSERT_EQ(told.size(), 1u);
  EXPECT_EQ(told[0], "the recording has no answer for CDB [FD FB 13 00 00 30 00 00 00 00 00 00]");
  EXPECT_EQ(replay.Unanswered().size(), 1u);
}

TEST(Replay, DataIsBoundedByTheBufferAndFilledPastACut) {
  TraceEntry cut = Entry(0, kSampleA, ExchangeOutcome::kDone, {9, 9});
  cut.moved = cut.length = 8;  // only two of eight bytes recorded
  CReplayRecording replay({cut, Entry(0, kSampleB, ExchangeOutcome::kDone, {1, 2, 3, 4})}, false,
                          nullptr);
  const Asked filled = AskReplay(replay, 0, kSampleA, 8);
  EXPECT_EQ(filled.x.transferred, 8u);
  EXPECT_EQ(filled.buffer, (std::vector<uint8_t>{9, 9, 0, 0, 0, 0, 0, 0}));
  const Asked small = AskReplay(replay, 0, kSampleB, 2);
  EXPECT_EQ(small.x.transferred, 2u);
  EXPECT_EQ(small.buffer, (std::vector<uint8_t>{1, 2}));
}

TEST(Replay, AGoneDriveStaysGoneAndBusyAndTimeOutsComeBack) {
  CReplayRecording replay({Entry(0, kSampleA, ExchangeOutcome::kDone, {}, kScsiStatusBusy),
                           Entry(0, kSampleA, ExchangeOutcome::kTimedOut),
                           Entry(0, kSampleB, ExchangeOutcome::kDriveGone)},
                          false, nullptr);
  const Asked busy = AskReplay(replay, 0, kSampleA, 8);
  EXPECT_EQ(busy.x.outcome, ExchangeOutcome::kDone);
  EXPECT_EQ(busy.x.scsiStatus, kScsiStatusBusy);
  EXPECT_EQ(AskReplay(replay, 0, kSampleA, 8).x.outcome, ExchangeOutcome::kTimedOut);
  EXPECT_EQ(AskReplay(replay, 0, kSampleB, 8).x.outcome, ExchangeOutcome::kDriveGone);
  EXPECT_EQ(AskReplay(replay, 0, kTur).x.outcome, ExchangeOutcome::kDriveGone);
  EXPECT_TRUE(replay.Unanswered().empty()) << "a gone drive has nothing to tell";

  // A kernel's refusal (access denied) keeps its error.
  TraceEntry refused = Entry(0, kSampleA, ExchangeOutcome::kTransportError);
  refused.error = 5;
  CReplayRecording kernel({refused}, false, nullptr);
  EXPECT_EQ(AskReplay(kernel, 0, kSampleA, 8).x.hostError, 5u);
}

TEST(Replay, AVolumeStandsInForEachInquiryTheRecordedRunSkipped) {
  const std::vector<uint8_t> inquiry = {0x12, 0, 0, 0, 56, 0};
  CReplayRecording replay({Entry(0, inquiry, ExchangeOutcome::kTimedOut),
                           Entry(0, inquiry, ExchangeOutcome::kDone, std::vector<uint8_t>(56, 1)),
                           Entry(1, inquiry, ExchangeOutcome::kDone, std::vector<uint8_t>(56, 2)),
                           Entry(1, kTur, ExchangeOutcome::kDone)},
                          false, nullptr);
  EXPECT_EQ(replay.VolumeDrives(), (std::vector<int>{0, 0, 1}));
}

}  // namespace
