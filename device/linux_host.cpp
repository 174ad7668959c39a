#include "device/linux_host.h"

#include <dirent.h>
#include <fcntl.h>
#include <scsi/sg.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
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

// NodeNumber("sr12", "sr") -> 12; -1 for anything else.
int NodeNumber(const std::string& name, const char* prefix) {
  const size_t length = std::strlen(prefix);
  if (name.size() <= length || name.compare(0, length, prefix) != 0) return -1;
  int number = 0;
  for (size_t i = length; i < name.size(); ++i) {
    if (name[i] < '0' || name[i] > '9' || number > 100000) return -1;
    number = number * 10 + (name[i] - '0');
  }
  return number;
}

int SrNumber(const std::string& name) { return NodeNumber(name, "sr"); }
int SgNumber(const std::string& name) { return NodeNumber(name, "sg"); }

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
  // Optical drives that sr has not bound (sr_mod not loaded, or the device
  // came before it) are still reachable through their generic node.
  std::vector<std::pair<int, std::string>> genericOnly;
  for (const std::string& name : ListDir(m_sysfsRoot + "/class/scsi_generic")) {
    const int number = SgNumber(name);
    if (number < 0) continue;
    const std::string device = m_sysfsRoot + "/class/scsi_generic/" + name + "/device";
    if (ReadLine(device + "/type") != "5") continue;
    const std::vector<std::string> block = ListDir(device + "/block");
    if (std::any_of(block.begin(), block.end(),
                    [](const std::string& b) { return SrNumber(b) >= 0; })) {
      continue;
    }
    genericOnly.emplace_back(number, name);
  }
  std::sort(genericOnly.begin(), genericOnly.end());
  for (const auto& drive : genericOnly) {
    volumes.push_back({m_devRoot + "/" + drive.second, drive.second});
  }
  return volumes;
}

uint32_t CLinuxHost::DriveTypeOf(const std::string& typePath) {
  const std::string device = SgNumber(typePath) >= 0
                                 ? m_sysfsRoot + "/class/scsi_generic/" + typePath + "/device"
                                 : m_sysfsRoot + "/class/block/" + typePath + "/device";
  return ReadLine(device + "/type") == "5" ? kDriveTypeCdRom : 0;
}

DeviceHandle CLinuxHost::OpenVolume(const std::string& volumePath, uint32_t* error) {
  *error = kErrorSuccess;
  // Only the name counts; the nodes are always looked up under our own roots.
  const size_t slash = volumePath.rfind('/');
  const std::string openPath =
      slash == std::string::npos ? volumePath : volumePath.substr(slash + 1);
  const bool genericName = SgNumber(openPath) >= 0;
  if (SrNumber(openPath) < 0 && !genericName) {
    *error = kErrorFileNotFound;
    return 0;
  }
  std::vector<std::string> generic;
  if (genericName) {
    generic.push_back(openPath);
  } else {
    generic = ListDir(m_sysfsRoot + "/class/block/" + openPath + "/device/scsi_generic");
    std::sort(generic.begin(), generic.end());
  }

  Open opened;
  std::string failedPath;
  int failedErrno = 0;
  for (const std::string& sg : generic) {
    if (SgNumber(sg) < 0) continue;
    const std::string path = m_devRoot + "/" + sg;
    const int fd = ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd >= 0) {
      opened = {fd, path, false};
      break;
    }
    if (errno == ENOENT) continue;  // sysfs knows it, /dev has no node
    // The sg node is there and refused: that is the answer. Falling back to
    // /dev/srN would bypass an exclusive hold and turn a permission problem
    // into "load the sg module".
    failedErrno = errno;
    failedPath = path;
    break;
  }
  if (opened.fd < 0 && failedErrno == 0) {
    if (genericName) {
      failedErrno = ENOENT;
      failedPath = m_devRoot + "/" + openPath;
    } else {
      const std::string path = m_devRoot + "/" + openPath;
      const int fd = ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
      if (fd >= 0) {
        opened = {fd, path, true};
      } else {
        failedErrno = errno;
        failedPath = path;
      }
    }
  }
  std::lock_guard<std::mutex> hold(m_lock);
  if (opened.fd < 0) {
    *error = ErrnoToHostError(failedErrno);
    m_failedNode[volumePath] = failedPath;
    return 0;
  }
  m_failedNode.erase(volumePath);
  const DeviceHandle handle = m_nextHandle++;
  m_open[handle] = opened;
  return handle;
}

std::string CLinuxHost::FailedOpenNode(const std::string& openPath) {
  std::lock_guard<std::mutex> hold(m_lock);
  auto it = m_failedNode.find(openPath);
  return it == m_failedNode.end() ? openPath : it->second;
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
  const size_t senseRoom = senseOffset < sizeof block
                               ? std::min<size_t>(sptd.SenseInfoLength, sizeof block - senseOffset)
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
  // A signal (Ctrl-C) that arrives while the command runs makes SG_IO give
  // up waiting with EINTR; the kernel then drops the answer. The command
  // is sent again, as a restarted call would: every command Velmo sends
  // reads or switches a mode and may be repeated, and the caller sees the
  // drive's answer instead of a transport failure, then notices the stop.
  for (int attempt = 0;; ++attempt) {
    if (::ioctl(fd, SG_IO, &io) == 0) break;
    if (errno != EINTR || attempt >= 8) {
      result.ioctlErrno = errno;
      break;
    }
  }
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

std::vector<NodeHolder> FindNodeHolders(const std::string& nodePath, const std::string& procRoot) {
  std::vector<NodeHolder> holders;
  // /proc shows the resolved path: compare with the node's own.
  std::string node = nodePath;
  if (char* resolved = ::realpath(nodePath.c_str(), nullptr)) {
    node = resolved;
    std::free(resolved);
  }
  for (const std::string& entry : ListDir(procRoot)) {
    if (entry.find_first_not_of("0123456789") != std::string::npos) continue;
    const std::string fdDir = procRoot + "/" + entry + "/fd";
    for (const std::string& fd : ListDir(fdDir)) {
      char target[4096];
      const ssize_t length = ::readlink((fdDir + "/" + fd).c_str(), target, sizeof target - 1);
      if (length <= 0 || node != std::string(target, static_cast<size_t>(length))) continue;
      NodeHolder holder;
      holder.pid = std::atoi(entry.c_str());
      holder.program = ReadLine(procRoot + "/" + entry + "/comm");
      holders.push_back(holder);
      break;
    }
  }
  std::sort(holders.begin(), holders.end(),
            [](const NodeHolder& a, const NodeHolder& b) { return a.pid < b.pid; });
  return holders;
}

std::shared_ptr<IDeviceHost> CreatePlatformHost() { return std::make_shared<CLinuxHost>(); }
