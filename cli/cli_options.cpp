#include "cli/cli_options.h"

#include <charconv>

namespace {

bool ParseInt(const std::string& text, int min, int max, int* value) {
  int parsed = 0;
  const char* end = text.data() + text.size();
  auto result = std::from_chars(text.data(), end, parsed);
  if (text.empty() || result.ec != std::errc() || result.ptr != end) return false;
  if (parsed < min || parsed > max) return false;
  *value = parsed;
  return true;
}

// "--name=value" or "--name value": the value, advancing i for the second form.
bool TakeValue(const std::vector<std::string>& args, size_t* i, const std::string& name,
               std::string* value) {
  const std::string& arg = args[*i];
  if (arg.size() > name.size() && arg.compare(0, name.size(), name) == 0 &&
      arg[name.size()] == '=') {
    *value = arg.substr(name.size() + 1);
    return true;
  }
  if (arg == name && *i + 1 < args.size()) {
    *value = args[++*i];
    return true;
  }
  return false;
}

}  // namespace

std::string CliUsage() {
  return "usage: velmo-cli [--simulate[=SCENARIO]] [--transport=spti|aspi] [--sim-latency=MS]\n"
         "                 [--drive N] [--trace=FILE] COMMAND\n"
         "\n"
         "commands:\n"
         "  drives    list the optical drives and whether each accepts the diagnostic mode\n"
         "\n"
         "options:\n"
         "  --simulate[=SCENARIO]  use the built-in drive simulator (--simulate=help lists scenarios)\n"
         "  --transport=spti|aspi  pass-through (default) or the ASPI layer\n"
         "  --sim-latency=MS       simulated time per TE/FE sample (0 for none)\n"
         "  --drive N              the drive to use, by its index in 'drives' (default 0)\n"
         "  --trace=FILE           write every command sent to the drive, with its answer\n"
         "  --help, --version\n"
         "\n"
         "exit codes: 0 ok, 1 not recommended, 2 drive or firmware failure,\n"
         "            3 no drive / unsupported drive / unsupported disc, 64 usage error\n";
}

std::optional<CliOptions> ParseCliOptions(const std::vector<std::string>& args,
                                          std::string* error) {
  CliOptions options;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    std::string value;
    if (arg == "--help" || arg == "-h") {
      options.help = true;
    } else if (arg == "--version") {
      options.version = true;
    } else if (arg == "--simulate") {
      options.simulate = true;
    } else if (arg.rfind("--simulate=", 0) == 0) {
      options.simulate = true;
      options.scenario = arg.substr(11);
      if (options.scenario == "help") {
        options.listScenarios = true;
        options.scenario.clear();
      } else if (options.scenario.empty()) {
        *error = "--simulate= needs a scenario name (--simulate=help lists them)";
        return std::nullopt;
      }
    } else if (TakeValue(args, &i, "--transport", &value)) {
      if (value == "aspi") {
        options.aspi = true;
      } else if (value == "spti") {
        options.aspi = false;
      } else {
        *error = "--transport must be spti or aspi, not '" + value + "'";
        return std::nullopt;
      }
    } else if (TakeValue(args, &i, "--sim-latency", &value)) {
      if (!ParseInt(value, 0, 60000, &options.simLatencyMs)) {
        *error = "--sim-latency needs milliseconds from 0 to 60000, not '" + value + "'";
        return std::nullopt;
      }
    } else if (TakeValue(args, &i, "--drive", &value)) {
      if (!ParseInt(value, 0, 7, &options.drive)) {
        *error = "--drive needs a drive index from 0 to 7, not '" + value + "'";
        return std::nullopt;
      }
    } else if (TakeValue(args, &i, "--trace", &value)) {
      if (value.empty()) {
        *error = "--trace needs a file name";
        return std::nullopt;
      }
      options.traceFile = value;
    } else if (!arg.empty() && arg[0] == '-') {
      *error = "unknown option '" + arg + "'";
      return std::nullopt;
    } else if (options.command.empty()) {
      options.command = arg;
    } else {
      *error = "unexpected argument '" + arg + "'";
      return std::nullopt;
    }
  }
  if (options.aspi && !options.simulate) {
    *error = "--transport=aspi needs --simulate: this platform has no ASPI layer";
    return std::nullopt;
  }
  if (options.simLatencyMs >= 0 && !options.simulate) {
    *error = "--sim-latency needs --simulate";
    return std::nullopt;
  }
  return options;
}
