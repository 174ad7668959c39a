#include "device/linux_host.h"

#include <dirent.h>
#include <fcntl.h>
#include <scsi/sg.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>

namespace {

// Host byte and driver byte values of the SCSI mid-layer.
constexpr uint16_t kDidOk = 0x00;
constexpr uint16_t kDidNoConnect = 0x01;
constexpr uint16_t kDidTimeOut = 0x03;
constexpr uint16_t kDidBadTarget = 0x04;
constexpr uint16_t kDidAbort = 0x05;
constexpr uint16_t kDidReset = 0x08;
constexpr uint16_t kDriverMask = 0x07;
constexpr uint16_t kDriverTimeout = 0x06;
constexpr uint16_t kDriverSense = 0x08;
// The kernel's SG_DXFER_UNKNOWN, which glibc's <scsi/sg.h> leaves out.
constexpr int kSgDxferUnknown = -5;

std::string ReadLine(const std::string& path) {
  std::ifstream in(path);
  std::string line;
  std::getline(in, line);
  return line;
}

// "sr12" -> 12; -1 for anything else.
int SrNumber(const std::string& name) {
  if (name.size() < 3 || name.compare(0, 2, "sr") != 0) return -1;
  int number = 0;
  for (size_t i = 2; i < name.size(); ++i) {
    if (name[i] < '0' || name[i] > '9' || number > 100000) return -1;
    number = number * 10 + (name[i] - '0');
  }
  return number;
}

std::vector<std::string> ListDir(const std::string& path) {
  std::vector<std::string> names;
  if (DIR* dir = opendir(path.c_str())) {
    while (dirent* entry = readdir(dir)) {
      if (entry->d_name[0] != '.') names.emplace_back(entry->d_name);
    }
    closedir(dir);
  }
  return names;
}

}  // namespace

uint32_t ErrnoToHostError(int error) {
  switch (error) {
    case 0: return kErrorSuccess;
    case ENOENT: return kErrorFileNotFound;
    case EACCES:
    case EPERM:
    case EROFS: return kErrorAccessDenied;
    case EBUSY: return kErrorSharingViolation;
    case ENODEV:
    case ENXIO: return kErrorDevNotExist;
    case ETIMEDOUT: return kErrorSemTimeout;
    case EINVAL:
    case ENOMEM:
    case EFAULT: return kErrorInvalidParameter;
    case ENOMEDIUM: return kErrorNotReady;
    case EIO: return kErrorIoDevice;
    default: return kErrorGenFailure;
  }
}

bool MapSgIoOutcome(const SgIoResult& r, uint8_t* scsiStatus, uint32_t* error) {
  *scsiStatus = 0;
  if (r.ioctlErrno != 0) {
    *error = ErrnoToHostError(r.ioctlErrno);
    return false;
  }
  // The kernel does not always say "time-out" when it gave up on a command:
  // it may abort and reset, so an abort or reset after the full time-out
  // counts as one too.
  const bool ranOut = r.timeoutMs > 0 && r.elapsedMs >= r.timeoutMs;
  if (r.hostStatus == kDidTimeOut || (r.driverStatus & kDriverMask) == kDriverTimeout ||
      ((r.hostStatus == kDidAbort || r.hostStatus == kDidReset) && ranOut)) {
    *error = kErrorSemTimeout;
    return false;
  }
  if (r.hostStatus == kDidNoConnect || r.hostStatus == kDidBadTarget) {
    *error = kErrorDevNotExist;
    return false;
  }
  if (r.hostStatus != kDidOk) {
    *error = kErrorIoDevice;
    return false;
  }
  uint8_t status = r.status;
  // Some drivers report CHECK CONDITION only through DRIVER_SENSE.
  if (status == 0 && (r.driverStatus & kDriverSense) != 0 && r.senseWritten > 0) {
    status = kScsiStatusCheckCondition;
  }
  if (status == 0 && (r.driverStatus & kDriverMask) != 0) {
    *error = kErrorIoDevice;
    return false;
  }
  *scsiStatus = status;
  return true;
}

CLinuxHost::CLinuxHost(std::string sysfsRoot, std::string devRoot)
    : m_sysfsRoot(std::move(sysfsRoot)), m_devRoot(std::move(devRoot)) {}

CLinuxHost::~CLinuxHost() {
  for (auto& entry : m_open) ::close(entry.second.fd);
}

bool CLinuxHost::QueryPlatform(uint32_t* platformId) {
  *platformId = kPlatformWin32Nt;  // pass-through is this platform's transport
  return true;
}

std::vector<VolumeCandidate> CLinuxHost::VolumeCandidates() {
  std::vector<std::pair<int, std::string>> drives;
  for (const std::string& name : ListDir(m_sysfsRoot + "/class/block")) {
    const int number = SrNumber(name);
    if (number >= 0) drives.emplace_back(number, name);
  }
  std::sort(drives.begin(), drives.end());
  std::vector<VolumeCandidate> volumes;
  // Opened by their block node's name, so a drive that cannot be opened is
  // named as the user knows it.
  for (const auto& drive : drives) {
    volumes.push_back({m_devRoot + "/" + drive.second, drive.second});
  }
  return volumes;
}

uint32_t CLinuxHost::DriveTypeOf(const std::string& typePath) {
  const std::string type = ReadLine(m_sysfsRoot + "/class/block/" + typePath + "/device/type");
  return type == "5" ? kDriveTypeCdRom : 0;
}

DeviceHandle CLinuxHost::OpenVolume(const std::string& volumePath, uint32_t* error) {
  *error = kErrorSuccess;
  // Only the name counts; the nodes are always looked up under our own roots.
  const size_t slash = volumePath.rfind('/');
  const std::string openPath = slash == std::string::npos ? volumePath : volumePath.substr(slash + 1);
  if (SrNumber(openPath) < 0) {
    *error = kErrorFileNotFound;
    return 0;
  }
  std::vector<std::string> generic =
      ListDir(m_sysfsRoot + "/class/block/" + openPath + "/device/scsi_generic");
  std::sort(generic.begin(), generic.end());

  int firstErrno = 0;
  Open opened;
  for (const std::string& sg : generic) {
    const std::string path = m_devRoot + "/" + sg;
    const int fd = ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd >= 0) {
      opened = {fd, path, false};
      break;
    }
    if (firstErrno == 0 && errno != ENOENT) firstErrno = errno;
  }
  if (opened.fd < 0) {
    const std::string path = m_devRoot + "/" + openPath;
    const int fd = ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd >= 0) {
      opened = {fd, path, true};
    } else {
      // Report the generic node's refusal (it says what to fix) unless only
      // the block node was there to try.
      *error = ErrnoToHostError(firstErrno != 0 ? firstErrno : errno);
      return 0;
    }
  }
  std::lock_guard<std::mutex> hold(m_lock);
  const DeviceHandle handle = m_nextHandle++;
  m_open[handle] = opened;
  return handle;
}

bool CLinuxHost::PassThroughDirect(DeviceHandle device, SptdWithSense& block, void* data,
                                   uint32_t* error) {
  int fd = -1;
  {
    std::lock_guard<std::mutex> hold(m_lock);
    auto it = m_open.find(device);
    if (it != m_open.end()) fd = it->second.fd;
  }
  if (fd < 0) {
    *error = kErrorInvalidParameter;
    return false;
  }
  ScsiPassThroughDirect& sptd = block.sptd;
  const size_t senseOffset = sptd.SenseInfoOffset;
  const size_t senseRoom =
      senseOffset < sizeof block ? std::min<size_t>(sptd.SenseInfoLength, sizeof block - senseOffset)
                                 : 0;
  if (sptd.CdbLength == 0 || sptd.CdbLength > sizeof sptd.Cdb ||
      (data == nullptr && sptd.DataTransferLength != 0)) {
    *error = kErrorInvalidParameter;
    return false;
  }

  sg_io_hdr_t io{};
  io.interface_id = 'S';
  if (sptd.DataTransferLength == 0) {
    io.dxfer_direction = SG_DXFER_NONE;
  } else if (sptd.DataIn == kScsiIoctlDataIn) {
    io.dxfer_direction = SG_DXFER_FROM_DEV;
  } else if (sptd.DataIn == kScsiIoctlDataOut) {
    io.dxfer_direction = SG_DXFER_TO_DEV;
  } else {
    io.dxfer_direction = kSgDxferUnknown;
  }
  io.cmd_len = sptd.CdbLength;
  io.cmdp = sptd.Cdb;
  io.dxfer_len = sptd.DataTransferLength;
  io.dxferp = data;
  io.mx_sb_len = static_cast<unsigned char>(senseRoom);
  io.sbp = senseRoom > 0 ? reinterpret_cast<unsigned char*>(&block) + senseOffset : nullptr;
  // SG_IO counts milliseconds.
  const uint64_t timeoutMs = static_cast<uint64_t>(sptd.TimeOutValue) * 1000u;
  io.timeout = static_cast<unsigned int>(std::min<uint64_t>(timeoutMs, 0x7FFFFFFF));

  SgIoResult result;
  if (::ioctl(fd, SG_IO, &io) < 0) result.ioctlErrno = errno;
  result.status = io.status;
  result.hostStatus = io.host_status;
  result.driverStatus = io.driver_status;
  result.senseWritten = io.sb_len_wr;
  result.elapsedMs = io.duration;
  result.timeoutMs = io.timeout;

  if (result.ioctlErrno == 0 && io.resid > 0 && static_cast<uint32_t>(io.resid) <= io.dxfer_len) {
    sptd.DataTransferLength = io.dxfer_len - static_cast<uint32_t>(io.resid);
  }
  uint8_t scsiStatus = 0;
  const bool ok = MapSgIoOutcome(result, &scsiStatus, error);
  sptd.ScsiStatus = scsiStatus;
  return ok;
}

void CLinuxHost::CloseVolume(DeviceHandle device) {
  std::lock_guard<std::mutex> hold(m_lock);
  auto it = m_open.find(device);
  if (it == m_open.end()) return;
  ::close(it->second.fd);
  m_open.erase(it);
}

std::string CLinuxHost::DescribeVolume(DeviceHandle device) {
  std::lock_guard<std::mutex> hold(m_lock);
  auto it = m_open.find(device);
  return it == m_open.end() ? std::string() : it->second.path;
}

bool CLinuxHost::OpenedOnBlockNode(DeviceHandle device) {
  std::lock_guard<std::mutex> hold(m_lock);
  auto it = m_open.find(device);
  return it != m_open.end() && it->second.blockNode;
}

ModuleHandle CLinuxHost::LoadModule(const std::string&) { return 0; }
AspiProc CLinuxHost::FindEntryPoint(ModuleHandle, const std::string&) { return nullptr; }
void CLinuxHost::UnloadModule(ModuleHandle) {}
EventHandle CLinuxHost::NewEvent() { return 0; }
void CLinuxHost::WaitEvent(EventHandle) {}
void CLinuxHost::DeleteEvent(EventHandle) {}

#ifndef _WIN32
std::shared_ptr<IDeviceHost> CreatePlatformHost() { return std::make_shared<CLinuxHost>(); }
#endif
