// CDeviceManager: the one object through which every command reaches an
// optical drive. It picks the transport (pass-through or ASPI), finds the
// CD/DVD drives, keeps a table of at most 8 of them with one selected, and
// executes one exchange on the selected drive (ScsiExchange: the outcome,
// sense, bytes moved and host error come back in it); ExecuteCommand sends
// a bare CDB and returns 0 done, 1 failed or 255 timed out.
//
// Threads: Execute and ExecuteCommand may be called from any thread; commands to a drive
// are sent one at a time. Initialize, EnumerateDrives and destruction change
// the table and must not overlap a command: the main window runs them before
// its workers start and after it has joined them.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "device/host.h"
#include "device/scsi_exchange.h"

class CCommandTrace;

inline constexpr uint8_t kNoDriveSelected = 255;
inline constexpr int kMaxDrives = 8;

struct DriveEntry {
  DeviceHandle hDevice;
  uint8_t adapterId;
  uint8_t targetId;
  char vendorProduct[25];
  char revision[5];
};

// A volume the enumeration found but could not use, so front ends can say
// which device and why instead of losing it silently.
struct SkippedVolume {
  std::string path;
  uint32_t error = 0;  // open error (host error code) or 0 when INQUIRY failed
  bool inquiryFailed = false;
};

// Modal message with an OK button; an empty caption means the application's name.
using MessageHandler = std::function<void(const std::string& text, const std::string& caption)>;

class CDeviceManager {
 public:
  // host: the platform the manager runs on; null means this machine's own.
  // aspi: its ASPI layer; null means the host's own when it offers one (no
  // ASPI layer otherwise: LoadAspi fails as with the module missing).
  explicit CDeviceManager(std::shared_ptr<IDeviceHost> host = nullptr,
                          std::shared_ptr<IAspiHost> aspi = nullptr);
  virtual ~CDeviceManager();
  CDeviceManager(const CDeviceManager&) = delete;
  CDeviceManager& operator=(const CDeviceManager&) = delete;

  bool Initialize();
  void DetectPlatform();
  bool LoadAspi();
  void EnumerateDrives();
  uint8_t GetDriveCount() const;
  bool SelectDrive(uint8_t index);
  bool GetDriveName(char* name) const;  // callers give 100 bytes
  // Sends the CDB with the length its group gives; 0 done, 1 failed, 255
  // timed out (the exchange's Status()).
  uint8_t ExecuteCommand(const uint8_t* cdb, uint8_t direction, void* buffer, uint32_t length,
                         uint32_t timeoutSeconds);
  // Sends an exchange to the selected drive and fills in its outcome; with
  // no drive selected the outcome is a transport error and nothing is sent.
  void Execute(ScsiExchange& exchange);
  bool SetAspiTimeout(uint32_t seconds);
  void Release();

  // Additions for the front ends and tests.
  bool UsesPassThrough() const { return m_useSpti; }
  uint8_t GetSelected() const { return m_selected.load(); }
  const DriveEntry& GetDriveEntry(uint8_t index) const { return m_drives[index]; }
  // Device node of a row (pass-through) or "aspi:HA:TARGET".
  std::string GetDrivePath(uint8_t index) const;
  const std::vector<SkippedVolume>& GetSkippedVolumes() const { return m_skipped; }
  void SetMessageHandler(MessageHandler handler) { m_showMessage = std::move(handler); }
  void SetTrace(CCommandTrace* trace) { m_trace.store(trace); }

  // CDB length sent for an operation code: by its group.
  static uint8_t CdbLengthFor(uint8_t operationCode);

 private:
  void ExecutePassThrough(const DriveEntry& row, ScsiExchange& exchange);
  void ExecuteAspi(const DriveEntry& row, ScsiExchange& exchange);
  void ShowMessage(const std::string& text, const std::string& caption);
  void EnumeratePassThrough();
  void EnumerateAspi();

  bool m_useSpti;
  uint8_t m_driveCount;
  std::atomic<uint8_t> m_selected;
  int32_t m_adapterCount;
  ModuleHandle m_hAspi;
  std::function<uint32_t()> m_pfnGetSupportInfo;
  AspiProc m_pfnSendCommand;
  std::array<DriveEntry, kMaxDrives> m_drives;

  std::shared_ptr<IDeviceHost> m_host;
  std::shared_ptr<IAspiHost> m_aspi;                 // null: no ASPI layer
  std::array<std::mutex, kMaxDrives> m_commandLock;  // one command at a time per drive
  std::vector<SkippedVolume> m_skipped;
  MessageHandler m_showMessage;
  std::atomic<CCommandTrace*> m_trace{nullptr};
};

// The one device manager of the running program.
extern CDeviceManager* g_pDeviceManager;

// The host of this machine: SG_IO on Linux, the Windows calls on Windows.
std::shared_ptr<IDeviceHost> CreatePlatformHost();
