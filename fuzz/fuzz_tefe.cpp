// The TE/FE sample reply: any reply to the sample command, through the real
// device manager, and the reply decoder on its own.
#include "commands/disc_globals.h"
#include "commands/drive_commands.h"
#include "fuzz/fuzz_input.h"
#include "fuzz/scripted_reply.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput in(data, size);
  const uint8_t mode = in.Byte();
  const SpeedCode speed = in.Byte();
  const uint32_t psn = in.U32();
  {
    ScriptedRig rig((mode & 1) != 0);
    g_discType = (mode & 2) != 0 ? kDiscDvdPlusRDl : kDiscDvdPlusR;
    const ScriptedReply script = ReadScriptedReply(in);
    rig.drive.On(0xFD, script);

    TefeReading reading;
    const bool ok = TakeTefeSample(speed, psn, &reading);
    if (ok) FUZZ_CHECK(reading.valid);
    // The reply goes through the manager as it came, zero-filled past its end.
    uint8_t expected[kTefeReplyLength] = {};
    for (size_t i = 0; i < script.data.size() && i < sizeof expected; ++i)
      expected[i] = script.data[i];
    // A reading only from a GOOD reply with all 8 bytes and status byte 0,
    // on either transport: both say how much a reply moved.
    if (ok) FUZZ_CHECK(script.outcome == ExchangeOutcome::kDone && script.scsiStatus == 0);
    if (script.outcome == ExchangeOutcome::kDone && script.scsiStatus == 0) {
      FUZZ_CHECK(ok == (expected[0] == 0 && script.data.size() >= kTefeReplyLength));
      FUZZ_CHECK(reading.te == (expected[1] << 8 | expected[2]));
      FUZZ_CHECK(reading.fe == (expected[5] << 8 | expected[6]));
    }
    const int verdict = SampleOuterTrack(speed);
    FUZZ_CHECK(verdict == kSampleNotRecommended || verdict == kSampleFit ||
               verdict == kSampleFailed);
    if (!ok) FUZZ_CHECK(verdict == kSampleFailed);
    if (verdict == kSampleFit) FUZZ_CHECK(reading.te <= kTeLimit && reading.fe <= kFeLimit);
    // The sample command carries the speed and the low 24 bits of the PSN.
    const auto sent = rig.drive.Commands();
    bool seen = false;
    for (const auto& c : sent) {
      if (c.cdb[0] != 0xFD || c.cdb[1] != 0xFB) continue;
      if (c.cdb[7] == speed && (c.cdb[8] << 16 | c.cdb[9] << 8 | c.cdb[10]) == int(psn & 0xFFFFFF))
        seen = true;
      FUZZ_CHECK(c.dataLength == kTefeReplyLength);
    }
    FUZZ_CHECK(seen);
    g_discType = kDiscUnknown;
  }

  // The decoder alone on the next 8 bytes.
  std::vector<uint8_t> raw = in.Bytes(kTefeReplyLength);
  raw.resize(kTefeReplyLength, 0);
  const TefeReading direct = DecodeTefeReply(raw.data());
  FUZZ_CHECK(direct.valid == (raw[0] == 0));
  FUZZ_CHECK(direct.te == (raw[1] << 8 | raw[2]) && direct.fe == (raw[5] << 8 | raw[6]));
  return 0;
}
