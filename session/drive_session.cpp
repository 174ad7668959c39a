#include "session/drive_session.h"

#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "device/linux_host.h"
#include "device/trace_reader.h"
#include "session/output_file.h"
#include "session/sim_setup.h"
#include "simulator/sim_disc_catalogue.h"
#include "simulator/sim_drive.h"
#include "simulator/sim_host.h"
#include "simulator/sim_replay.h"
#include "simulator/sim_scenarios.h"

CDriveSession::~CDriveSession() {
  if (g_pDeviceManager == m_manager.get()) g_pDeviceManager = nullptr;
}

SessionOpening CDriveSession::Open(const RunOptions& options, MessageHandler messages) {
  if (!options.traceFile.empty()) {
    // Same rules as every output: a FIFO, a device or "-" is written in place.
    std::string why;
    const int fd = OpenOutputStream(options.traceFile, &why);
    if (fd < 0 || !m_trace.Attach(fd)) {
      const int traceError = errno;
      if (fd >= 0) close(fd);
      if (why.empty()) why = options.traceFile + ": " + std::strerror(traceError);
      return {SessionOpenOutcome::kTraceNotWritable, "cannot write the trace file " + why,
              traceError};
    }
  }
  const std::string replay = ReplayFile(options);
  if (options.simulate && !replay.empty()) {
    if (SessionOpening replayed = OpenReplay(replay, options.simLatencyRecorded);
        !replayed.Opened()) {
      return replayed;
    }
  } else if (options.simulate) {
    const SimScenario* scenario =
        options.scenario.empty() ? &SimScenarios().front() : FindSimScenario(options.scenario);
    if (scenario == nullptr) {
      return {SessionOpenOutcome::kUnknownScenario,
              "unknown scenario '" + options.scenario + "' (--simulate=help lists them)"};
    }
    SimOptions simOptions;
    simOptions.sampleLatencyMs = options.simLatencyMs;
    simOptions.insertDelayMs = options.simInsertDelayMs;
    SimSetup setup =
        BuildSimSetup(*scenario, simOptions,
                      options.aspi ? SimTransportChoice::kAspi : SimTransportChoice::kPassThrough);
    m_host = setup.host;
    m_simDrives = setup.drives;
  } else {
    m_host = CreatePlatformHost();
  }
  m_manager = std::make_unique<CDeviceManager>(m_host);
  m_manager->SetMessageHandler(std::move(messages));
  if (!options.traceFile.empty()) m_manager->SetTrace(&m_trace);
  g_pDeviceManager = m_manager.get();
  m_initialized = m_manager->Initialize();
  if (m_initialized) m_manager->EnumerateDrives();
  return {};
}

namespace {

std::string RefusalText(const std::string& path, const TraceReading& reading) {
  return reading.badLine == 0 ? "the recording " + path + " " + reading.why
                              : "the recording " + path + " is refused at line " +
                                    std::to_string(reading.badLine) + ": " + reading.why;
}

}  // namespace

std::string CheckReplayRecording(const RunOptions& options, bool* unreadable) {
  const std::string path = ReplayFile(options);
  if (!options.simulate || path.empty()) return "";
  const TraceReading reading = ReadTraceFile(path);
  *unreadable = reading.unreadable;
  return reading.ok ? "" : RefusalText(path, reading);
}

SessionOpening CDriveSession::OpenReplay(const std::string& path, bool recordedLatency) {
  TraceReading reading = ReadTraceFile(path);
  if (!reading.ok) {
    return {reading.unreadable ? SessionOpenOutcome::kReplayUnreadable
                               : SessionOpenOutcome::kReplayRefused,
            RefusalText(path, reading)};
  }
  if (reading.cutLine != 0) {
    std::fprintf(stderr,
                 "%s: the recording %s ends in a cut line (%zu); replaying the whole ones\n",
                 program_invocation_short_name, path.c_str(), reading.cutLine);
  }
  auto recording = std::make_shared<CReplayRecording>(
      std::move(reading.entries), recordedLatency, [](const std::string& notice) {
        std::fprintf(stderr, "%s: %s\n", program_invocation_short_name, notice.c_str());
      });
  m_host = BuildReplayHost(std::move(recording));
  return {};
}

void CDriveSession::EjectSimDisc(size_t drive) {
  if (drive < m_simDrives.size()) m_simDrives[drive]->Eject();
}

void CDriveSession::InsertSimDisc(size_t drive, size_t disc, std::chrono::milliseconds delay) {
  if (drive >= m_simDrives.size() || disc >= SimDiscCatalogue().size()) return;
  m_simDrives[drive]->InsertDisc(SimDiscCatalogue()[disc], delay);
}

namespace {

// The group a device node belongs to, which is the one to join; "cdrom"
// when the node cannot be looked at.
std::string NodeGroup(const std::string& node) {
  struct stat info {};
  if (::stat(node.c_str(), &info) == 0 && info.st_gid != 0) {
    if (const group* entry = ::getgrgid(info.st_gid)) return entry->gr_name;
  }
  return "cdrom";
}

// " (pid 1234, name)" for the processes /proc shows holding the node.
std::string HolderText(const std::string& node) {
  std::string text;
  for (const NodeHolder& holder : FindNodeHolders(node)) {
    text += text.empty() ? " (" : "; ";
    text += "pid " + std::to_string(holder.pid);
    if (!holder.program.empty()) text += ", " + holder.program;
  }
  return text.empty() ? text : text + ")";
}

}  // namespace

std::string DescribeSkippedVolume(const SkippedVolume& volume) {
  if (volume.inquiryFailed) {
    return volume.path + ": the drive did not answer INQUIRY; it is not listed";
  }
  switch (volume.error) {
    case kErrorAccessDenied: {
      const std::string group = NodeGroup(volume.path);
      return volume.path + ": permission denied. Add yourself to the '" + group +
             "' group (sudo usermod -aG " + group + " $USER, then log in again) or run as root";
    }
    case kErrorSharingViolation:
      return volume.path + ": in use by another program" + HolderText(volume.path) +
             "; close it and try again";
    case kErrorDevNotExist:
      return volume.path + ": the device node exists but no drive answers behind it";
    default: return volume.path + ": cannot be opened (error " + std::to_string(volume.error) + ")";
  }
}

std::string DescribeVendorCommandFailure(uint32_t transportError, const std::string& devicePath) {
  if (transportError == kErrorAccessDenied) {
    const bool blockNode = devicePath.rfind("/dev/sr", 0) == 0;
    if (blockNode) {
      return "the kernel refused the vendor command on " + devicePath +
             " (its command filter passes vendor commands only to root). Load the sg module "
             "(sudo modprobe sg) so the drive's /dev/sgN node is used, or run as root";
    }
    return "permission denied on " + devicePath;
  }
  if (transportError == kErrorSemTimeout) return "the drive did not answer in time";
  if (transportError == kErrorDevNotExist) return "the drive is no longer attached";
  if (transportError != 0)
    return "transport failure (error " + std::to_string(transportError) + ")";
  return "";
}
