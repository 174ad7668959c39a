#include "commands/drive_commands.h"

#include <cstring>

#include "commands/disc_globals.h"
#include "commands/vendor_code.h"
#include "device/big_endian.h"
#include "device/device_manager.h"

namespace {

// Sends through the program's manager; the exchange, when asked for, gets
// the outcome (no manager: a transport error, nothing sent).
uint8_t Send(const uint8_t* cdb, uint8_t direction, void* buffer, uint32_t length,
             uint32_t timeoutSeconds, ScsiExchange* sent = nullptr) {
  ScsiExchange exchange;
  exchange.SetCdb(cdb, CDeviceManager::CdbLengthFor(cdb[0]));
  exchange.direction = direction;
  exchange.data = static_cast<uint8_t*>(buffer);
  exchange.dataLength = length;
  exchange.timeout = std::chrono::seconds(timeoutSeconds);
  if (g_pDeviceManager == nullptr) {
    exchange.outcome = ExchangeOutcome::kTransportError;
  } else {
    g_pDeviceManager->Execute(exchange);
  }
  if (sent != nullptr) *sent = exchange;
  return exchange.Status();
}

void PutVendorCode(uint8_t* cdb) { std::memcpy(cdb + 2, kVendorAccessCode, 4); }

}  // namespace

DiscTypeCode DiscTypeFromProfile(uint8_t profileLowByte) {
  switch (profileLowByte) {
    case 0x08: return kDiscCdRom;
    case 0x09: return kDiscCdR;
    case 0x0A: return kDiscCdRw;
    case 0x10: return kDiscDvdRom;
    case 0x11: return kDiscDvdMinusR;
    case 0x13:
    case 0x14: return kDiscDvdMinusRw;
    case 0x1A: return kDiscDvdPlusRw;
    case 0x1B: return kDiscDvdPlusR;
    case 0x2B: return kDiscDvdPlusRDl;
    default: return kDiscUnknown;
  }
}

bool DriveNotReady(ScsiExchange* sent) {
  uint8_t cdb[12] = {};
  return Send(cdb, kDirectionNone, nullptr, 0, kCommandTimeoutSeconds, sent) != kStatusDone;
}

DiscTypeCode GetCurrentProfile() {
  uint8_t cdb[12] = {0x46, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x08, 0x00};
  uint8_t header[8] = {};
  if (Send(cdb, kDirectionIn, header, sizeof header, kCommandTimeoutSeconds) != kStatusDone) {
    return kDiscUnknown;
  }
  // Only the low byte of the current profile counts.
  return DiscTypeFromProfile(header[7]);
}

bool GetWriteSpeeds(uint8_t* buffer, uint32_t* transferred) {
  uint8_t cdb[12] = {0xAC, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x0A, 0x03, 0x00};
  ScsiExchange sent;
  const bool done = Send(cdb, kDirectionIn, buffer, kGetWriteSpeedsLength, kCommandTimeoutSeconds,
                         &sent) == kStatusDone;
  if (transferred != nullptr) *transferred = sent.Moved();
  return done;
}

bool ReadAdipInformation(uint8_t* buffer) {
  uint8_t cdb[12] = {0xAD, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x11, 0x01, 0x2C, 0x00, 0x00};
  return Send(cdb, kDirectionIn, buffer, kAdipLength, kCommandTimeoutSeconds) == kStatusDone;
}

bool ReadPrerecordedInformation(uint8_t* buffer) {
  uint8_t cdb[12] = {0xAD, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x0E, 0x00, 0x2C, 0x00, 0x00};
  return Send(cdb, kDirectionIn, buffer, kPrerecordedLength, kCommandTimeoutSeconds) ==
         kStatusDone;
}

bool SetDiagnosticMode(uint8_t mode, ScsiExchange* sent) {
  uint8_t cdb[12] = {0xFD, static_cast<uint8_t>(mode == kDiagnosticEnter ? 0xF1 : 0xF2)};
  PutVendorCode(cdb);
  return Send(cdb, kDirectionNone, nullptr, 0, kCommandTimeoutSeconds, sent) == kStatusDone;
}

void BuildTefeSampleCdb(uint8_t cdb[12], SpeedCode speed, uint32_t psn) {
  std::memset(cdb, 0, 12);
  cdb[0] = 0xFD;
  cdb[1] = 0xFB;
  PutVendorCode(cdb);
  cdb[6] = 0x05;
  cdb[7] = speed;
  PutBe24(cdb + 8, psn & 0xFFFFFF);
  cdb[11] = 0x00;
}

TefeReading DecodeTefeReply(const uint8_t reply[8]) {
  TefeReading reading;
  reading.valid = reply[0] == 0;
  reading.te = GetBe16(reply + 1);
  reading.fe = GetBe16(reply + 5);
  return reading;
}

bool TakeTefeSample(SpeedCode speed, uint32_t psn, TefeReading* reading, ScsiExchange* sent) {
  uint8_t cdb[12];
  BuildTefeSampleCdb(cdb, speed, psn);
  uint8_t reply[kTefeReplyLength] = {};
  const uint8_t status =
      Send(cdb, kDirectionIn, reply, sizeof reply, kSampleTimeoutSeconds, sent);
  *reading = DecodeTefeReply(reply);
  return status == kStatusDone && reading->valid;
}

OuterTrackSample TakeOuterTrackSample(SpeedCode speed) {
  OuterTrackSample sample;
  sample.psn = g_discType.load() == kDiscDvdPlusRDl ? kOuterTrackPsnDualLayer : kOuterTrackPsn;
  ScsiExchange sent;
  const bool taken = TakeTefeSample(speed, sample.psn, &sample.reading, &sent);
  sample.transportError = sent.hostError;
  if (!taken) {
    sample.reading.valid = false;
    sample.result = kSampleFailed;
  } else if (sample.reading.te > kTeLimit || sample.reading.fe > kFeLimit) {
    sample.result = kSampleNotRecommended;
  } else {
    sample.result = kSampleFit;
  }
  return sample;
}

int SampleOuterTrack(SpeedCode speed) { return TakeOuterTrackSample(speed).result; }

void BuildPreventAllowCdb(uint8_t cdb[12], bool prevent) {
  std::memset(cdb, 0, 12);
  cdb[0] = 0x1E;
  cdb[4] = prevent ? 0x01 : 0x00;
}

void BuildStartStopUnitCdb(uint8_t cdb[12], bool start, bool loadEject) {
  std::memset(cdb, 0, 12);
  cdb[0] = 0x1B;
  cdb[4] = static_cast<uint8_t>((loadEject ? 0x02 : 0x00) | (start ? 0x01 : 0x00));
}

bool PreventMediumRemoval(bool prevent) {
  uint8_t cdb[12];
  BuildPreventAllowCdb(cdb, prevent);
  return Send(cdb, kDirectionNone, nullptr, 0, kCommandTimeoutSeconds) == kStatusDone;
}

bool EjectMedium() {
  // Another program may have locked the tray; a drive that refuses the
  // unlock still gets the eject, which then says why it failed.
  PreventMediumRemoval(false);
  uint8_t cdb[12];
  BuildStartStopUnitCdb(cdb, false, true);
  return Send(cdb, kDirectionNone, nullptr, 0, kCommandTimeoutSeconds) == kStatusDone;
}
