// Disc identification from whatever the drive answers to GET CONFIGURATION,
// READ DVD STRUCTURE and GET PERFORMANCE, through the real device manager.
#include <cstring>

#include "commands/disc_globals.h"
#include "console/disc_identification.h"
#include "fuzz/fuzz_input.h"
#include "fuzz/scripted_reply.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput in(data, size);
  const uint8_t mode = in.Byte();
  ResetDiscGlobals();
  {
    ScriptedRig rig((mode & 1) != 0);
    rig.drive.On(0x46, ReadScriptedReply(in));
    rig.drive.On(0xAD, ReadScriptedReply(in));
    rig.drive.On(0xAC, ReadScriptedReply(in));
    const DiscView view = IdentifyDisc((mode & 2) != 0);

    FUZZ_CHECK(view.discType.has_value() || view.resetDiscInfo);
    if (view.manufacturerId) FUZZ_CHECK(view.manufacturerId->size() <= 8);
    if (view.mediaTypeId) FUZZ_CHECK(view.mediaTypeId->size() <= 6);
    FUZZ_CHECK(std::strlen(g_manufacturerId) < sizeof g_manufacturerId);
    FUZZ_CHECK(std::strlen(g_mediaTypeId) < sizeof g_mediaTypeId);
    FUZZ_CHECK(g_speedCount >= 0 && g_speedCount <= 10);
    if (view.speedEntries) FUZZ_CHECK(view.speedEntries->size() <= 10);
    if (view.chartLastLba) {
      FUZZ_CHECK(*view.chartLastLba == kAssumedSingleLayerLastLba ||
                 *view.chartLastLba == kAssumedDualLayerLastLba);
    }
    if (view.enableRunControls) FUZZ_CHECK((mode & 2) != 0 && view.speedCode.has_value());
  }

  // The performance parser over a buffer of exactly the bytes left, with any
  // length the caller might claim for it up to that size.
  std::vector<uint8_t> reply = in.Rest();
  const uint32_t claimed = reply.empty() ? 0 : reply[0] % (reply.size() + 1);
  const WriteSpeedList list = ParseWriteSpeeds(reply.data(), claimed);
  FUZZ_CHECK(list.entries.size() == list.codes.size());
  FUZZ_CHECK(list.codes.size() <= 10);
  if (claimed < 8) FUZZ_CHECK(!list.hasLastEndLba && list.entries.empty());
  return 0;
}
