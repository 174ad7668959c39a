#include "simulator/sim_drive.h"

#include <algorithm>
#include <cstring>
#include <iterator>

#include "device/big_endian.h"
#include "simulator/sim_replies.h"
#include "simulator/tefe_model.h"

namespace {

using std::chrono::milliseconds;

constexpr uint8_t kLastSpeedCode = 19;

bool IsPreFault(SimFaultKind kind) {
  switch (kind) {
    case SimFaultKind::kCheckCondition:
    case SimFaultKind::kBusy:
    case SimFaultKind::kTimeOut:
    case SimFaultKind::kGone:
    case SimFaultKind::kEject: return true;
    default: return false;
  }
}

}  // namespace

// What a command produced before it is cut to the host's buffer.
struct CSimDrive::Outcome {
  ExchangeOutcome transport = ExchangeOutcome::kDone;  // kDone: the drive answered
  uint8_t status = kScsiStatusGood;
  SenseTriple sense = kSenseNone;
  std::vector<uint8_t> data;
  uint32_t allocation = UINT32_MAX;  // what the CDB allows back

  void Fail(SenseTriple code) {
    status = kScsiStatusCheckCondition;
    sense = code;
    data.clear();
  }
  bool Good() const { return transport == ExchangeOutcome::kDone && status == kScsiStatusGood; }
};

CSimDrive::CSimDrive(SimDriveConfig config)
    : m_config(std::move(config)),
      m_deviceType(m_config.deviceType),
      m_clock(m_config.clock),
      m_sampleLatency(m_config.sampleLatency),
      m_commandLatency(m_config.commandLatency) {
  for (const SimFault& fault : m_config.faults) m_faults.push_back({fault, 0});
  m_feed.assign(m_config.feed.begin(), m_config.feed.end());
}

CSimDrive::~CSimDrive() = default;

std::chrono::steady_clock::time_point CSimDrive::Now() const {
  return m_clock ? m_clock() : std::chrono::steady_clock::now();
}

CSimDrive::Medium CSimDrive::MediumState() const {
  if (!m_disc) return Medium::kEmpty;
  const auto now = Now();
  if (now < m_landsAt) return Medium::kEmpty;
  if (now < m_readyAt) return Medium::kBecomingReady;
  return Medium::kReady;
}

bool CSimDrive::Pause(milliseconds duration) {
  if (duration <= milliseconds::zero()) return true;
  const uint64_t epoch = m_epoch;
  const auto until = std::chrono::steady_clock::now() + duration;
  while (m_epoch == epoch) {
    if (!m_wake.WaitUntil(m_lock, until)) return m_epoch == epoch;
  }
  return false;
}

void CSimDrive::InsertDisc(const SimDisc& disc, milliseconds delay) {
  MutexLock guard(m_lock);
  m_disc = disc;
  m_landsAt = Now() + std::max(delay, milliseconds::zero());
  m_readyAt = m_landsAt + m_config.spinUp;
  ++m_discGeneration;
  ++m_epoch;
  m_wake.NotifyAll();
}

void CSimDrive::Eject() {
  MutexLock guard(m_lock);
  m_disc.reset();
  ++m_discGeneration;
  ++m_epoch;
  m_wake.NotifyAll();
}

std::string CSimDrive::DiscName() const {
  MutexLock guard(m_lock);
  return m_disc ? m_disc->name : std::string();
}

bool CSimDrive::DiscReady() const {
  MutexLock guard(m_lock);
  return MediumState() == Medium::kReady;
}

void CSimDrive::Detach() {
  MutexLock guard(m_lock);
  m_attached = false;
  ++m_epoch;
  m_wake.NotifyAll();
}

void CSimDrive::Attach() {
  MutexLock guard(m_lock);
  m_attached = true;
  m_diagnostic = false;
  m_prevented = false;
  ++m_epoch;
  m_wake.NotifyAll();
}

bool CSimDrive::Attached() const {
  MutexLock guard(m_lock);
  return m_attached;
}

void CSimDrive::AddFault(const SimFault& fault) {
  MutexLock guard(m_lock);
  m_faults.push_back({fault, 0});
}

void CSimDrive::ClearFaults() {
  MutexLock guard(m_lock);
  m_faults.clear();
}

void CSimDrive::SetSampleLatency(milliseconds latency) {
  MutexLock guard(m_lock);
  m_sampleLatency = latency;
}

void CSimDrive::SetCommandLatency(milliseconds latency) {
  MutexLock guard(m_lock);
  m_commandLatency = latency;
}

bool CSimDrive::InDiagnosticMode() const {
  MutexLock guard(m_lock);
  return m_diagnostic;
}

bool CSimDrive::RemovalPrevented() const {
  MutexLock guard(m_lock);
  return m_prevented;
}

size_t CSimDrive::FeedLeft() const {
  MutexLock guard(m_lock);
  return m_feed.size();
}

std::vector<SimLoggedCommand> CSimDrive::CommandLog() const {
  MutexLock guard(m_lock);
  return {m_log.begin(), m_log.end()};
}

uint32_t CSimDrive::CommandCount(SimCommandClass commandClass) const {
  MutexLock guard(m_lock);
  return m_classCounts[static_cast<size_t>(commandClass)];
}

uint32_t CSimDrive::OpcodeCount(uint8_t opcode) const {
  MutexLock guard(m_lock);
  return m_opcodeCounts[opcode];
}

void CSimDrive::ClearCommandLog() {
  MutexLock guard(m_lock);
  m_log.clear();
  m_opcodeCounts.fill(0);
  m_classCounts.fill(0);
}

void CSimDrive::Log(const ScsiExchange& exchange) {
  SimLoggedCommand entry = exchange;
  entry.data = nullptr;  // the caller's buffer does not outlive the command
  if (m_log.size() == kLogCapacity) m_log.pop_front();
  m_log.push_back(entry);
}

void CSimDrive::Execute(ScsiExchange& exchange) {
  std::lock_guard<std::mutex> one(m_commandLock);
  MutexLock guard(m_lock);
  Run(exchange);
  Log(exchange);
}

void CSimDrive::Run(ScsiExchange& command) {
  if (!m_attached) {
    command.outcome = ExchangeOutcome::kDriveGone;
    return;
  }

  const SimCommandClass commandClass = Classify(command.cdb.data(), command.cdbLength);
  ++m_classCounts[static_cast<size_t>(commandClass)];
  ++m_classCounts[static_cast<size_t>(SimCommandClass::kAny)];
  if (command.cdbLength > 0) ++m_opcodeCounts[command.cdb[0]];

  std::vector<SimFault> firing;
  for (ArmedFault& armed : m_faults) {
    const SimCommandClass target = armed.fault.target;
    if (target != SimCommandClass::kAny && target != commandClass) continue;
    const uint32_t nth = ++armed.seen;
    const uint32_t first = std::max<uint32_t>(armed.fault.fromNth, 1);
    if (nth >= first && (armed.fault.times == 0 || nth - first < armed.fault.times))
      firing.push_back(armed.fault);
  }

  Outcome out;
  bool preempted = false;
  for (const SimFault& fault : firing) {
    if (!IsPreFault(fault.kind)) continue;
    if (fault.kind == SimFaultKind::kEject) {
      m_disc.reset();
      ++m_discGeneration;
      continue;
    }
    preempted = true;
    if (fault.kind == SimFaultKind::kGone) {
      m_attached = false;
      ++m_epoch;
      m_wake.NotifyAll();
      out.transport = ExchangeOutcome::kDriveGone;
    } else if (fault.kind == SimFaultKind::kTimeOut) {
      milliseconds stall = fault.stall;
      if (command.timeout.count() > 0) stall = std::min(stall, command.timeout);
      Pause(stall);
      out.transport = m_attached ? ExchangeOutcome::kTimedOut : ExchangeOutcome::kDriveGone;
    } else if (fault.kind == SimFaultKind::kBusy) {
      out.status = kScsiStatusBusy;
    } else {
      out.Fail({fault.senseKey, fault.asc, fault.ascq});
    }
    break;
  }
  if (!preempted) RunCommand(command, out);

  if (out.Good()) {
    for (const SimFault& fault : firing) {
      if (fault.kind == SimFaultKind::kHeaderLength) {
        // Only these replies start with a length header.
        if (commandClass == SimCommandClass::kReadDvdStructure && out.data.size() >= 2)
          PutBe16(out.data.data(), static_cast<uint16_t>(fault.value));
        else if ((commandClass == SimCommandClass::kGetPerformance ||
                  commandClass == SimCommandClass::kGetConfiguration) &&
                 out.data.size() >= 4)
          PutBe32(out.data.data(), fault.value);
      } else if (fault.kind == SimFaultKind::kSampleStatus &&
                 commandClass == SimCommandClass::kTefeSample && !out.data.empty()) {
        out.data[0] = static_cast<uint8_t>(fault.value);
      } else if (fault.kind == SimFaultKind::kAllOnes) {
        out.data.assign(command.dataLength, 0xFF);
        out.allocation = command.dataLength;
      } else if (fault.kind == SimFaultKind::kShortTransfer) {
        out.allocation = std::min(out.allocation, fault.value);
      }
    }
  }

  if (out.transport != ExchangeOutcome::kDone) {
    command.outcome = out.transport;
    return;
  }
  command.Answer(out.status, out.sense);
  if (command.direction == kDirectionIn && command.data != nullptr) {
    const size_t n = std::min<size_t>({out.data.size(), command.dataLength, out.allocation});
    if (n > 0) std::memcpy(command.data, out.data.data(), n);
    command.transferred = static_cast<uint32_t>(n);
  }
}

bool CSimDrive::CheckMedium(Outcome& out) const {
  switch (MediumState()) {
    case Medium::kEmpty: out.Fail(kSenseNoMedium); return false;
    case Medium::kBecomingReady: out.Fail(kSenseBecomingReady); return false;
    case Medium::kReady: break;
  }
  return true;
}

void CSimDrive::RunCommand(const ScsiExchange& command, Outcome& out) {
  const uint8_t* cdb = command.cdb.data();
  if (command.cdbLength == 0) {
    out.Fail(kSenseInvalidOpcode);
    return;
  }
  const uint8_t opcode = cdb[0];
  const bool optical = m_deviceType == kSimDeviceTypeOptical;
  const OpcodeEntry* entry = FindOpcode(opcode);
  // Another maker's firmware knows no vendor command at all.
  const bool known = entry != nullptr && (optical || !entry->opticalOnly) &&
                     (opcode != kOpVendor || m_config.diagnosticMode);
  if (!known) {
    out.Fail(kSenseInvalidOpcode);
    return;
  }
  if (command.cdbLength != CdbGroupLength(opcode)) {
    out.Fail(kSenseInvalidField);
    return;
  }

  if (opcode == kOpVendor && command.cdbLength > 1 && cdb[1] == kVendorTefeSample) {
    RunSample(command, out);
    return;
  }

  // Every other command costs the drive a little time first.
  if (command.timeout.count() > 0 && m_commandLatency > command.timeout) {
    Pause(command.timeout);
    out.transport = m_attached ? ExchangeOutcome::kTimedOut : ExchangeOutcome::kDriveGone;
    return;
  }
  Pause(m_commandLatency);
  if (!m_attached) {
    out.transport = ExchangeOutcome::kDriveGone;
    return;
  }

  // A changed medium is reported once, to anything but INQUIRY and REQUEST SENSE.
  if (m_config.reportMediumChange && opcode != kOpInquiry && opcode != kOpRequestSense &&
      MediumState() == Medium::kReady && m_attentionGiven != m_discGeneration) {
    m_attentionGiven = m_discGeneration;
    out.Fail(kSenseMediumChanged);
    return;
  }

  (this->*entry->run)(command, out);
}

void CSimDrive::RunStartStop(const uint8_t* cdb, Outcome& out) {
  // Power conditions and the format-layer bits are not offered.
  if ((cdb[4] & 0xFC) != 0 || (cdb[1] & 0xFE) != 0) {
    out.Fail(kSenseInvalidField);
    return;
  }
  const bool loadEject = (cdb[4] & 0x02) != 0;
  const bool start = (cdb[4] & 0x01) != 0;
  if (!loadEject || start) return;  // spin up, spin down, close: nothing to show
  if (m_prevented) {
    out.Fail(kSenseRemovalPrevented);
    return;
  }
  m_disc.reset();
  ++m_discGeneration;
  ++m_epoch;
  if (!m_feed.empty()) {
    m_disc = m_feed.front();
    m_feed.pop_front();
    m_landsAt = Now() + m_config.feedDelay;
    m_readyAt = m_landsAt + m_config.spinUp;
    ++m_discGeneration;
  }
  m_wake.NotifyAll();
}

// The operation codes the firmware knows: the command class faults target
// and counts are kept by, whether only an optical drive (not a disk on the
// same bus) answers them, and what runs them. Vendor commands are classed
// by their sub-code in Classify.
constexpr CSimDrive::OpcodeEntry CSimDrive::kOpcodes[] = {
    {kOpTestUnitReady, SimCommandClass::kTestUnitReady, false, &CSimDrive::RunTestUnitReady},
    {kOpRequestSense, SimCommandClass::kRequestSense, false, &CSimDrive::RunRequestSense},
    {kOpInquiry, SimCommandClass::kInquiry, false, &CSimDrive::RunInquiry},
    {kOpStartStopUnit, SimCommandClass::kOther, true, &CSimDrive::RunStartStopUnit},
    {kOpPreventAllow, SimCommandClass::kOther, true, &CSimDrive::RunPreventAllow},
    {kOpReadCapacity, SimCommandClass::kOther, true, &CSimDrive::RunReadCapacity},
    {kOpGetConfiguration, SimCommandClass::kGetConfiguration, true,
     &CSimDrive::RunGetConfiguration},
    {kOpReadDiscInformation, SimCommandClass::kOther, true, &CSimDrive::RunReadDiscInformation},
    {kOpReadTrackInformation, SimCommandClass::kOther, true, &CSimDrive::RunReadTrackInformation},
    {kOpModeSense10, SimCommandClass::kOther, true, &CSimDrive::RunModeSense},
    {kOpGetPerformance, SimCommandClass::kGetPerformance, true, &CSimDrive::RunGetPerformance},
    {kOpReadDvdStructure, SimCommandClass::kReadDvdStructure, true,
     &CSimDrive::RunReadDvdStructure},
    {kOpVendor, SimCommandClass::kOther, true, &CSimDrive::RunVendor},
};

const CSimDrive::OpcodeEntry* CSimDrive::FindOpcode(uint8_t opcode) {
  // The vocabulary's operation codes, each with its row: a code added there
  // and not here does not compile.
  static_assert([] {
    if (std::size(kOpcodes) != std::size(kOperationCodes)) return false;
    for (size_t i = 0; i < std::size(kOperationCodes); ++i) {
      if (kOpcodes[i].opcode != kOperationCodes[i]) return false;
    }
    return true;
  }());
  for (const OpcodeEntry& entry : kOpcodes) {
    if (entry.opcode == opcode) return &entry;
  }
  return nullptr;
}

SimCommandClass CSimDrive::Classify(const uint8_t* cdb, uint8_t length) {
  if (cdb == nullptr || length == 0) return SimCommandClass::kOther;
  if (cdb[0] == kOpVendor && length > 1) {
    if (cdb[1] == kVendorTefeSample) return SimCommandClass::kTefeSample;
    if (cdb[1] == kVendorEnterDiagnostic || cdb[1] == kVendorLeaveDiagnostic)
      return SimCommandClass::kDiagnosticMode;
  }
  const OpcodeEntry* entry = FindOpcode(cdb[0]);
  return entry != nullptr ? entry->commandClass : SimCommandClass::kOther;
}

void CSimDrive::RunTestUnitReady(const ScsiExchange&, Outcome& out) {
  if (m_deviceType == kSimDeviceTypeOptical) CheckMedium(out);
}

void CSimDrive::RunRequestSense(const ScsiExchange& command, Outcome& out) {
  const uint8_t* cdb = command.cdb.data();
  if (cdb[1] & 0x01) {  // descriptor format is not offered
    out.Fail(kSenseInvalidField);
    return;
  }
  SenseTriple pending = kSenseNone;
  if (m_deviceType == kSimDeviceTypeOptical) {
    const Medium medium = MediumState();
    if (medium == Medium::kEmpty) pending = kSenseNoMedium;
    if (medium == Medium::kBecomingReady) pending = kSenseBecomingReady;
  }
  const auto sense = FixedSense(pending);
  out.data.assign(sense.begin(), sense.end());
  out.allocation = cdb[4];
}

void CSimDrive::RunInquiry(const ScsiExchange& command, Outcome& out) {
  const uint8_t* cdb = command.cdb.data();
  if ((cdb[1] & 0x01) != 0) {  // vital product data: the page list and the serial number
    out.data = VitalProductPage(m_config, cdb[2]);
    if (out.data.empty()) out.Fail(kSenseInvalidField);
    out.allocation = GetBe16(cdb + 3);
    return;
  }
  if (cdb[2] != 0) {
    out.Fail(kSenseInvalidField);
    return;
  }
  out.data = InquiryData(m_config);
  out.allocation = GetBe16(cdb + 3);
}

void CSimDrive::RunGetConfiguration(const ScsiExchange& command, Outcome& out) {
  const uint8_t* cdb = command.cdb.data();
  const uint8_t rt = cdb[1] & 0x03;
  if (rt == 3) {
    out.Fail(kSenseInvalidField);
    return;
  }
  const uint16_t profile = MediumState() == Medium::kReady ? m_disc->profile : kProfileNone;
  out.data = ConfigurationReply(profile, rt, GetBe16(cdb + 2));
  out.allocation = GetBe16(cdb + 7);
}

void CSimDrive::RunGetPerformance(const ScsiExchange& command, Outcome& out) {
  const uint8_t* cdb = command.cdb.data();
  if (cdb[10] != kPerformanceWriteSpeed) {
    out.Fail(kSenseInvalidField);
    return;
  }
  if (!CheckMedium(out)) return;
  out.data = WriteSpeedReply(*m_disc, GetBe16(cdb + 8));
}

void CSimDrive::RunReadDvdStructure(const ScsiExchange& command, Outcome& out) {
  const uint8_t* cdb = command.cdb.data();
  const uint8_t format = cdb[7];
  const bool known = format == kStructureAdip || format == kStructurePrerecorded ||
                     format == kStructurePhysical || format == kStructureLayerBoundary ||
                     format == kStructureList;
  if ((cdb[1] & 0x0F) != 0 || !known) {
    out.Fail(kSenseInvalidField);
    return;
  }
  if (!CheckMedium(out)) return;
  if (m_disc->profile < kProfileDvdRom) {
    out.Fail(kSenseIncompatibleMedium);
    return;
  }
  std::vector<uint8_t> payload;
  switch (format) {
    case kStructureAdip: payload = m_disc->adip; break;
    case kStructurePrerecorded: payload = m_disc->prerecorded; break;
    case kStructurePhysical: payload = PhysicalFormatPayload(*m_disc); break;
    case kStructureList: payload = StructureListPayload(*m_disc); break;
    default:
      if (m_disc->layers > 1) payload = LayerBoundaryPayload(*m_disc);
      break;
  }
  if (payload.empty() || cdb[6] >= m_disc->layers) {
    out.Fail(kSenseInvalidField);
    return;
  }
  out.data = DvdStructureReply(payload);
  out.allocation = GetBe16(cdb + 8);
}

void CSimDrive::RunReadCapacity(const ScsiExchange&, Outcome& out) {
  if (!CheckMedium(out)) return;
  out.data = CapacityReply(*m_disc);
}

void CSimDrive::RunReadDiscInformation(const ScsiExchange& command, Outcome& out) {
  const uint8_t* cdb = command.cdb.data();
  if ((cdb[1] & 0x07) != 0) {  // only the standard disc information
    out.Fail(kSenseInvalidField);
    return;
  }
  if (!CheckMedium(out)) return;
  out.data = DiscInformationReply(*m_disc);
  out.allocation = GetBe16(cdb + 7);
}

void CSimDrive::RunReadTrackInformation(const ScsiExchange& command, Outcome& out) {
  const uint8_t* cdb = command.cdb.data();
  const uint8_t type = cdb[1] & 0x03;
  const uint32_t number = GetBe32(cdb + 2);
  if (!CheckMedium(out)) return;
  // One track in one session: LBAs on the disc, track 1 or the invisible
  // track (0xFF), session 1.
  const bool one = (type == 0 && number <= m_disc->lastLba) ||
                   (type == 1 && (number == 1 || number == 0xFF)) || (type == 2 && number == 1);
  if (!one) {
    out.Fail(kSenseInvalidField);
    return;
  }
  out.data = TrackInformationReply(*m_disc);
  out.allocation = GetBe16(cdb + 7);
}

void CSimDrive::RunModeSense(const ScsiExchange& command, Outcome& out) {
  const uint8_t* cdb = command.cdb.data();
  const uint8_t page = cdb[2] & 0x3F;
  // Current values of the capabilities page only; no subpages.
  if ((cdb[2] & 0xC0) != 0 || cdb[3] != 0 ||
      (page != kModePageCapabilities && page != kModePageAll)) {
    out.Fail(kSenseInvalidField);
    return;
  }
  const bool ready = MediumState() == Medium::kReady;
  out.data = CapabilitiesPageReply(ready ? &*m_disc : nullptr, m_config.bufferKiB);
  out.allocation = GetBe16(cdb + 7);
}

void CSimDrive::RunPreventAllow(const ScsiExchange& command, Outcome& out) {
  const uint8_t* cdb = command.cdb.data();
  // Only the prevent bit; the persistent one is for changers.
  if ((cdb[4] & 0xFC) != 0 || (cdb[4] & 0x02) != 0) {
    out.Fail(kSenseInvalidField);
    return;
  }
  m_prevented = (cdb[4] & 0x01) != 0;
}

void CSimDrive::RunStartStopUnit(const ScsiExchange& command, Outcome& out) {
  RunStartStop(command.cdb.data(), out);
}

void CSimDrive::RunVendor(const ScsiExchange& command, Outcome& out) {
  const uint8_t* cdb = command.cdb.data();
  const bool codeMatches =
      m_config.accessCode.size() == 4 && std::memcmp(cdb + 2, m_config.accessCode.data(), 4) == 0;
  const bool modeCommand = cdb[1] == kVendorEnterDiagnostic || cdb[1] == kVendorLeaveDiagnostic;
  const bool restZero = std::all_of(cdb + 6, cdb + 11, [](uint8_t b) { return b == 0; });
  if (!modeCommand || !codeMatches || !restZero) {
    out.Fail(kSenseInvalidField);
    return;
  }
  m_diagnostic = cdb[1] == kVendorEnterDiagnostic;
}

void CSimDrive::RunSample(const ScsiExchange& command, Outcome& out) {
  const uint8_t* cdb = command.cdb.data();
  const uint8_t speed = cdb[7];
  const bool codeMatches =
      m_config.accessCode.size() == 4 && std::memcmp(cdb + 2, m_config.accessCode.data(), 4) == 0;
  if (!codeMatches || cdb[6] != kTefeSampleMode || speed < kSimFirstSpeedCode ||
      speed > kLastSpeedCode) {
    out.Fail(kSenseInvalidField);
    return;
  }
  if (!m_diagnostic) {
    out.Fail(kSenseSequenceError);
    return;
  }
  if (!CheckMedium(out)) return;

  const uint64_t generation = m_discGeneration;
  if (command.timeout.count() > 0 && m_sampleLatency > command.timeout) {
    Pause(command.timeout);
    out.transport = m_attached ? ExchangeOutcome::kTimedOut : ExchangeOutcome::kDriveGone;
    return;
  }
  Pause(m_sampleLatency);
  // The tray or the bus may have changed while the sled moved.
  if (!m_attached) {
    out.transport = ExchangeOutcome::kDriveGone;
    return;
  }
  if (m_discGeneration != generation) {
    out.Fail(kSenseNoMedium);
    return;
  }
  if (!CheckMedium(out)) return;

  uint32_t seed = m_config.seed;
  if (m_config.seedPerDisc) {
    for (char c : m_disc->name) seed = seed * 16777619u ^ static_cast<uint8_t>(c);
  }
  const SimTefeReading reading = MeasureTefe(*m_disc, GetBe24(cdb + 8), speed, seed);
  const auto reply = TefeReply(reading, speed);
  out.data.assign(reply.begin(), reply.end());
}
