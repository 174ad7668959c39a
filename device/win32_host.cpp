#include "device/win32_host.h"

#include <windows.h>

#include <cstring>
#include <memory>

#include "device/device_manager.h"

static_assert(sizeof(void*) == 4, "the request blocks are 32-bit layouts");

namespace {

HANDLE AsHandle(std::intptr_t value) { return reinterpret_cast<HANDLE>(value); }
uint32_t AsField(const void* pointer) {
  return static_cast<uint32_t>(reinterpret_cast<std::uintptr_t>(pointer));
}

}  // namespace

bool CWin32Host::QueryPlatform(uint32_t* platformId) {
  OSVERSIONINFOA info;
  std::memset(&info, 0, sizeof info);
  info.dwOSVersionInfoSize = sizeof info;  // 148
  if (!GetVersionExA(&info)) return false;
  *platformId = info.dwPlatformId;
  return true;
}

std::vector<VolumeCandidate> CWin32Host::VolumeCandidates() { return DriveLetterVolumes(); }

DeviceHandle CWin32Host::OpenVolume(const std::string& openPath, uint32_t* error) {
  HANDLE handle =
      CreateFileA(openPath.c_str(), GENERIC_READ | GENERIC_WRITE,
                  FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    *error = GetLastError();
    return 0;
  }
  return reinterpret_cast<DeviceHandle>(handle);
}

uint32_t CWin32Host::DriveTypeOf(const std::string& typePath) {
  return GetDriveTypeA(typePath.c_str());
}

bool CWin32Host::PassThroughDirect(DeviceHandle device, SptdWithSense& block, void* data,
                                   uint32_t* error) {
  block.sptd.DataBuffer = AsField(data);
  DWORD returned = 0;
  if (!DeviceIoControl(AsHandle(device), kIoctlScsiPassThroughDirect, &block,
                       sizeof(ScsiPassThroughDirect), &block, sizeof block, &returned, nullptr)) {
    *error = GetLastError();
    return false;
  }
  return true;
}

void CWin32Host::CloseVolume(DeviceHandle device) { CloseHandle(AsHandle(device)); }

std::string CWin32Host::DescribeVolume(DeviceHandle device) {
  char text[32];
  std::snprintf(text, sizeof text, "handle %p", AsHandle(device));
  return text;
}

ModuleHandle CWin32Host::LoadModule(const std::string& name) {
  return reinterpret_cast<ModuleHandle>(LoadLibraryA(name.c_str()));
}

AspiProc CWin32Host::FindEntryPoint(ModuleHandle module, const std::string& name) {
  FARPROC proc = GetProcAddress(reinterpret_cast<HMODULE>(module), name.c_str());
  if (proc == nullptr) return nullptr;
  if (name == "GetASPI32SupportInfo") {
    auto entry = reinterpret_cast<DWORD(__cdecl*)(void)>(reinterpret_cast<void*>(proc));
    return [entry](void*, const AspiAddresses*) -> uint32_t { return entry(); };
  }
  auto entry = reinterpret_cast<DWORD(__cdecl*)(void*)>(reinterpret_cast<void*>(proc));
  return [entry](void* srb, const AspiAddresses* addresses) -> uint32_t {
    // The execute request's pointer fields hold real addresses here.
    auto* header = static_cast<SrbHeader*>(srb);
    if (addresses != nullptr && header->SRB_Cmd == SC_EXEC_SCSI_CMD) {
      auto* exec = static_cast<SrbExecScsiCmd*>(srb);
      exec->SRB_BufPointer = AsField(addresses->buffer);
      exec->SRB_PostProc = AsField(AsHandle(addresses->postEvent));
    }
    return entry(srb);
  };
}

void CWin32Host::UnloadModule(ModuleHandle module) {
  FreeLibrary(reinterpret_cast<HMODULE>(module));
}

EventHandle CWin32Host::NewEvent() {
  return reinterpret_cast<EventHandle>(CreateEventA(nullptr, TRUE, FALSE, nullptr));
}

void CWin32Host::WaitEvent(EventHandle event) { WaitForSingleObject(AsHandle(event), INFINITE); }

void CWin32Host::DeleteEvent(EventHandle event) { CloseHandle(AsHandle(event)); }

std::shared_ptr<IDeviceHost> CreatePlatformHost() { return std::make_shared<CWin32Host>(); }
