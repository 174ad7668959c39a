#include "device/device_manager.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

#include "device/command_trace.h"
#include "device/sense.h"

CDeviceManager* g_pDeviceManager = nullptr;

namespace {

const char kAspiLibrary[] = "WNASPI32";

void CopyInquiryIdentity(DriveEntry& row, const uint8_t* inquiry) {
  std::memcpy(row.vendorProduct, inquiry + 8, 24);
  row.vendorProduct[24] = '\0';
  std::memcpy(row.revision, inquiry + 32, 4);
  row.revision[4] = '\0';
}

// The INQUIRY every enumeration sends, with the allocation length given.
uint8_t SendInquiry(CDeviceManager& manager, uint8_t* data, uint8_t allocation) {
  uint8_t cdb[12] = {kOpInquiry, 0x00, 0x00, 0x00, allocation, 0x00};
  return manager.ExecuteCommand(cdb, kDirectionIn, data, allocation, 15);
}

}  // namespace

CDeviceManager::CDeviceManager(std::shared_ptr<IDeviceHost> host, std::shared_ptr<IAspiHost> aspi)
    : m_useSpti(false),
      m_driveCount(0),
      m_selected(kNoDriveSelected),
      m_adapterCount(0),
      m_hAspi(0),
      m_drives{},
      m_host(host ? std::move(host) : CreatePlatformHost()),
      m_aspi(aspi ? std::move(aspi) : std::dynamic_pointer_cast<IAspiHost>(m_host)) {}

CDeviceManager::~CDeviceManager() { Release(); }

void CDeviceManager::ShowMessage(const std::string& text, const std::string& caption) {
  if (m_showMessage) {
    m_showMessage(text, caption);
  } else {
    std::fprintf(stderr, "%s\n", text.c_str());
  }
}

bool CDeviceManager::Initialize() {
  DetectPlatform();
  if (!LoadAspi()) {
    ShowMessage("Can't load WNASPI32.DLL!!", "");
    return false;
  }
  return true;
}

void CDeviceManager::DetectPlatform() {
  uint32_t platform = 0;
  // A failed version query can only come from an NT-family system, the
  // only kind on which pass-through exists at all: take pass-through.
  if (!m_host->QueryPlatform(&platform)) {
    m_useSpti = true;
    return;
  }
  m_useSpti = platform == kPlatformWin32Nt;
}

bool CDeviceManager::LoadAspi() {
  if (m_useSpti) return true;
  if (!m_aspi) return false;
  m_hAspi = m_aspi->LoadModule(kAspiLibrary);
  if (m_hAspi == 0) return false;
  AspiProc supportInfo = m_aspi->FindEntryPoint(m_hAspi, "GetASPI32SupportInfo");
  m_pfnSendCommand = m_aspi->FindEntryPoint(m_hAspi, "SendASPI32Command");
  if (!supportInfo || !m_pfnSendCommand) {
    m_pfnSendCommand = nullptr;
    return false;
  }
  m_pfnGetSupportInfo = [supportInfo] { return supportInfo(nullptr, nullptr); };
  const uint32_t info = m_pfnGetSupportInfo();
  const uint8_t status = static_cast<uint8_t>(info >> 8);
  if (status == SS_COMP || status == SS_NO_ADAPTERS) {
    m_adapterCount = static_cast<int32_t>(info & 0xFF);
    return true;
  }
  m_driveCount = 0;
  ShowMessage("Unexpected ASPI Failure", "");
  return false;
}

void CDeviceManager::EnumerateDrives() {
  for (DriveEntry& row : m_drives) {
    if (row.hDevice != 0) m_host->CloseVolume(row.hDevice);
    row = DriveEntry{};
  }
  m_driveCount = 0;
  m_selected = kNoDriveSelected;
  m_skipped.clear();

  if (m_useSpti) {
    EnumeratePassThrough();
  } else {
    EnumerateAspi();
  }
  m_selected = m_driveCount > 0 ? 0 : kNoDriveSelected;
}

// A ninth drive is never listed: enumeration stops once the table is full,
// so no further device is even opened.
void CDeviceManager::EnumeratePassThrough() {
  for (const VolumeCandidate& volume : m_host->VolumeCandidates()) {
    if (m_driveCount >= kMaxDrives) break;
    uint32_t error = 0;
    const DeviceHandle handle = m_host->OpenVolume(volume.openPath, &error);
    if (handle == 0) {
      // Letters that simply do not exist are not worth a word; a drive that
      // is there but refused us is.
      if (error != kErrorFileNotFound && error != kErrorSuccess) {
        m_skipped.push_back({m_host->FailedOpenNode(volume.openPath), error, false});
      }
      continue;
    }
    if (m_host->DriveTypeOf(volume.typePath) != kDriveTypeCdRom) {
      m_host->CloseVolume(handle);
      continue;
    }
    const uint8_t r = m_driveCount;
    m_selected = r;
    m_drives[r].hDevice = handle;
    uint8_t inquiry[56] = {};
    if (SendInquiry(*this, inquiry, sizeof inquiry) == kStatusDone) {
      CopyInquiryIdentity(m_drives[r], inquiry);
      ++m_driveCount;
    } else {
      m_skipped.push_back({m_host->DescribeVolume(handle), 0, true});
      m_drives[r].hDevice = 0;
      m_host->CloseVolume(handle);
    }
  }
}

void CDeviceManager::EnumerateAspi() {
  for (int32_t a = 0; a < m_adapterCount && m_driveCount < kMaxDrives; ++a) {
    SrbHaInquiry inquiry{};
    inquiry.SRB_Cmd = SC_HA_INQUIRY;
    inquiry.SRB_HaId = static_cast<uint8_t>(a);
    m_pfnSendCommand(&inquiry, nullptr);
    if (inquiry.SRB_Status != SS_COMP) continue;
    int maxTargets = inquiry.HA_Unique[3];
    if (maxTargets != 8 && maxTargets != 16) maxTargets = 8;

    for (int t = 0; t < maxTargets && m_driveCount < kMaxDrives; ++t) {
      SrbGdevBlock device{};
      device.SRB_Cmd = SC_GET_DEV_TYPE;
      device.SRB_HaId = static_cast<uint8_t>(a);
      device.SRB_Target = static_cast<uint8_t>(t);
      device.SRB_Lun = 0;
      m_pfnSendCommand(&device, nullptr);
      if (device.SRB_Status != SS_COMP || device.SRB_DeviceType != kDeviceTypeCdRom) continue;

      const uint8_t r = m_driveCount;
      m_selected = r;
      m_drives[r].adapterId = static_cast<uint8_t>(a);
      m_drives[r].targetId = static_cast<uint8_t>(t);
      uint8_t data[36] = {};
      if (SendInquiry(*this, data, sizeof data) == kStatusDone) {
        CopyInquiryIdentity(m_drives[r], data);
        ++m_driveCount;
      } else {
        m_skipped.push_back({GetDrivePath(r), 0, true});
        m_drives[r] = DriveEntry{};
      }
    }
  }
}

uint8_t CDeviceManager::GetDriveCount() const { return m_driveCount; }

bool CDeviceManager::SelectDrive(uint8_t index) {
  if (m_driveCount == 0 || index >= m_driveCount) return false;
  m_selected = index;
  return true;
}

bool CDeviceManager::GetDriveName(char* name) const {
  const uint8_t selected = m_selected.load();
  if (m_driveCount == 0 || selected >= m_driveCount) return false;
  std::snprintf(name, 100, "%s%s", m_drives[selected].vendorProduct, m_drives[selected].revision);
  return true;
}

std::string CDeviceManager::GetDrivePath(uint8_t index) const {
  if (index >= kMaxDrives) return "";
  const DriveEntry& row = m_drives[index];
  if (m_useSpti) return row.hDevice != 0 ? m_host->DescribeVolume(row.hDevice) : "";
  char path[32];
  std::snprintf(path, sizeof path, "aspi:%u:%u", row.adapterId, row.targetId);
  return path;
}

uint8_t CDeviceManager::CdbLengthFor(uint8_t operationCode) {
  return CdbGroupLength(operationCode);
}

uint8_t CDeviceManager::ExecuteCommand(const uint8_t* cdb, uint8_t direction, void* buffer,
                                       uint32_t length, uint32_t timeoutSeconds) {
  ScsiExchange exchange;
  exchange.SetCdb(cdb, CdbLengthFor(cdb[0]));
  exchange.direction = direction;
  exchange.data = static_cast<uint8_t*>(buffer);
  exchange.dataLength = length;
  exchange.timeout = std::chrono::seconds(timeoutSeconds);
  Execute(exchange);
  return exchange.Status();
}

void CDeviceManager::Execute(ScsiExchange& exchange) {
  const uint8_t selected = m_selected.load();
  if (selected == kNoDriveSelected || selected >= kMaxDrives) {
    exchange.outcome = ExchangeOutcome::kTransportError;
    return;
  }
  CCommandTrace* sink = m_trace.load();
  const auto started = std::chrono::steady_clock::now();
  const auto when =
      sink != nullptr ? std::chrono::system_clock::now() : std::chrono::system_clock::time_point{};
  {
    std::lock_guard<std::mutex> oneAtATime(m_commandLock[selected]);
    const DriveEntry& row = m_drives[selected];
    if (m_useSpti) {
      ExecutePassThrough(row, exchange);
    } else {
      ExecuteAspi(row, exchange);
    }
  }
  if (sink != nullptr) {
    TraceRecord trace;
    trace.when = when;
    trace.drive = selected;
    trace.transport = m_useSpti ? "spti" : "aspi";
    trace.exchange = &exchange;
    trace.duration = std::chrono::duration_cast<std::chrono::microseconds>(
        std::chrono::steady_clock::now() - started);
    sink->Record(trace);
  }
}

void CDeviceManager::ExecutePassThrough(const DriveEntry& row, ScsiExchange& exchange) {
  SptdWithSense block{};
  block.sptd.Length = sizeof(ScsiPassThroughDirect);
  block.sptd.PathId = row.adapterId;
  block.sptd.TargetId = row.targetId;
  block.sptd.Lun = 0;
  block.sptd.CdbLength = exchange.cdbLength;
  block.sptd.SenseInfoLength = sizeof block.SenseBuf;
  block.sptd.DataIn = exchange.direction == kDirectionOut  ? kScsiIoctlDataOut
                      : exchange.direction == kDirectionIn ? kScsiIoctlDataIn
                                                           : kScsiIoctlDataUnspecified;
  block.sptd.DataTransferLength = exchange.dataLength;
  block.sptd.TimeOutValue = static_cast<uint32_t>(
      std::chrono::duration_cast<std::chrono::seconds>(exchange.timeout).count());
  block.sptd.SenseInfoOffset = offsetof(SptdWithSense, SenseBuf);
  std::memcpy(block.sptd.Cdb, exchange.cdb.data(), exchange.cdbLength);

  uint32_t error = 0;
  const bool ok = m_host->PassThroughDirect(row.hDevice, block, exchange.data, &error);
  exchange.transferred = block.sptd.DataTransferLength;
  if (!ok) {
    exchange.hostError = error == 0 ? kErrorGenFailure : error;
    exchange.outcome = error == kErrorSemTimeout    ? ExchangeOutcome::kTimedOut
                       : error == kErrorDevNotExist ? ExchangeOutcome::kDriveGone
                                                    : ExchangeOutcome::kTransportError;
    return;
  }
  exchange.scsiStatus = block.sptd.ScsiStatus;
  if (block.sptd.ScsiStatus == kScsiStatusCheckCondition) {
    exchange.SetSense(block.SenseBuf, sizeof block.SenseBuf);
    exchange.outcome = ExchangeOutcome::kCheckCondition;
    return;
  }
  exchange.outcome = ExchangeOutcome::kDone;
}

bool CDeviceManager::SetAspiTimeout(uint32_t seconds) {
  const uint8_t selected = m_selected.load();
  if (!m_pfnSendCommand || selected >= kMaxDrives) return false;
  SrbGetSetTimeouts request{};
  request.SRB_Cmd = SC_GETSET_TIMEOUTS;
  request.SRB_Flags = SRB_DIR_OUT;
  request.SRB_HaId = m_drives[selected].adapterId;
  request.SRB_Target = m_drives[selected].targetId;
  request.SRB_Lun = 0;
  request.SRB_Timeout = seconds * 2;
  m_pfnSendCommand(&request, nullptr);
  return request.SRB_Status == SS_COMP;
}

void CDeviceManager::ExecuteAspi(const DriveEntry& row, ScsiExchange& exchange) {
  if (!m_pfnSendCommand) {
    exchange.outcome = ExchangeOutcome::kTransportError;
    return;
  }
  const auto timeoutSeconds = static_cast<uint32_t>(
      std::chrono::duration_cast<std::chrono::seconds>(exchange.timeout).count());
  if (!SetAspiTimeout(timeoutSeconds)) ShowMessage("Set ASPI timeout fail!!", "Error");

  SrbExecScsiCmd srb{};
  srb.SRB_Cmd = SC_EXEC_SCSI_CMD;
  srb.SRB_HaId = row.adapterId;
  srb.SRB_Flags = exchange.direction == kDirectionOut  ? SRB_DIR_OUT
                  : exchange.direction == kDirectionIn ? SRB_DIR_IN
                                                       : 0x00;
  srb.SRB_Target = row.targetId;
  srb.SRB_Lun = 0;
  srb.SRB_BufLen = exchange.dataLength;
  srb.SRB_SenseLen = kAspiSenseLength;
  srb.SRB_CDBLen = exchange.cdbLength;
  std::memcpy(srb.CDBByte, exchange.cdb.data(), exchange.cdbLength);

  AspiAddresses addresses;
  addresses.buffer = exchange.data;
  const EventHandle event = m_aspi->NewEvent();
  std::atomic_ref<uint8_t> requestStatus(srb.SRB_Status);
  if (event != 0) {
    srb.SRB_Flags |= SRB_EVENT_NOTIFY;
    addresses.postEvent = event;
    if (m_pfnSendCommand(&srb, &addresses) == SS_PENDING) m_aspi->WaitEvent(event);
    m_aspi->DeleteEvent(event);
  } else {
    m_pfnSendCommand(&srb, &addresses);
    while (requestStatus.load(std::memory_order_acquire) == SS_PENDING) {
      std::this_thread::yield();
    }
  }

  const uint8_t status = requestStatus.load(std::memory_order_acquire);
  exchange.scsiStatus = srb.SRB_TargStat;
  exchange.aspiStatus = static_cast<uint16_t>(status | srb.SRB_HaStat << 8);
  // The layer leaves the bytes moved in SRB_BufLen (one that says nothing
  // leaves the length asked for): a reply cut short is bounded by what came,
  // as on pass-through.
  exchange.transferred = std::min(srb.SRB_BufLen, exchange.dataLength);
  const bool checkCondition = srb.SRB_TargStat == kScsiStatusCheckCondition;
  if (checkCondition) exchange.SetSense(srb.SenseArea, kAspiSenseLength);
  if (status == SS_COMP) {
    exchange.outcome = ExchangeOutcome::kDone;
  } else if (srb.SRB_HaStat == HASTAT_TIMEOUT) {
    exchange.outcome = ExchangeOutcome::kTimedOut;
  } else if (checkCondition) {
    exchange.outcome = ExchangeOutcome::kCheckCondition;
  } else if (status == SS_ERR && srb.SRB_HaStat == HASTAT_OK &&
             srb.SRB_TargStat != kScsiStatusGood) {
    // The drive answered with a status of its own (BUSY, TASK SET FULL):
    // an answer, as pass-through has it; the request still counts as failed.
    exchange.outcome = ExchangeOutcome::kDone;
  } else if (status == SS_NO_DEVICE || srb.SRB_HaStat == HASTAT_SEL_TO) {
    exchange.outcome = ExchangeOutcome::kDriveGone;
  } else {
    exchange.outcome = ExchangeOutcome::kTransportError;
  }
}

void CDeviceManager::Release() {
  if (m_useSpti) {
    for (DriveEntry& row : m_drives) {
      if (row.hDevice != 0) {
        m_host->CloseVolume(row.hDevice);
        row.hDevice = 0;
      }
    }
  } else if (m_hAspi != 0) {
    m_pfnSendCommand = nullptr;
    m_pfnGetSupportInfo = nullptr;
    m_aspi->UnloadModule(m_hAspi);
    m_hAspi = 0;
  }
}
