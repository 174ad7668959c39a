#include "commands/drive_commands.h"

#include <chrono>
#include <cstring>
#include <thread>

#include "commands/disc_globals.h"
#include "commands/vendor_code.h"
#include "device/big_endian.h"
#include "device/device_manager.h"

namespace {

bool DriveBusy(const ScsiExchange& exchange) {
  return exchange.Done() &&
         (exchange.scsiStatus == kScsiStatusBusy || exchange.scsiStatus == kScsiStatusTaskSetFull);
}

// Sends through the program's manager, again while the drive answers BUSY
// (any command: a drive busy for a moment has done nothing yet); the
// exchange, when asked for, gets the last outcome (no manager: a transport
// error, nothing sent). A drive still busy after every try did not do it.
uint8_t Send(const uint8_t* cdb, uint8_t direction, void* buffer, uint32_t length,
             uint32_t timeoutSeconds, ScsiExchange* sent = nullptr) {
  ScsiExchange exchange;
  auto pause = std::chrono::milliseconds(60);
  for (int tryNumber = 1;; ++tryNumber) {
    exchange = ScsiExchange{};
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
    if (!DriveBusy(exchange) || tryNumber == kBusyTries) break;
    std::this_thread::sleep_for(pause);
    pause *= 2;  // 60, 120, 240, 480 ms: about a second in all
  }
  if (sent != nullptr) *sent = exchange;
  return DriveBusy(exchange) ? kStatusFailed : exchange.Status();
}

void PutVendorCode(uint8_t* cdb) { std::memcpy(cdb + 2, kVendorAccessCode, 4); }

}  // namespace

uint8_t SendDriveCommand(const uint8_t* cdb, uint8_t direction, void* buffer, uint32_t length,
                         ScsiExchange* sent) {
  return Send(cdb, direction, buffer, length, kCommandTimeoutSeconds, sent);
}

const char* DiscTypeName(DiscTypeCode type) {
  switch (type) {
    case kDiscCdRom: return "CD-ROM";
    case kDiscCdR: return "CD-R";
    case kDiscCdRw: return "CD-RW";
    case kDiscDvdRom: return "DVD-ROM";
    case kDiscDvdPlusRDl: return "DVD+R DL";
    case kDiscDvdPlusR: return "DVD+R";
    case kDiscDvdPlusRw: return "DVD+RW";
    case kDiscDvdMinusR: return "DVD-R";
    case kDiscDvdMinusRw: return "DVD-RW";
    default: return "unknown";
  }
}

DiscTypeCode DiscTypeFromProfile(uint8_t profileLowByte) {
  switch (profileLowByte) {
    case kProfileCdRom: return kDiscCdRom;
    case kProfileCdR: return kDiscCdR;
    case kProfileCdRw: return kDiscCdRw;
    case kProfileDvdRom: return kDiscDvdRom;
    case kProfileDvdMinusR: return kDiscDvdMinusR;
    case kProfileDvdMinusRwRestricted:
    case kProfileDvdMinusRwSequential: return kDiscDvdMinusRw;
    case kProfileDvdPlusRw: return kDiscDvdPlusRw;
    case kProfileDvdPlusR: return kDiscDvdPlusR;
    case kProfileDvdPlusRDl: return kDiscDvdPlusRDl;
    default: return kDiscUnknown;
  }
}

bool DriveNotReady(ScsiExchange* sent) {
  uint8_t cdb[12] = {};
  return Send(cdb, kDirectionNone, nullptr, 0, kCommandTimeoutSeconds, sent) != kStatusDone;
}

DiscTypeCode GetCurrentProfile() {
  uint8_t cdb[12] = {kOpGetConfiguration, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x08, 0x00};
  uint8_t header[8] = {};
  if (Send(cdb, kDirectionIn, header, sizeof header, kCommandTimeoutSeconds) != kStatusDone) {
    return kDiscUnknown;
  }
  // Only the low byte of the current profile counts.
  return DiscTypeFromProfile(header[7]);
}

bool GetWriteSpeeds(uint8_t* buffer, uint32_t* transferred) {
  uint8_t cdb[12] = {kOpGetPerformance,      0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x0A,
                     kPerformanceWriteSpeed, 0x00};
  ScsiExchange sent;
  const bool done = Send(cdb, kDirectionIn, buffer, kGetWriteSpeedsLength, kCommandTimeoutSeconds,
                         &sent) == kStatusDone;
  if (transferred != nullptr) *transferred = sent.Moved();
  return done;
}

bool ReadAdipInformation(uint8_t* buffer) {
  uint8_t cdb[12] = {kOpReadDvdStructure, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
                     kStructureAdip,      0x01, 0x2C, 0x00, 0x00};
  return Send(cdb, kDirectionIn, buffer, kAdipLength, kCommandTimeoutSeconds) == kStatusDone;
}

bool ReadPrerecordedInformation(uint8_t* buffer) {
  uint8_t cdb[12] = {kOpReadDvdStructure,   0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
                     kStructurePrerecorded, 0x00, 0x2C, 0x00, 0x00};
  return Send(cdb, kDirectionIn, buffer, kPrerecordedLength, kCommandTimeoutSeconds) == kStatusDone;
}

bool ReadPhysicalFormat(uint8_t* buffer, uint32_t* transferred) {
  uint8_t cdb[12] = {kOpReadDvdStructure, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, kStructurePhysical};
  PutBe16(cdb + 8, kPhysicalFormatLength);
  ScsiExchange sent;
  const bool done = Send(cdb, kDirectionIn, buffer, kPhysicalFormatLength, kCommandTimeoutSeconds,
                         &sent) == kStatusDone;
  *transferred = done ? sent.Moved() : 0;
  return done;
}

bool SetDiagnosticMode(uint8_t mode, ScsiExchange* sent) {
  uint8_t cdb[12] = {kOpVendor,
                     mode == kDiagnosticEnter ? kVendorEnterDiagnostic : kVendorLeaveDiagnostic};
  PutVendorCode(cdb);
  ScsiExchange exchange;
  bool done = false;
  for (int tryNumber = 1; tryNumber <= kLeaveTries; ++tryNumber) {
    done = Send(cdb, kDirectionNone, nullptr, 0, kCommandTimeoutSeconds, &exchange) == kStatusDone;
    // A drive left in the mode refuses every other program its vendor
    // commands until it is power-cycled: the leave is asked again, unless
    // the drive is gone or does not know the command at all.
    const bool unknown = exchange.outcome == ExchangeOutcome::kCheckCondition &&
                         exchange.sense.valid && exchange.sense.key == kSenseInvalidOpcode.key &&
                         exchange.sense.asc == kSenseInvalidOpcode.asc;
    if (done || mode == kDiagnosticEnter || unknown ||
        exchange.outcome == ExchangeOutcome::kDriveGone)
      break;
  }
  if (sent != nullptr) *sent = exchange;
  return done;
}

void BuildTefeSampleCdb(uint8_t cdb[12], SpeedCode speed, uint32_t psn) {
  std::memset(cdb, 0, 12);
  cdb[0] = kOpVendor;
  cdb[1] = kVendorTefeSample;
  PutVendorCode(cdb);
  cdb[6] = kTefeSampleMode;
  cdb[7] = speed;
  PutBe24(cdb + 8, psn & 0xFFFFFF);
  cdb[11] = 0x00;
}

TefeReading DecodeTefeReply(const uint8_t reply[8]) {
  TefeReading reading;
  reading.valid = reply[0] == 0;
  reading.status = reply[0];
  reading.te = GetBe16(reply + 1);
  reading.fe = GetBe16(reply + 5);
  return reading;
}

SampleAnswer ClassifySampleExchange(const ScsiExchange& exchange, const TefeReading& reading) {
  switch (exchange.outcome) {
    case ExchangeOutcome::kDone: break;
    case ExchangeOutcome::kCheckCondition: return SampleAnswer::kCheckCondition;
    case ExchangeOutcome::kTimedOut: return SampleAnswer::kTimedOut;
    case ExchangeOutcome::kDriveGone: return SampleAnswer::kDriveGone;
    case ExchangeOutcome::kTransportError: return SampleAnswer::kTransportError;
  }
  if (exchange.scsiStatus == kScsiStatusBusy || exchange.scsiStatus == kScsiStatusTaskSetFull)
    return SampleAnswer::kBusy;
  if (exchange.scsiStatus != kScsiStatusGood) return SampleAnswer::kOtherStatus;
  if (exchange.Moved() < kTefeReplyLength) return SampleAnswer::kShortReply;
  if (!reading.valid) return SampleAnswer::kInvalidReading;
  return SampleAnswer::kReading;
}

SampleAnswer TakeSample(SpeedCode speed, uint32_t psn, TefeReading* reading, ScsiExchange* sent) {
  uint8_t cdb[12];
  BuildTefeSampleCdb(cdb, speed, psn);
  // A reply without data must never leave an earlier reading behind.
  uint8_t reply[kTefeReplyLength] = {};
  ScsiExchange exchange;
  Send(cdb, kDirectionIn, reply, sizeof reply, kSampleTimeoutSeconds, &exchange);
  *reading = DecodeTefeReply(reply);
  const SampleAnswer answer = ClassifySampleExchange(exchange, *reading);
  if (sent != nullptr) *sent = exchange;
  if (answer != SampleAnswer::kReading) reading->valid = false;
  return answer;
}

bool TakeTefeSample(SpeedCode speed, uint32_t psn, TefeReading* reading, ScsiExchange* sent) {
  return TakeSample(speed, psn, reading, sent) == SampleAnswer::kReading;
}

OuterTrackSample TakeOuterTrackSample(SpeedCode speed) {
  OuterTrackSample sample;
  sample.psn = g_discType.load() == kDiscDvdPlusRDl ? kOuterTrackPsnDualLayer : kOuterTrackPsn;
  sample.answer = TakeSample(speed, sample.psn, &sample.reading, &sample.exchange);
  if (sample.answer != SampleAnswer::kReading) {
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
  cdb[0] = kOpPreventAllow;
  cdb[4] = prevent ? 0x01 : 0x00;
}

void BuildStartStopUnitCdb(uint8_t cdb[12], bool start, bool loadEject) {
  std::memset(cdb, 0, 12);
  cdb[0] = kOpStartStopUnit;
  cdb[4] = static_cast<uint8_t>((loadEject ? 0x02 : 0x00) | (start ? 0x01 : 0x00));
}

bool PreventMediumRemoval(bool prevent, ScsiExchange* sent) {
  uint8_t cdb[12];
  BuildPreventAllowCdb(cdb, prevent);
  return Send(cdb, kDirectionNone, nullptr, 0, kCommandTimeoutSeconds, sent) == kStatusDone;
}

bool EjectMedium() {
  // Another program may have locked the tray; a drive that refuses the
  // unlock still gets the eject, which then says why it failed.
  PreventMediumRemoval(false);
  uint8_t cdb[12];
  BuildStartStopUnitCdb(cdb, false, true);
  return Send(cdb, kDirectionNone, nullptr, 0, kCommandTimeoutSeconds) == kStatusDone;
}
