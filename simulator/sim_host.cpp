#include "simulator/sim_host.h"

#include <algorithm>
#include <atomic>
#include <cstring>

#include "simulator/sim_drive.h"

namespace {

constexpr char kAspiModuleName[] = "WNASPI32";
constexpr ModuleHandle kAspiModule = 0x4153;
// What an execute request gets when no time-out was ever set: ASPI's own
// default is "none", but a simulated drive must not hang a test forever.
constexpr uint32_t kDefaultAspiTimeoutMs = 30000;

std::string VolumeOpenPath(char letter) { return std::string("\\\\.\\") + letter + ":"; }
std::string VolumeTypePath(char letter) { return std::string(1, letter) + ":"; }

uint8_t DirectionFromDataIn(uint8_t dataIn) {
  switch (dataIn) {
    case kScsiIoctlDataOut: return 1;
    case kScsiIoctlDataIn: return 2;
    default: return 0;
  }
}

uint8_t DirectionFromSrbFlags(uint8_t flags) {
  const uint8_t dir = flags & (SRB_DIR_IN | SRB_DIR_OUT);
  if (dir == SRB_DIR_IN) return 2;
  if (dir == SRB_DIR_OUT) return 1;
  return 0;
}

void StoreStatus(uint8_t& field, uint8_t value) {
  std::atomic_ref<uint8_t>(field).store(value, std::memory_order_release);
}

// The configured adapter count, or one past the highest adapter in use.
int AdapterCount(const SimHostConfig& config) {
  if (config.adapterCount >= 0) return config.adapterCount;
  int adapters = 0;
  for (const SimTarget& t : config.targets) adapters = std::max(adapters, t.adapter + 1);
  return adapters;
}

}  // namespace

SimDevice DeviceOf(std::shared_ptr<CSimDrive> drive) {
  return [drive = std::move(drive)](ScsiExchange& exchange) { drive->Execute(exchange); };
}

struct CSimulatedHost::Event {
  std::mutex lock;
  std::condition_variable signal;
  bool set = false;
};

struct CSimulatedHost::Completion {
  SrbExecScsiCmd* srb = nullptr;
  void* buffer = nullptr;
  std::shared_ptr<Event> event;
  SimDevice drive;
  uint32_t timeoutMs = kDefaultAspiTimeoutMs;
};

CSimulatedHost::CSimulatedHost(SimHostConfig config) : m_config(std::move(config)) {
  m_completer = std::thread([this] { CompletionLoop(); });
}

CSimulatedHost::~CSimulatedHost() {
  {
    std::lock_guard<std::mutex> hold(m_lock);
    m_stopping = true;
  }
  m_queueSignal.notify_all();
  m_completer.join();
}

bool CSimulatedHost::QueryPlatform(uint32_t* platformId) {
  if (m_config.versionQueryFails) return false;
  *platformId = m_config.platformId;
  return true;
}

std::vector<VolumeCandidate> CSimulatedHost::VolumeCandidates() {
  // Simulated volumes are Windows volumes: the Windows letter walk applies.
  return DriveLetterVolumes();
}

DeviceHandle CSimulatedHost::OpenVolume(const std::string& openPath, uint32_t* error) {
  std::lock_guard<std::mutex> hold(m_lock);
  m_openAttempts.push_back(openPath);
  for (const SimVolume& volume : m_config.volumes) {
    if (VolumeOpenPath(volume.letter) != openPath) continue;
    if (volume.openError != 0) {
      *error = volume.openError;
      return 0;
    }
    const DeviceHandle handle = m_nextHandle++;
    m_open[handle] = &volume;
    return handle;
  }
  *error = kErrorFileNotFound;
  return 0;
}

uint32_t CSimulatedHost::DriveTypeOf(const std::string& typePath) {
  for (const SimVolume& volume : m_config.volumes) {
    if (VolumeTypePath(volume.letter) == typePath) return volume.driveType;
  }
  return 1;  // DRIVE_NO_ROOT_DIR
}

bool CSimulatedHost::PassThroughDirect(DeviceHandle device, SptdWithSense& block, void* data,
                                       uint32_t* error) {
  const SimVolume* volume = nullptr;
  {
    std::lock_guard<std::mutex> hold(m_lock);
    m_blocks.push_back(block);
    auto it = m_open.find(device);
    if (it != m_open.end()) volume = it->second;
  }
  ScsiPassThroughDirect& sptd = block.sptd;
  if (volume == nullptr) {
    *error = 6;  // ERROR_INVALID_HANDLE
    return false;
  }
  // The driver checks the block before it sends anything.
  const uint8_t length = sptd.CdbLength;
  if (sptd.Length != sizeof(ScsiPassThroughDirect) ||
      (length != 6 && length != 10 && length != 12 && length != 16) ||
      sptd.SenseInfoOffset + sptd.SenseInfoLength > sizeof(SptdWithSense) ||
      (data == nullptr && sptd.DataTransferLength != 0)) {
    *error = kErrorInvalidParameter;
    return false;
  }
  if (!volume->drive) {
    *error = kErrorInvalidFunction;
    return false;
  }
  ScsiExchange exchange;
  exchange.SetCdb(sptd.Cdb, length);
  exchange.direction = DirectionFromDataIn(sptd.DataIn);
  exchange.data = static_cast<uint8_t*>(data);
  exchange.dataLength = sptd.DataTransferLength;
  exchange.timeout = std::chrono::milliseconds(sptd.TimeOutValue * 1000u);
  volume->drive(exchange);
  switch (exchange.outcome) {
    case ExchangeOutcome::kTimedOut: *error = kErrorSemTimeout; return false;
    case ExchangeOutcome::kDriveGone: *error = kErrorDevNotExist; return false;
    case ExchangeOutcome::kTransportError:
      // A recorded failure keeps its own error (a kernel's refusal stays one).
      *error = exchange.hostError != 0 ? exchange.hostError : kErrorGenFailure;
      return false;
    case ExchangeOutcome::kDone:
    case ExchangeOutcome::kCheckCondition: break;
  }
  sptd.ScsiStatus = exchange.scsiStatus;
  sptd.DataTransferLength = std::min(exchange.transferred, sptd.DataTransferLength);
  if (exchange.scsiStatus == kScsiStatusCheckCondition && sptd.SenseInfoLength > 0) {
    uint8_t* sense = reinterpret_cast<uint8_t*>(&block) + sptd.SenseInfoOffset;
    const size_t n = std::min<size_t>(sptd.SenseInfoLength, exchange.senseLength);
    std::memcpy(sense, exchange.senseBytes.data(), n);
  }
  return true;
}

void CSimulatedHost::CloseVolume(DeviceHandle device) {
  std::lock_guard<std::mutex> hold(m_lock);
  m_open.erase(device);
}

std::string CSimulatedHost::DescribeVolume(DeviceHandle device) {
  std::lock_guard<std::mutex> hold(m_lock);
  auto it = m_open.find(device);
  return it == m_open.end() ? std::string() : std::string("sim:") + it->second->letter + ":";
}

ModuleHandle CSimulatedHost::LoadModule(const std::string& name) {
  if (!m_config.aspiInstalled || name != kAspiModuleName) return 0;
  std::lock_guard<std::mutex> hold(m_lock);
  m_moduleLoaded = true;
  return kAspiModule;
}

AspiProc CSimulatedHost::FindEntryPoint(ModuleHandle module, const std::string& name) {
  if (module != kAspiModule) return nullptr;
  if (name == "GetASPI32SupportInfo" && m_config.hasSupportInfoEntry) {
    return [this](void*, const AspiAddresses*) -> uint32_t {
      const int adapters = AdapterCount(m_config);
      int status = m_config.supportStatus;
      if (status < 0) status = adapters > 0 ? SS_COMP : SS_NO_ADAPTERS;
      return (static_cast<uint32_t>(status & 0xFF) << 8) | static_cast<uint32_t>(adapters & 0xFF);
    };
  }
  if (name == "SendASPI32Command" && m_config.hasSendCommandEntry) {
    return [this](void* srb, const AspiAddresses* addresses) {
      return SendAspiCommand(srb, addresses);
    };
  }
  return nullptr;
}

void CSimulatedHost::UnloadModule(ModuleHandle module) {
  if (module != kAspiModule) return;
  std::lock_guard<std::mutex> hold(m_lock);
  m_moduleLoaded = false;
}

const SimTarget* CSimulatedHost::FindTarget(uint8_t adapter, uint8_t target) const {
  for (const SimTarget& t : m_config.targets) {
    if (t.adapter == adapter && t.target == target) return &t;
  }
  return nullptr;
}

uint32_t CSimulatedHost::SendAspiCommand(void* request, const AspiAddresses* addresses) {
  if (request == nullptr) return SS_ERR;
  auto* header = static_cast<SrbHeader*>(request);
  const int adapters = AdapterCount(m_config);
  switch (header->SRB_Cmd) {
    case SC_HA_INQUIRY: {
      auto* srb = static_cast<SrbHaInquiry*>(request);
      if (srb->SRB_HaId >= adapters || m_config.inquiryAdapterFails) {
        srb->SRB_Status = SS_INVALID_HA;
        return srb->SRB_Status;
      }
      srb->HA_Count = static_cast<uint8_t>(adapters);
      srb->HA_SCSI_ID = 7;
      std::memcpy(srb->HA_ManagerId, "ASPI for WIN32  ", 16);
      std::memcpy(srb->HA_Identifier, "SIMULATED BUS   ", 16);
      auto it = m_config.maxTargetsByte.find(srb->SRB_HaId);
      srb->HA_Unique[3] = it == m_config.maxTargetsByte.end() ? 8 : it->second;
      srb->SRB_Status = SS_COMP;
      return SS_COMP;
    }
    case SC_GET_DEV_TYPE: {
      auto* srb = static_cast<SrbGdevBlock*>(request);
      {
        std::lock_guard<std::mutex> hold(m_lock);
        m_typeQueries.emplace_back(srb->SRB_HaId, srb->SRB_Target);
      }
      const SimTarget* target = FindTarget(srb->SRB_HaId, srb->SRB_Target);
      if (target == nullptr || srb->SRB_Lun != 0) {
        srb->SRB_Status = SS_NO_DEVICE;
        return SS_NO_DEVICE;
      }
      srb->SRB_DeviceType = target->deviceType;
      srb->SRB_Status = SS_COMP;
      return SS_COMP;
    }
    case SC_GETSET_TIMEOUTS: {
      auto* srb = static_cast<SrbGetSetTimeouts*>(request);
      std::lock_guard<std::mutex> hold(m_lock);
      m_timeoutRequests.push_back(uint32_t{srb->SRB_Timeout});
      if (m_config.setTimeoutFails || FindTarget(srb->SRB_HaId, srb->SRB_Target) == nullptr) {
        srb->SRB_Status = SS_ERR;
        return SS_ERR;
      }
      if (srb->SRB_Flags & SRB_DIR_OUT) {
        m_targetTimeouts[{srb->SRB_HaId, srb->SRB_Target}] = srb->SRB_Timeout;
      } else {
        auto it = m_targetTimeouts.find({srb->SRB_HaId, srb->SRB_Target});
        srb->SRB_Timeout = it == m_targetTimeouts.end() ? 0 : it->second;
      }
      srb->SRB_Status = SS_COMP;
      return SS_COMP;
    }
    case SC_EXEC_SCSI_CMD: {
      auto* srb = static_cast<SrbExecScsiCmd*>(request);
      auto job = std::make_shared<Completion>();
      {
        std::lock_guard<std::mutex> hold(m_lock);
        m_execs.push_back(*srb);
        const SimTarget* target = FindTarget(srb->SRB_HaId, srb->SRB_Target);
        if (target == nullptr || !target->drive || srb->SRB_Lun != 0) {
          StoreStatus(srb->SRB_Status, SS_NO_DEVICE);
          return SS_NO_DEVICE;
        }
        job->srb = srb;
        job->drive = target->drive;
        job->buffer = addresses != nullptr ? addresses->buffer : nullptr;
        if ((srb->SRB_Flags & SRB_EVENT_NOTIFY) && addresses != nullptr) {
          auto ev = m_events.find(addresses->postEvent);
          if (ev != m_events.end()) job->event = ev->second;
        }
        auto timeout = m_targetTimeouts.find({srb->SRB_HaId, srb->SRB_Target});
        if (timeout != m_targetTimeouts.end() && timeout->second != 0) {
          job->timeoutMs = timeout->second * 500u;
        }
        StoreStatus(srb->SRB_Status, SS_PENDING);
        m_queue.push_back(job);
      }
      m_queueSignal.notify_one();
      return SS_PENDING;
    }
    default:
      header->SRB_Status = 0x80;  // SS_INVALID_CMD
      return 0x80;
  }
}

void CSimulatedHost::CompletionLoop() {
  for (;;) {
    std::shared_ptr<Completion> job;
    {
      std::unique_lock<std::mutex> hold(m_lock);
      m_queueSignal.wait(hold, [this] { return m_stopping || !m_queue.empty(); });
      if (m_queue.empty()) return;
      job = m_queue.front();
      m_queue.pop_front();
    }
    Complete(*job);
  }
}

void CSimulatedHost::Complete(Completion& job) {
  SrbExecScsiCmd& srb = *job.srb;
  uint8_t status = SS_COMP;
  if (srb.SRB_CDBLen == 0 || srb.SRB_CDBLen > 16 ||
      (job.buffer == nullptr && srb.SRB_BufLen != 0)) {
    srb.SRB_HaStat = HASTAT_OK;
    status = 0x80;  // SS_INVALID_CMD
  } else {
    ScsiExchange exchange;
    exchange.SetCdb(srb.CDBByte, srb.SRB_CDBLen);
    exchange.direction = DirectionFromSrbFlags(srb.SRB_Flags);
    exchange.data = static_cast<uint8_t*>(job.buffer);
    exchange.dataLength = job.buffer != nullptr ? srb.SRB_BufLen : 0;
    exchange.timeout = std::chrono::milliseconds(job.timeoutMs);
    job.drive(exchange);
    switch (exchange.outcome) {
      case ExchangeOutcome::kTimedOut:
        srb.SRB_HaStat = HASTAT_TIMEOUT;
        status = SS_ERR;
        break;
      case ExchangeOutcome::kDriveGone:
        srb.SRB_HaStat = HASTAT_SEL_TO;
        status = SS_ERR;
        break;
      case ExchangeOutcome::kTransportError:
        srb.SRB_HaStat = HASTAT_OK;
        status = SS_ERR;
        break;
      case ExchangeOutcome::kDone:
      case ExchangeOutcome::kCheckCondition:
        srb.SRB_HaStat = HASTAT_OK;
        srb.SRB_TargStat = exchange.scsiStatus;
        // The bytes moved, as the pass-through block's DataTransferLength
        // says them: the layer leaves them in SRB_BufLen.
        srb.SRB_BufLen = std::min(exchange.transferred, srb.SRB_BufLen);
        if (exchange.scsiStatus == kScsiStatusCheckCondition) {
          const size_t n =
              std::min<size_t>({srb.SRB_SenseLen, exchange.senseLength, sizeof srb.SenseArea});
          std::memcpy(srb.SenseArea, exchange.senseBytes.data(), n);
        }
        status = exchange.scsiStatus == kScsiStatusGood ? SS_COMP : SS_ERR;
        break;
    }
  }
  if (job.event) {
    // The event is what the caller waits on: set the status under its lock.
    std::lock_guard<std::mutex> hold(job.event->lock);
    StoreStatus(srb.SRB_Status, status);
    job.event->set = true;
    job.event->signal.notify_all();
  } else {
    StoreStatus(srb.SRB_Status, status);
  }
}

EventHandle CSimulatedHost::NewEvent() {
  if (m_config.eventsFail) return 0;
  std::lock_guard<std::mutex> hold(m_lock);
  const EventHandle handle = m_nextEvent++;
  m_events[handle] = std::make_shared<Event>();
  return handle;
}

void CSimulatedHost::WaitEvent(EventHandle handle) {
  std::shared_ptr<Event> event;
  {
    std::lock_guard<std::mutex> hold(m_lock);
    auto it = m_events.find(handle);
    if (it == m_events.end()) return;
    event = it->second;
  }
  std::unique_lock<std::mutex> hold(event->lock);
  event->signal.wait(hold, [&] { return event->set; });
}

void CSimulatedHost::DeleteEvent(EventHandle handle) {
  std::lock_guard<std::mutex> hold(m_lock);
  m_events.erase(handle);
}

std::vector<std::string> CSimulatedHost::OpenAttempts() const {
  std::lock_guard<std::mutex> hold(m_lock);
  return m_openAttempts;
}

int CSimulatedHost::OpenVolumeCount() const {
  std::lock_guard<std::mutex> hold(m_lock);
  return static_cast<int>(m_open.size());
}

bool CSimulatedHost::ModuleLoaded() const {
  std::lock_guard<std::mutex> hold(m_lock);
  return m_moduleLoaded;
}

std::vector<SptdWithSense> CSimulatedHost::PassThroughBlocks() const {
  std::lock_guard<std::mutex> hold(m_lock);
  return m_blocks;
}

std::vector<SrbExecScsiCmd> CSimulatedHost::ExecRequests() const {
  std::lock_guard<std::mutex> hold(m_lock);
  return m_execs;
}

std::vector<uint32_t> CSimulatedHost::TimeoutRequests() const {
  std::lock_guard<std::mutex> hold(m_lock);
  return m_timeoutRequests;
}

std::vector<std::pair<uint8_t, uint8_t>> CSimulatedHost::DeviceTypeQueries() const {
  std::lock_guard<std::mutex> hold(m_lock);
  return m_typeQueries;
}
