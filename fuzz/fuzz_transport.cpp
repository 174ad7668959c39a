// The pass-through and ASPI result handling of the device manager: a host
// whose every answer (open errors, drive types, SCSI status, sense bytes,
// transfer counts, ASPI request status, adapter and target replies) comes
// from the input. Also the SG_IO outcome mapping and the sense decoder alone.
#include <cstring>

#include "device/command_trace.h"
#include "device/device_manager.h"
#include "device/linux_host.h"
#include "device/sense.h"
#include "fuzz/fuzz_input.h"

namespace {

class FuzzHost : public IDeviceHost, public IAspiHost {
 public:
  explicit FuzzHost(FuzzInput& in) : m_in(in) {}

  bool QueryPlatform(uint32_t* platformId) override {
    const uint8_t b = m_in.Byte();
    *platformId = (b & 1) ? kPlatformWin32Windows : kPlatformWin32Nt;
    return (b & 2) == 0;
  }
  std::vector<VolumeCandidate> VolumeCandidates() override {
    std::vector<VolumeCandidate> volumes;
    const int n = m_in.Byte() % 12;
    for (int i = 0; i < n; ++i)
      volumes.push_back({"v" + std::to_string(i), "t" + std::to_string(i)});
    return volumes;
  }
  DeviceHandle OpenVolume(const std::string&, uint32_t* error) override {
    const uint8_t b = m_in.Byte();
    if (b & 0x80) {
      *error = m_in.U32();
      return 0;
    }
    ++m_openCount;
    return static_cast<DeviceHandle>(m_nextHandle++);
  }
  uint32_t DriveTypeOf(const std::string&) override {
    const uint8_t b = m_in.Byte();
    return b < 0xF0 ? kDriveTypeCdRom : b & 7;
  }
  bool PassThroughDirect(DeviceHandle device, SptdWithSense& block, void* data,
                         uint32_t* error) override {
    ScsiPassThroughDirect& sptd = block.sptd;
    // What the manager promises every pass-through call.
    FUZZ_CHECK(device != 0 && device < m_nextHandle);
    FUZZ_CHECK(sptd.Length == sizeof(ScsiPassThroughDirect));
    FUZZ_CHECK(sptd.CdbLength == 6 || sptd.CdbLength == 10 || sptd.CdbLength == 12 ||
               sptd.CdbLength == 16);
    FUZZ_CHECK(size_t{sptd.SenseInfoOffset} + sptd.SenseInfoLength <= sizeof block);
    FUZZ_CHECK(data != nullptr || sptd.DataTransferLength == 0);

    const uint8_t flags = m_in.Byte();
    if ((flags & 7) == 7) {
      *error = (flags & 8) ? kErrorSemTimeout : m_in.U32();
      return false;
    }
    sptd.ScsiStatus = (flags & 0x10) ? m_in.Byte() : (flags & 0x20) ? kScsiStatusCheckCondition : 0;
    if (sptd.ScsiStatus == kScsiStatusCheckCondition) {
      const std::vector<uint8_t> sense = m_in.Bytes(sizeof block.SenseBuf);
      if (!sense.empty()) std::memcpy(block.SenseBuf, sense.data(), sense.size());
    }
    const std::vector<uint8_t> reply = m_in.Field();
    const size_t n = std::min<size_t>(reply.size(), sptd.DataTransferLength);
    if (n > 0) std::memcpy(data, reply.data(), n);
    // A host may report any count, even one above what was asked for.
    sptd.DataTransferLength = (flags & 0x40) ? m_in.U32() : static_cast<uint32_t>(n);
    return true;
  }
  void CloseVolume(DeviceHandle device) override {
    FUZZ_CHECK(device != 0);
    --m_openCount;
  }
  std::string DescribeVolume(DeviceHandle device) override {
    return "/dev/fuzz" + std::to_string(device);
  }

  ModuleHandle LoadModule(const std::string&) override {
    m_moduleFlags = m_in.Byte();
    return (m_moduleFlags & 0x80) ? 0 : 1;
  }
  AspiProc FindEntryPoint(ModuleHandle module, const std::string& name) override {
    FUZZ_CHECK(module == 1);
    if (name == "GetASPI32SupportInfo") {
      if (m_moduleFlags & 1) return nullptr;
      return [this](void* srb, const AspiAddresses*) -> uint32_t {
        FUZZ_CHECK(srb == nullptr);
        const uint8_t status = m_in.Byte();
        // Adapter counts are kept small: every adapter costs inquiries.
        const uint8_t adapters = m_in.Byte() % 4;
        const uint8_t s = status < 0x80 ? SS_COMP : status < 0xC0 ? SS_NO_ADAPTERS : status;
        return uint32_t{s} << 8 | adapters;
      };
    }
    if (name == "SendASPI32Command") {
      if (m_moduleFlags & 2) return nullptr;
      return [this](void* srb, const AspiAddresses* addresses) { return Send(srb, addresses); };
    }
    return nullptr;
  }
  void UnloadModule(ModuleHandle module) override { FUZZ_CHECK(module == 1); }
  EventHandle NewEvent() override { return (m_moduleFlags & 4) ? 0 : 7; }
  void WaitEvent(EventHandle event) override { FUZZ_CHECK(event == 7); }
  void DeleteEvent(EventHandle event) override { FUZZ_CHECK(event == 7); }

  int OpenCount() const { return m_openCount; }

 private:
  static uint8_t AnyStatus(uint8_t b) {
    switch (b & 3) {
      case 0: return SS_COMP;
      case 1: return SS_ERR;
      case 2: return SS_NO_DEVICE;
      default: return b;
    }
  }

  uint32_t Send(void* srb, const AspiAddresses* addresses) {
    FUZZ_CHECK(srb != nullptr);
    auto* header = static_cast<SrbHeader*>(srb);
    switch (header->SRB_Cmd) {
      case SC_HA_INQUIRY: {
        auto* r = static_cast<SrbHaInquiry*>(srb);
        r->SRB_Status = AnyStatus(m_in.Byte());
        r->HA_Unique[3] = m_in.Byte();
        return r->SRB_Status;
      }
      case SC_GET_DEV_TYPE: {
        auto* r = static_cast<SrbGdevBlock*>(srb);
        const uint8_t b = m_in.Byte();
        r->SRB_Status = AnyStatus(b);
        r->SRB_DeviceType = (b & 0x80) ? m_in.Byte() : kDeviceTypeCdRom;
        return r->SRB_Status;
      }
      case SC_GETSET_TIMEOUTS: {
        auto* r = static_cast<SrbGetSetTimeouts*>(srb);
        r->SRB_Status = AnyStatus(m_in.Byte());
        return r->SRB_Status;
      }
      case SC_EXEC_SCSI_CMD: {
        auto* r = static_cast<SrbExecScsiCmd*>(srb);
        FUZZ_CHECK(addresses != nullptr);
        FUZZ_CHECK(addresses->buffer != nullptr || r->SRB_BufLen == 0);
        FUZZ_CHECK(r->SRB_SenseLen <= sizeof r->SenseArea);
        FUZZ_CHECK(r->SRB_CDBLen == 6 || r->SRB_CDBLen == 10 || r->SRB_CDBLen == 12 ||
                   r->SRB_CDBLen == 16);
        const uint8_t flags = m_in.Byte();
        r->SRB_HaStat = (flags & 1) ? m_in.Byte() : HASTAT_OK;
        r->SRB_TargStat = (flags & 2) ? kScsiStatusCheckCondition : (flags & 4) ? m_in.Byte() : 0;
        if (r->SRB_TargStat == kScsiStatusCheckCondition) {
          const std::vector<uint8_t> sense = m_in.Bytes(r->SRB_SenseLen);
          if (!sense.empty()) std::memcpy(r->SenseArea, sense.data(), sense.size());
        }
        const std::vector<uint8_t> reply = m_in.Field();
        const size_t n = std::min<size_t>(reply.size(), r->SRB_BufLen);
        if (n > 0) std::memcpy(addresses->buffer, reply.data(), n);
        // Without an event the manager polls until the status leaves
        // pending, so only an event-signalled request may stay pending.
        uint8_t status = AnyStatus(m_in.Byte());
        if (status == SS_PENDING && addresses->postEvent == 0) status = SS_ERR;
        const bool answerPending = (flags & 8) != 0 && addresses->postEvent != 0;
        std::atomic_ref<uint8_t>(r->SRB_Status).store(status, std::memory_order_release);
        return answerPending ? SS_PENDING : status;
      }
      default: FUZZ_CHECK(!"unknown ASPI command");
    }
    return SS_ERR;
  }

  FuzzInput& m_in;
  uint8_t m_moduleFlags = 0;
  DeviceHandle m_nextHandle = 1;
  int m_openCount = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static CCommandTrace* trace = [] {
    auto* t = new CCommandTrace;
    FUZZ_CHECK(t->Open("/dev/null"));
    return t;
  }();
  FuzzInput in(data, size);

  // The SG_IO outcome mapping and the sense decoder on their own.
  {
    SgIoResult r;
    r.ioctlErrno = in.Byte() & 0x7F;
    if ((r.ioctlErrno & 0x40) == 0) r.ioctlErrno = 0;
    r.status = in.Byte();
    r.hostStatus = in.U16();
    r.driverStatus = in.U16();
    r.senseWritten = in.Byte();
    r.elapsedMs = in.U32();
    r.timeoutMs = in.U32();
    uint8_t status = 0xEE;
    uint32_t error = 0;
    if (MapSgIoOutcome(r, &status, &error)) {
      FUZZ_CHECK(r.ioctlErrno == 0);
    } else {
      FUZZ_CHECK(error != kErrorSuccess);
      FUZZ_CHECK(status == 0);
    }
    std::vector<uint8_t> sense = in.Bytes(in.Byte() % 40);
    const SenseInfo info = DecodeSense(sense.data(), sense.size());
    const std::string text = FormatSense(info);
    FUZZ_CHECK(info.valid ? text.size() == 7 : text == "-");
    if (info.valid) FUZZ_CHECK(info.key <= 0x0F);
  }

  auto host = std::make_shared<FuzzHost>(in);
  {
    CDeviceManager manager(host);
    manager.SetMessageHandler([](const std::string&, const std::string&) {});
    manager.SetTrace(trace);
    if (manager.Initialize()) {
      manager.EnumerateDrives();
      const uint8_t count = manager.GetDriveCount();
      FUZZ_CHECK(count <= kMaxDrives);
      FUZZ_CHECK(count == 0 ? manager.GetSelected() == kNoDriveSelected
                            : manager.GetSelected() == 0);
      char name[100];
      if (manager.GetDriveName(name)) FUZZ_CHECK(std::strlen(name) < 30);
      for (uint8_t i = 0; i < kMaxDrives; ++i) manager.GetDrivePath(i);
      for (const SkippedVolume& skipped : manager.GetSkippedVolumes())
        FUZZ_CHECK(!skipped.path.empty());
      if (count > 0) FUZZ_CHECK(manager.SelectDrive(in.Byte() % count));

      // A few commands of any opcode, direction and length.
      for (int i = 0, n = in.Byte() % 5; i < n && !in.Empty(); ++i) {
        uint8_t cdb[16] = {};
        cdb[0] = in.Byte();
        const uint8_t direction = in.Byte() % 3;
        const uint32_t length = in.U16() % 4097;
        std::vector<uint8_t> buffer(length);
        ScsiExchange exchange;
        exchange.SetCdb(cdb, CDeviceManager::CdbLengthFor(cdb[0]));
        exchange.direction = direction;
        exchange.data = length ? buffer.data() : nullptr;
        exchange.dataLength = length;
        exchange.timeout = std::chrono::seconds(15);
        manager.Execute(exchange);
        const uint8_t status = exchange.Status();
        FUZZ_CHECK(status == kStatusDone || status == kStatusFailed || status == kStatusTimedOut);
        if (status == kStatusTimedOut || status == kStatusDone) {
          FUZZ_CHECK(manager.UsesPassThrough() || exchange.hostError == 0);
        }
      }
    }
  }
  // Every volume the manager opened is closed again.
  FUZZ_CHECK(host->OpenCount() == 0);
  return 0;
}
