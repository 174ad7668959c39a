// velmo-tcmu: one simulated drive as the firmware of a kernel SCSI device.
// The kernel's user-space backstore hands each command to us through
// /dev/uioN and its shared command ring; we answer from the same drive
// model, scenario and seed that `velmo-cli --simulate` uses in-process.
//
//   velmo-tcmu --uio=/dev/uio0 --scenario=dvd+r-good --drive=0
//              [--seed=N] [--sample-latency=MS] [--insert-delay=MS]
//              [--hold=MS] [--log=FILE]
//
// It runs until SIGTERM or SIGINT, or until the device goes away.
#include <fcntl.h>
#include <poll.h>
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "kerneldrive/tcmu_drive.h"
#include "kerneldrive/tcmu_ring.h"
#include "simulator/sim_drive.h"
#include "simulator/sim_scenarios.h"

namespace {

volatile std::sig_atomic_t g_stop = 0;

void OnSignal(int) { g_stop = 1; }

int Usage(const char* why) {
  std::fprintf(stderr,
               "velmo-tcmu: %s\nusage: velmo-tcmu --uio=/dev/uioN --scenario=NAME --drive=N "
               "[--seed=N] [--sample-latency=MS] [--insert-delay=MS] [--hold=MS] [--log=FILE]\n",
               why);
  return 2;
}

bool Number(const std::string& text, long* value) {
  char* end = nullptr;
  *value = std::strtol(text.c_str(), &end, 10);
  return !text.empty() && *end == '\0' && *value >= 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::string uio, scenarioName, logPath;
  long driveIndex = -1, hold = 40000;
  SimOptions options;
  options.insertDelayMs = 0;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const size_t equals = arg.find('=');
    const std::string name = arg.substr(0, equals);
    const std::string value = equals == std::string::npos ? "" : arg.substr(equals + 1);
    long number = 0;
    if (name == "--uio") {
      uio = value;
    } else if (name == "--scenario") {
      scenarioName = value;
    } else if (name == "--log") {
      logPath = value;
    } else if (name == "--drive" && Number(value, &number)) {
      driveIndex = number;
    } else if (name == "--seed" && Number(value, &number)) {
      options.seed = static_cast<uint32_t>(number);
    } else if (name == "--sample-latency" && Number(value, &number)) {
      options.sampleLatencyMs = static_cast<int>(number);
    } else if (name == "--insert-delay" && Number(value, &number)) {
      options.insertDelayMs = static_cast<int>(number);
    } else if (name == "--hold" && Number(value, &number)) {
      hold = number;
    } else {
      return Usage(("bad argument '" + arg + "'").c_str());
    }
  }
  if (uio.empty() || scenarioName.empty() || driveIndex < 0) return Usage("missing argument");
  const SimScenario* scenario = FindSimScenario(scenarioName);
  if (scenario == nullptr) return Usage(("unknown scenario '" + scenarioName + "'").c_str());
  auto drives = BuildSimDrives(*scenario, options);
  if (static_cast<size_t>(driveIndex) >= drives.size())
    return Usage("no such drive in the scenario");

  const int fd = ::open(uio.c_str(), O_RDWR | O_CLOEXEC);
  if (fd < 0) {
    std::fprintf(stderr, "velmo-tcmu: %s: %s\n", uio.c_str(), std::strerror(errno));
    return 1;
  }
  // The size of the shared region is in sysfs beside the node.
  const std::string node = uio.substr(uio.rfind('/') + 1);
  size_t size = 0;
  std::ifstream(("/sys/class/uio/" + node + "/maps/map0/size").c_str()) >> std::hex >> size;
  if (size == 0) {
    std::fprintf(stderr, "velmo-tcmu: cannot read the map size of %s\n", node.c_str());
    return 1;
  }
  void* map = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  if (map == MAP_FAILED) {
    std::fprintf(stderr, "velmo-tcmu: mmap %s: %s\n", uio.c_str(), std::strerror(errno));
    return 1;
  }
  std::FILE* log = logPath.empty() ? nullptr : std::fopen(logPath.c_str(), "a");

  struct sigaction action {};
  action.sa_handler = OnSignal;
  ::sigaction(SIGTERM, &action, nullptr);
  ::sigaction(SIGINT, &action, nullptr);

  CTcmuRing ring(static_cast<uint8_t*>(map), size);
  CTcmuDrive served(drives[static_cast<size_t>(driveIndex)], log, std::chrono::milliseconds(hold));
  const auto serve = [&](const TcmuCommand& command) { return served.Serve(command); };
  std::fprintf(stderr, "velmo-tcmu: %s: drive %ld of %s, %zu bytes mapped\n", uio.c_str(),
               driveIndex, scenarioName.c_str(), size);
  int rc = 0;
  while (!g_stop) {
    const TcmuDrainResult result = ring.Drain(serve);
    if (result.malformed) {
      std::fprintf(stderr,
                   "velmo-tcmu: the command ring is malformed; waiting for the next kick\n");
    }
    if (result.commands + result.skipped + result.taskManagement > 0) {
      const uint32_t kick = 0;
      if (::write(fd, &kick, sizeof kick) != sizeof kick && errno != EINTR) break;
    }
    pollfd wait{fd, POLLIN, 0};
    const int ready = ::poll(&wait, 1, 1000);
    if (ready < 0 && errno != EINTR) {
      rc = 1;
      break;
    }
    if (ready > 0) {
      if ((wait.revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) break;  // device removed
      uint32_t events = 0;
      if (::read(fd, &events, sizeof events) != sizeof events && errno != EINTR) break;
    }
  }
  std::fprintf(stderr, "velmo-tcmu: %s: stopped\n", uio.c_str());
  if (log != nullptr) std::fclose(log);
  ::munmap(map, size);
  ::close(fd);
  return rc;
}
