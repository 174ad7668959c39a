// The Linux link platform against stand-ins for xdg-open, xdg-mime and the
// browser: small shell scripts on a scratch search path that record the
// arguments they were started with. What they record shows that an address
// reaches them as one argument, exactly as given, and that no shell ever
// read it. One case runs the installed xdg-open and xdg-mime themselves.
#include "links/linux_link_platform.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <thread>

#include "links/child_process.h"
#include "links/open_address.h"
#include "links/open_error.h"
#include "tests/support/scratch_folder.h"

namespace {

namespace fs = std::filesystem;
using Args = std::vector<std::string>;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// True once pid has ended and been reaped: gone from /proc, not a zombie.
bool Reaped(pid_t pid) {
  const std::string stat = "/proc/" + std::to_string(pid) + "/stat";
  for (const auto until = Clock::now() + milliseconds(5000); Clock::now() < until;) {
    if (!fs::exists(stat)) return true;
    std::this_thread::sleep_for(milliseconds(10));
  }
  return false;
}

// Environment variables set for the children we start (they inherit ours),
// the old values put back at the end.
class ScopedEnvironment {
 public:
  ScopedEnvironment() = default;
  ScopedEnvironment(const ScopedEnvironment&) = delete;
  ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;
  ~ScopedEnvironment() {
    for (auto it = m_saved.rbegin(); it != m_saved.rend(); ++it) Put(it->first, it->second);
  }

  void Set(const std::string& name, const std::optional<std::string>& value) {
    const char* old = ::getenv(name.c_str());
    m_saved.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
    Put(name, value);
  }

 private:
  static void Put(const std::string& name, const std::optional<std::string>& value) {
    if (value) {
      ::setenv(name.c_str(), value->c_str(), 1);
    } else {
      ::unsetenv(name.c_str());
    }
  }

  std::vector<std::pair<std::string, std::optional<std::string>>> m_saved;
};

class LinuxLinks : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(m_scratchFolder.Path().empty());
    root = m_scratchFolder.Path();
    fs::create_directories(root / "bin");
    fs::create_directories(root / "data/applications");
    environment.searchPath = (root / "bin").string();
    environment.dataDirs = {(root / "data").string()};
    environment.openerGrace = milliseconds(2000);
    environment.queryLimit = milliseconds(2000);
  }

  std::string In(const std::string& relative) const { return (root / relative).string(); }

  void Program(const std::string& name, const std::string& body, fs::perms mode = fs::perms(0755)) {
    const fs::path path = root / "bin" / name;
    std::ofstream(path) << "#!/bin/sh\n" << body;
    fs::permissions(path, mode);
  }

  // Script lines that leave the script's pid in TAG.pid and its arguments,
  // NUL-separated, in TAG.args (written whole, then renamed into place).
  std::string Recorder(const std::string& tag) const {
    const std::string base = "'" + In(tag);
    return "echo $$ > " + base + ".pid'\n" + "printf '%s\\0' \"$@\" > " + base + ".tmp'\n" + "mv " +
           base + ".tmp' " + base + ".args'\n";
  }

  std::optional<Args> Recorded(const std::string& tag) const {
    const fs::path path = root / (tag + ".args");
    for (const auto until = Clock::now() + milliseconds(5000); !fs::exists(path);) {
      if (Clock::now() > until) return std::nullopt;
      std::this_thread::sleep_for(milliseconds(5));
    }
    const std::string text = ReadFile(path);
    fs::remove(path);
    Args args;
    for (std::size_t start = 0, end; (end = text.find('\0', start)) != std::string::npos;
         start = end + 1) {
      args.push_back(text.substr(start, end - start));
    }
    return args;
  }

  pid_t RecordedPid(const std::string& tag) const {
    return static_cast<pid_t>(std::stol(ReadFile(root / (tag + ".pid"))));
  }

  void Entry(const std::string& relative, const std::string& text) {
    const fs::path path = root / "data/applications" / relative;
    fs::create_directories(path.parent_path());
    std::ofstream(path) << text;
  }

  // Addresses a shell would turn into commands that create the file "pwned".
  std::vector<std::string> HostileAddresses() const {
    const std::string pwned = In("pwned");
    return {"http://x/;touch " + pwned, "http://x/$(touch " + pwned + ")",
            "http://x/`touch " + pwned + "`", "http://x/a b \"c\" 'd' \\e | touch " + pwned + " &",
            "http://x/%u %U \"%1\" %%\n~/*"};
  }

  ScratchFolder m_scratchFolder{"velmo-links"};
  fs::path root;
  LinkEnvironment environment;
};

TEST(LinkEnvironment, DefaultsAndRelativeFolders) {
  std::map<std::string, std::string> vars = {{"HOME", "/home/u"}};
  auto lookup = [&](const char* name) -> const char* {
    const auto found = vars.find(name);
    return found == vars.end() ? nullptr : found->second.c_str();
  };
  LinkEnvironment env = LinkEnvironmentFrom(lookup);
  EXPECT_EQ(env.searchPath, "/bin:/usr/bin");
  EXPECT_EQ(env.dataDirs, (Args{"/home/u/.local/share", "/usr/local/share", "/usr/share"}));

  vars = {{"HOME", "/home/u"},
          {"PATH", "/opt/bin"},
          {"XDG_DATA_HOME", "/d/home"},
          {"XDG_DATA_DIRS", "/d/one:relative::/d/two"}};
  env = LinkEnvironmentFrom(lookup);
  EXPECT_EQ(env.searchPath, "/opt/bin");
  EXPECT_EQ(env.dataDirs, (Args{"/d/home", "/d/one", "/d/two"}));

  vars = {{"HOME", "relative"}, {"XDG_DATA_HOME", "also/relative"}, {"XDG_DATA_DIRS", ""}};
  env = LinkEnvironmentFrom(lookup);
  EXPECT_EQ(env.dataDirs, (Args{"/usr/local/share", "/usr/share"}));
}

TEST_F(LinuxLinks, ShellOpenHandsTheAddressOverAsOneArgument) {
  Program("xdg-open", Recorder("open") + "exit 0\n");
  CLinuxLinkPlatform platform(environment);
  for (const std::string& address : HostileAddresses()) {
    EXPECT_GT(platform.ShellOpen(address, kShowNormal), 32) << address;
    EXPECT_EQ(Recorded("open"), Args{address});
  }
  EXPECT_FALSE(fs::exists(root / "pwned"));
}

TEST_F(LinuxLinks, OpenerExitStatusesBecomeShellCodes) {
  CLinuxLinkPlatform platform(environment);
  const std::pair<const char*, int> cases[] = {
      {"exit 0", kOpenSucceeded},     {"exit 1", kOpenFileNotFound},
      {"exit 2", kOpenFileNotFound},  {"exit 3", kOpenNoAssociation},
      {"exit 4", kOpenNoAssociation}, {"exit 5", kOpenAccessDenied},
      {"exit 9", kOpenNoAssociation}, {"kill -9 $$", kOpenNoAssociation}};
  for (const auto& [body, code] : cases) {
    fs::remove(root / "bin/xdg-open");
    Program("xdg-open", std::string(body) + "\n");
    EXPECT_EQ(platform.ShellOpen("https://x/", kShowNormal), code) << body;
  }
}

TEST_F(LinuxLinks, MissingOrUnusableOpener) {
  CLinuxLinkPlatform platform(environment);
  EXPECT_EQ(platform.ShellOpen("https://x/", kShowNormal), kOpenFileNotFound);
  Program("xdg-open", "exit 0\n", fs::perms(0644));
  EXPECT_EQ(platform.ShellOpen("https://x/", kShowNormal), kOpenAccessDenied);
  fs::remove(root / "bin/xdg-open");
  std::ofstream(root / "bin/xdg-open") << "no interpreter line\n";
  fs::permissions(root / "bin/xdg-open", fs::perms(0755));
  EXPECT_EQ(platform.ShellOpen("https://x/", kShowNormal), kOpenBadFormat);
}

TEST_F(LinuxLinks, OpenerStillRunningCountsAsOpenedAndIsReaped) {
  environment.openerGrace = milliseconds(100);
  Program("xdg-open", Recorder("open") + "exec sleep 1\n");
  CLinuxLinkPlatform platform(environment);
  const auto start = Clock::now();
  EXPECT_GT(platform.ShellOpen("https://x/", kShowNormal), 32);
  EXPECT_LT(Clock::now() - start, milliseconds(900));
  ASSERT_TRUE(Recorded("open"));
  EXPECT_TRUE(Reaped(RecordedPid("open")));
}

TEST_F(LinuxLinks, NoDescriptorOfOursReachesAChild) {
  std::ofstream(root / "leak-marker") << "";
  const int leaked = ::open(In("leak-marker").c_str(), O_RDONLY);  // without O_CLOEXEC
  ASSERT_GE(leaked, 0);
  Program("xdg-open", "ls -l /proc/$$/fd > '" + In("fds") + "'\n");
  CLinuxLinkPlatform platform(environment);
  EXPECT_GT(platform.ShellOpen("https://x/", kShowNormal), 32);
  ::close(leaked);
  const std::string fds = ReadFile(root / "fds");
  EXPECT_NE(fds.find("0 -> /dev/null"), std::string::npos) << fds;
  EXPECT_EQ(fds.find("leak-marker"), std::string::npos) << fds;
}

TEST_F(LinuxLinks, HtmIsTheIdXdgMimeNames) {
  Program("xdg-mime", Recorder("mime") + "echo ' browser.desktop;other.desktop;'\n");
  CLinuxLinkPlatform platform(environment);
  std::string id;
  EXPECT_EQ(platform.ReadClassesRootDefault(".htm", &id), kRegistryOk);
  EXPECT_EQ(id, "browser.desktop");
  EXPECT_EQ(Recorded("mime"), (Args{"query", "default", "text/html"}));
  id.clear();
  EXPECT_EQ(platform.ReadClassesRootDefault(".HTM", &id), kRegistryOk);
  EXPECT_EQ(id, "browser.desktop");
  EXPECT_EQ(platform.ReadClassesRootDefault(".html", &id), kRegistryNotFound);
}

TEST_F(LinuxLinks, HtmLookupFailures) {
  CLinuxLinkPlatform platform(environment);
  std::string id;
  EXPECT_EQ(platform.ReadClassesRootDefault(".htm", &id), kRegistryNotFound);  // no xdg-mime
  Program("xdg-mime", "echo browser.desktop\nexit 1\n");
  EXPECT_EQ(platform.ReadClassesRootDefault(".htm", &id), kRegistryNotFound);
  fs::remove(root / "bin/xdg-mime");
  Program("xdg-mime", "echo ' ; '\n");
  EXPECT_EQ(platform.ReadClassesRootDefault(".htm", &id), kRegistryNotFound);
  EXPECT_EQ(id, "");
}

TEST_F(LinuxLinks, HungXdgMimeIsKilledAtTheTimeLimit) {
  environment.queryLimit = milliseconds(200);
  Program("xdg-mime", Recorder("mime") + "exec sleep 30\n");
  CLinuxLinkPlatform platform(environment);
  std::string id;
  const auto start = Clock::now();
  EXPECT_EQ(platform.ReadClassesRootDefault(".htm", &id), kRegistryNotFound);
  EXPECT_LT(Clock::now() - start, milliseconds(2000));
  ASSERT_TRUE(Recorded("mime"));
  EXPECT_TRUE(Reaped(RecordedPid("mime")));
}

TEST_F(LinuxLinks, XdgMimeIsNotWaitedForPastItsOwnEnd) {
  // A grandchild keeps the output pipe open long after xdg-mime has ended.
  environment.queryLimit = milliseconds(4000);
  Program("xdg-mime", "sleep 30 &\necho $! > '" + In("sleeper.pid") + "'\necho browser.desktop\n");
  CLinuxLinkPlatform platform(environment);
  std::string id;
  const auto start = Clock::now();
  EXPECT_EQ(platform.ReadClassesRootDefault(".htm", &id), kRegistryOk);
  EXPECT_LT(Clock::now() - start, milliseconds(2000));
  EXPECT_EQ(id, "browser.desktop");
  ::kill(RecordedPid("sleeper"), SIGKILL);
}

TEST_F(LinuxLinks, OpenCommandIsTheEntrysExecLine) {
  Entry("browser.desktop", "[Desktop Entry]\nName=Browser\nExec=browser --new %u\n");
  Entry("gone.desktop", "[Desktop Entry]\nExec=gone %u\nHidden=true\n");
  CLinuxLinkPlatform platform(environment);
  std::string exec;
  EXPECT_EQ(platform.ReadClassesRootDefault("browser.desktop\\shell\\open\\command", &exec),
            kRegistryOk);
  EXPECT_EQ(exec, "browser --new %u");
  exec.clear();
  EXPECT_EQ(platform.ReadClassesRootDefault("browser.desktop\\Shell\\Open\\Command", &exec),
            kRegistryOk);
  EXPECT_EQ(exec, "browser --new %u");
  EXPECT_EQ(platform.ReadClassesRootDefault("gone.desktop\\shell\\open\\command", &exec),
            kRegistryNotFound);
  EXPECT_EQ(platform.ReadClassesRootDefault("none.desktop\\shell\\open\\command", &exec),
            kRegistryNotFound);
  EXPECT_EQ(platform.ReadClassesRootDefault("browser.desktop", &exec), kRegistryNotFound);
}

TEST_F(LinuxLinks, StartedProgramGetsTheAddressAsOneArgument) {
  Program("my browser", Recorder("browser") + "exit 0\n");
  CLinuxLinkPlatform platform(environment);
  for (const std::string& address : HostileAddresses()) {
    const std::optional<LinkCommandLine> command =
        BuildLinkCommand("\"" + In("bin/my browser") + "\" --new-window \"%u\"", address);
    ASSERT_TRUE(command);
    EXPECT_GT(platform.StartProgram(*command, kShowNormal), 32);
    EXPECT_EQ(Recorded("browser"), (Args{"--new-window", address}));
    EXPECT_TRUE(Reaped(RecordedPid("browser")));
  }
  EXPECT_FALSE(fs::exists(root / "pwned"));
}

TEST_F(LinuxLinks, ProgramIsLookedUpOnTheSearchPath) {
  Program("browser", Recorder("browser") + "exit 0\n");
  CLinuxLinkPlatform platform(environment);
  EXPECT_GT(platform.StartProgram(*BuildLinkCommand("browser %U", "https://x/"), kShowNormal), 32);
  EXPECT_EQ(Recorded("browser"), Args{"https://x/"});
}

TEST_F(LinuxLinks, StartFailures) {
  CLinuxLinkPlatform platform(environment);
  auto start = [&](const std::string& registered) {
    return platform.StartProgram(*BuildLinkCommand(registered, "https://x/"), kShowNormal);
  };
  EXPECT_EQ(start("browser %u"), kOpenFileNotFound);
  EXPECT_EQ(start("\"browser --url=%u\""), kOpenAssociationIncomplete);  // cut inside quotes
  EXPECT_EQ(start("%u"), kOpenFileNotFound);                             // nothing to run
  EXPECT_EQ(start(In("bin") + " %u"), kOpenAccessDenied);                // a folder
  EXPECT_EQ(start(In("bin/absent") + " %u"), kOpenFileNotFound);
}

TEST_F(LinuxLinks, FallbackThroughTheDesktopsHandler) {
  Program("xdg-open", Recorder("open") + "exit 3\n");
  Program("xdg-mime", "echo velmo-browser.desktop\n");
  Program("my browser", Recorder("browser") + "exit 0\n");
  Entry("velmo/browser.desktop",
        "[Desktop Entry]\nExec=\"" + In("bin/my\\sbrowser") + "\" --new-window %u\n");
  CLinuxLinkPlatform platform(environment);
  for (const std::string& address : HostileAddresses()) {
    EXPECT_GT(OpenAddress(platform, address, kShowNormal), 32) << address;
    EXPECT_EQ(Recorded("open"), Args{address});
    EXPECT_EQ(Recorded("browser"), (Args{"--new-window", address}));
  }
  EXPECT_FALSE(fs::exists(root / "pwned"));
}

// The installed xdg-utils on a desktop made of a scratch data and config
// home only. They choose their way by the environment: the generic desktop
// with no session or bus to hand over to, a display name so that the
// scheme's registered handler is used, and a BROWSER that refuses, so a
// registration they miss fails instead of starting a real browser. The page
// handler is told apart by its --page argument, so a failed xdg-open cannot
// hide behind the fallback.
TEST_F(LinuxLinks, InstalledXdgUtilsStartTheRegisteredHandler) {
  if (::access("/usr/bin/xdg-open", X_OK) != 0 || ::access("/usr/bin/xdg-mime", X_OK) != 0) {
    GTEST_SKIP() << "xdg-utils is not installed";
  }
  Program("record", Recorder("handler") + "exit 0\n");
  Entry("velmo-test-browser.desktop",
        "[Desktop Entry]\nType=Application\nName=Browser\nExec=" + In("bin/record") + " %u\n");
  Entry("velmo-test-pages.desktop",
        "[Desktop Entry]\nType=Application\nName=Pages\nExec=" + In("bin/record") + " --page %u\n");
  fs::create_directories(root / "config");
  std::ofstream(root / "config/mimeapps.list")
      << "[Default Applications]\nx-scheme-handler/https=velmo-test-browser.desktop\n"
      << "text/html=velmo-test-pages.desktop\n";

  ScopedEnvironment env;
  env.Set("PATH", "/usr/bin:/bin");
  env.Set("HOME", root.string());
  env.Set("XDG_DATA_HOME", In("data"));
  env.Set("XDG_DATA_DIRS", In("no-system-data"));
  env.Set("XDG_CONFIG_HOME", In("config"));
  env.Set("XDG_CONFIG_DIRS", In("no-system-config"));
  env.Set("XDG_RUNTIME_DIR", root.string());
  env.Set("XDG_CURRENT_DESKTOP", "X-Generic");
  for (const char* name :
       {"DESKTOP_SESSION", "KDE_FULL_SESSION", "KDE_SESSION_VERSION", "GNOME_DESKTOP_SESSION_ID",
        "MATE_DESKTOP_SESSION_ID", "LXQT_SESSION_CONFIG", "DESKTOP", "XDG_MENU_PREFIX",
        "XDG_UTILS_DEBUG_LEVEL", "DISPLAY"}) {
    env.Set(name, std::nullopt);
  }
  env.Set("WAYLAND_DISPLAY", "velmo-test-no-compositor");
  env.Set("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + In("no-bus"));
  env.Set("BROWSER", "false");

  const std::string pwned = In("pwned");
  const std::vector<std::string> addresses = {
      "https://example.com/a?b=1&c=$(touch " + pwned + ")",
      "https://example.com/;touch " + pwned + " `touch " + pwned + "` 'q' \"d\" | x &"};

  environment.searchPath = "/usr/bin";
  environment.openerGrace = milliseconds(5000);  // let xdg-open end, so its status counts
  CLinuxLinkPlatform platform(environment);
  for (const std::string& address : addresses) {
    EXPECT_GT(OpenAddress(platform, address, kShowNormal), 32) << address;
    EXPECT_EQ(Recorded("handler"), Args{address});
  }

  // Without xdg-open: the page handler that xdg-mime names.
  fs::create_directories(root / "tools");
  fs::create_symlink("/usr/bin/xdg-mime", root / "tools/xdg-mime");
  environment.searchPath = In("tools");
  CLinuxLinkPlatform withoutOpener(environment);
  for (const std::string& address : addresses) {
    EXPECT_GT(OpenAddress(withoutOpener, address, kShowNormal), 32) << address;
    EXPECT_EQ(Recorded("handler"), (Args{"--page", address}));
  }
  EXPECT_FALSE(fs::exists(pwned));
}

TEST_F(LinuxLinks, NothingToOpenWithIsAMissingFile) {
  CLinuxLinkPlatform platform(environment);
  const int result = OpenAddress(platform, "https://www.example.com/velmo/", kShowNormal);
  EXPECT_EQ(result, kOpenFileNotFound);
  EXPECT_EQ(OpenErrorMessage(result), "Can't open link:\n\nThe specified file was not found.");
}

}  // namespace
