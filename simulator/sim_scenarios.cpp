#include "simulator/sim_scenarios.h"

#include <algorithm>
#include <string>

#include "simulator/sim_disc_catalogue.h"

namespace {

using std::chrono::milliseconds;

constexpr int kDriveLikeSampleLatencyMs = 40;
constexpr int kDriveLikeCommandLatencyMs = 2;
constexpr int kDefaultInsertDelayMs = 1500;
// How long a hung drive keeps the host waiting in demos; the host's own
// 30 s time-out would make a demo tedious.
constexpr milliseconds kDemoStall{2000};

SimFault SampleFault(SimFaultKind kind, uint32_t fromNth, uint32_t times) {
  SimFault fault;
  fault.kind = kind;
  fault.target = SimCommandClass::kTefeSample;
  fault.fromNth = fromNth;
  fault.times = times;
  return fault;
}

SimFault PerformanceFault(SimFaultKind kind, uint32_t value) {
  SimFault fault;
  fault.kind = kind;
  fault.target = SimCommandClass::kGetPerformance;
  fault.value = value;
  return fault;
}

SimScenario Plain(std::string name, std::string description, std::string disc) {
  SimScenario scenario;
  scenario.name = std::move(name);
  scenario.description = std::move(description);
  scenario.disc = std::move(disc);
  return scenario;
}

SimScenario WithFaults(std::string name, std::string description, std::vector<SimFault> faults) {
  SimScenario scenario = Plain(std::move(name), std::move(description), "dvd+r-novadisc");
  scenario.faults = std::move(faults);
  return scenario;
}

std::vector<SimScenario> BuildScenarios() {
  SimFault oldFirmware = SampleFault(SimFaultKind::kCheckCondition, 1, 0);
  SimFault invalidReading = SampleFault(SimFaultKind::kSampleStatus, 20, 1);
  invalidReading.value = 0x04;
  SimFault hang = SampleFault(SimFaultKind::kTimeOut, 10, 1);
  hang.stall = kDemoStall;
  SimFault allOnesStructure;
  allOnesStructure.kind = SimFaultKind::kAllOnes;
  allOnesStructure.target = SimCommandClass::kReadDvdStructure;

  std::vector<SimScenario> list = {
      Plain("dvd+r-good", "good DVD+R 12X: every speed passes (default)", "dvd+r-novadisc"),
      Plain("dvd+r-marginal", "marginal DVD+R: 12X and 16X fail near the rim", "dvd+r-orbtek"),
      Plain("dvd+r-bad", "bad DVD+R: fails over most of the disc at every speed", "dvd+r-kairo"),
      Plain("dvd+r-scratched", "DVD+R with a scratch: the drive loses track at 45 mm",
            "dvd+r-scratched"),
      Plain("dvd+r-noname", "DVD+R without manufacturer or media type ID", "dvd+r-noname"),
      Plain("dvd+r-odd-speeds", "DVD+R whose write speeds are none of the known ones",
            "dvd+r-odd-speeds"),
      Plain("dvd+r-one-speed", "DVD+R offering a single write speed (8X)", "dvd+r-one-speed"),
      Plain("dvd-r-good", "good DVD-R 16X", "dvd-r-magnat"),
      Plain("dvd-r-odd-speeds", "DVD-R with 2770/5540/11080 kB/s and a one-letter media type",
            "dvd-r-helix"),
      Plain("dvd+rdl-good", "good DVD+R DL 8X", "dvd+r-dl-strata"),
      Plain("dvd+rdl-marginal", "marginal DVD+R DL: 12X fails near the rim", "dvd+r-dl-orbtek"),
      Plain("dvd+rdl-early-break",
            "good DVD+R DL 8X whose layer 0 ends 2048 sectors before sector 2086912",
            "dvd+r-dl-early-break"),
      Plain("dvd+r-yuden", "good DVD+R 16X with a real manufacturer ID (YUDEN000)", "dvd+r-yuden"),
      Plain("dvd-r-mcc", "good DVD-R 16X with a real manufacturer ID (MCC 03)", "dvd-r-mcc"),
      Plain("dvd+rdl-mkm", "good DVD+R DL 8X with a real manufacturer ID (MKM)", "dvd+r-dl-mkm"),
      Plain("dvd+rw", "DVD+RW: not testable", "dvd+rw"),
      Plain("dvd-rw", "DVD-RW: not testable", "dvd-rw"),
      Plain("cd-r", "CD-R: not testable", "cd-r"),
      Plain("dvd-rom", "DVD-ROM: not testable", "dvd-rom"),
      Plain("no-profile", "a medium without current profile", "no-profile"),
      Plain("empty", "no disc in the tray", ""),
      WithFaults("old-firmware", "the drive refuses the TE/FE sample command (old firmware)",
                 {oldFirmware}),
      WithFaults("invalid-reading", "the 20th sample comes back with a non-zero status byte",
                 {invalidReading}),
      WithFaults("timeout", "the 10th sample gets no answer (time-out)", {hang}),
      WithFaults("drive-gone", "the drive disappears at the 10th sample",
                 {SampleFault(SimFaultKind::kGone, 10, 0)}),
      WithFaults("eject-mid-scan", "the disc is ejected at the 10th sample",
                 {SampleFault(SimFaultKind::kEject, 10, 1)}),
      // A drive busy with something else for a moment: three of its answers
      // are BUSY, and it recovers within the host's tries.
      WithFaults("busy-recovers", "the 10th to 12th sample commands are answered BUSY, then read",
                 {SampleFault(SimFaultKind::kBusy, 10, 3)}),
      WithFaults("busy-stays", "from the 10th sample command on the drive answers only BUSY",
                 {SampleFault(SimFaultKind::kBusy, 10, 0)}),
      WithFaults("broken-lengths", "GET PERFORMANCE claims 40 descriptors and sends 5",
                 {PerformanceFault(SimFaultKind::kHeaderLength, 4 + 16 * 40)}),
      WithFaults("short-header", "GET PERFORMANCE header length below 4",
                 {PerformanceFault(SimFaultKind::kHeaderLength, 2)}),
      WithFaults("short-transfer", "GET PERFORMANCE stops after its first descriptor",
                 {PerformanceFault(SimFaultKind::kShortTransfer, 8 + 16)}),
      WithFaults("all-ones", "GET PERFORMANCE and READ DVD STRUCTURE answer 0xFF bytes",
                 {PerformanceFault(SimFaultKind::kAllOnes, 0), allOnesStructure}),
  };

  // The header still claims all four descriptors; what follows the two sent
  // is not data.
  SimScenario cutDual = Plain(
      "dvd+rdl-short-reply", "DVD+R DL 8X whose GET PERFORMANCE stops after 2 of its 4 descriptors",
      "dvd+r-dl-strata");
  cutDual.faults = {PerformanceFault(SimFaultKind::kShortTransfer, 8 + 16 * 2)};
  list.push_back(cutDual);

  SimScenario attention =
      Plain("unit-attention", "the drive reports a medium change once after the disc loads",
            "dvd+r-novadisc");
  attention.reportMediumChange = true;
  list.push_back(attention);

  SimScenario noTimeouts = Plain("aspi-timeout-refused",
                                 "with --transport=aspi: the ASPI layer refuses every command "
                                 "time-out (the commands still run)",
                                 "dvd+r-novadisc");
  noTimeouts.aspiTimeoutRefused = true;
  list.push_back(noTimeouts);

  SimScenario refusing =
      Plain("unsupported-drive", "only a drive that refuses the diagnostic mode", "dvd+r-novadisc");
  refusing.drives = {SimDriveRole::kRefusing};
  list.push_back(refusing);

  SimScenario feeder = Plain("feeder",
                             "a spindle: good, marginal and bad DVD+R, a DVD-ROM, a DVD+R DL; "
                             "each lands a moment after the previous one is ejected",
                             "dvd+r-novadisc");
  feeder.feed = {"dvd+r-orbtek", "dvd+r-kairo", "dvd-rom", "dvd+r-dl-strata"};
  feeder.seedPerDriveAndDisc = true;
  list.push_back(feeder);

  SimScenario feederFault = feeder;
  feederFault.name = "feeder-fault";
  feederFault.description = "the spindle, with the 20th sample of the first disc failing";
  feederFault.faults = {invalidReading};
  list.push_back(feederFault);

  SimScenario bench = Plain("bench", "four supported drives with a good DVD+R and one that refuses",
                            "dvd+r-novadisc");
  bench.drives = {SimDriveRole::kSupported, SimDriveRole::kSupported, SimDriveRole::kSupported,
                  SimDriveRole::kSupported, SimDriveRole::kRefusing};
  bench.seedPerDriveAndDisc = true;
  list.push_back(bench);

  SimScenario benchFault = bench;
  benchFault.name = "bench-fault";
  benchFault.description = "the bench, with its second drive disappearing at the 10th sample";
  benchFault.faults = {SampleFault(SimFaultKind::kGone, 10, 0)};
  benchFault.faultyDrive = 1;
  list.push_back(benchFault);

  // What a drive's identity and a disc's IDs must not do to a terminal:
  // clear it, retitle it (ESC ] 0 ; ... BEL runs from vendor into product),
  // start a line, or take an 8-bit CSI, DEL or a right-to-left override.
  SimScenario hostile = Plain("hostile-identity",
                              "a drive whose INQUIRY identity and a disc whose IDs hold terminal "
                              "controls (ESC, BEL, CR LF, 8-bit CSI)",
                              "dvd+r-hostile-id");
  hostile.identity = SimIdentity{"\x1b[2J\x1b]0;", "pwned\x07\r\n0  FAKE\x9b", "\x7f\xe2\x80\xae"};
  list.push_back(hostile);

  SimScenario none = Plain("no-drive", "no optical drive at all", "");
  none.drives = {};
  list.push_back(none);

  return list;
}

}  // namespace

const std::vector<SimScenario>& SimScenarios() {
  static const std::vector<SimScenario> scenarios = BuildScenarios();
  return scenarios;
}

const SimScenario* FindSimScenario(std::string_view name) {
  const auto& scenarios = SimScenarios();
  const auto it = std::find_if(scenarios.begin(), scenarios.end(),
                               [&](const SimScenario& s) { return s.name == name; });
  return it == scenarios.end() ? nullptr : &*it;
}

SimDriveConfig SimDriveConfigFor(SimDriveRole role) {
  SimDriveConfig config;
  switch (role) {
    case SimDriveRole::kSupported: break;
    case SimDriveRole::kRefusing:
      config.vendor = "KESTRON";
      config.product = "DVD-RAM KX-880";
      config.revision = "KX21";
      config.firmwareDate = "2015/11/02";
      config.serial = "";
      config.bufferKiB = 1024;
      config.diagnosticMode = false;
      break;
    case SimDriveRole::kHardDisk:
      config.vendor = "MERIDIAN";
      config.product = "MD500 HDD";
      config.revision = "0A12";
      config.firmwareDate = "";
      config.serial = "MD5-88213";
      config.deviceType = 0;
      config.diagnosticMode = false;
      break;
  }
  return config;
}

std::vector<std::shared_ptr<CSimDrive>> BuildSimDrives(const SimScenario& scenario,
                                                       const SimOptions& options) {
  const int sampleMs =
      options.sampleLatencyMs < 0 ? kDriveLikeSampleLatencyMs : options.sampleLatencyMs;
  const int commandMs = std::min(sampleMs, kDriveLikeCommandLatencyMs);
  const int insertMs = options.insertDelayMs < 0 ? kDefaultInsertDelayMs : options.insertDelayMs;
  // The tray closes over two thirds of the delay, the disc spins up over the rest.
  const milliseconds spinUp(insertMs / 3);
  const milliseconds landing(insertMs - insertMs / 3);
  const SimDisc* disc = scenario.disc.empty() ? nullptr : FindSimDisc(scenario.disc);

  std::vector<SimDisc> feed;
  for (const std::string& name : scenario.feed) {
    if (const SimDisc* next = FindSimDisc(name)) feed.push_back(*next);
  }

  std::vector<std::shared_ptr<CSimDrive>> drives;
  uint32_t supportedIndex = 0;
  for (SimDriveRole role : scenario.drives) {
    SimDriveConfig config = SimDriveConfigFor(role);
    config.sampleLatency = milliseconds(sampleMs);
    config.commandLatency = milliseconds(commandMs);
    config.spinUp = spinUp;
    config.seed = options.seed;
    config.reportMediumChange = scenario.reportMediumChange;
    config.seedPerDisc = scenario.seedPerDriveAndDisc;
    config.feedDelay = landing;
    if (role == SimDriveRole::kSupported) {
      if (scenario.identity) {
        config.vendor = scenario.identity->vendor;
        config.product = scenario.identity->product;
        config.revision = scenario.identity->revision;
      }
      if (scenario.seedPerDriveAndDisc) config.seed = options.seed + supportedIndex;
      if (supportedIndex > 0) config.serial += "-" + std::to_string(supportedIndex + 1);
      config.feed = feed;
      if (scenario.faultyDrive < 0 || scenario.faultyDrive == static_cast<int>(supportedIndex))
        config.faults = scenario.faults;
      ++supportedIndex;
      // No waiting at all when the caller asked for an instant drive.
      if (sampleMs == 0)
        for (SimFault& fault : config.faults) fault.stall = milliseconds::zero();
    }
    auto drive = std::make_shared<CSimDrive>(std::move(config));
    if (disc != nullptr && role != SimDriveRole::kHardDisk) drive->InsertDisc(*disc, landing);
    drives.push_back(std::move(drive));
  }
  return drives;
}
