#include "links/desktop_entry.h"

#include <sys/stat.h>

#include <cstring>

namespace {

bool IsRegularFile(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool IsDirectory(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// rest is the id with the dashes already taken as folders removed.
std::string FindUnder(const std::string& folder, const std::string& rest) {
  const std::string direct = folder + "/" + rest;
  if (IsRegularFile(direct)) return direct;
  for (std::size_t dash = rest.find('-', 1); dash != std::string::npos && dash + 1 < rest.size();
       dash = rest.find('-', dash + 1)) {
    const std::string part = rest.substr(0, dash);
    if (part == "." || part == "..") continue;
    const std::string sub = folder + "/" + part;
    if (!IsDirectory(sub)) continue;
    std::string found = FindUnder(sub, rest.substr(dash + 1));
    if (!found.empty()) return found;
  }
  return {};
}

std::string_view Trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) {
    text.remove_suffix(1);
  }
  return text;
}

std::string UndoValueEscapes(std::string_view value) {
  std::string out;
  out.reserve(value.size());
  for (std::size_t i = 0; i < value.size(); ++i) {
    if (value[i] != '\\' || i + 1 == value.size()) {
      out += value[i];
      continue;
    }
    switch (value[i + 1]) {
      case 's': out += ' '; break;
      case 'n': out += '\n'; break;
      case 't': out += '\t'; break;
      case 'r': out += '\r'; break;
      case '\\': out += '\\'; break;
      default:  // not a value escape: the quoting layer's, kept for it
        out += value[i];
        out += value[i + 1];
        break;
    }
    ++i;
  }
  return out;
}

bool IsFieldCode(char code) { return std::strchr("fFuUdDnNickvm", code) != nullptr; }

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n'; }

}  // namespace

std::string FindDesktopEntry(const std::string& id, const std::vector<std::string>& dataDirs) {
  if (id.empty() || id == "." || id == ".." || id.find('/') != std::string::npos) return {};
  for (const std::string& dir : dataDirs) {
    std::string found = FindUnder(dir + "/applications", id);
    if (!found.empty()) return found;
  }
  return {};
}

std::optional<std::string> DesktopEntryExec(std::string_view entryText) {
  bool inEntry = false;
  bool hidden = false;
  std::optional<std::string> exec;
  while (!entryText.empty()) {
    const std::size_t end = entryText.find('\n');
    const std::string_view line = Trim(entryText.substr(0, end));
    entryText.remove_prefix(end == std::string_view::npos ? entryText.size() : end + 1);

    if (line.empty() || line.front() == '#') continue;
    if (line.front() == '[' && line.back() == ']') {
      if (inEntry) break;  // the group ended
      inEntry = line == "[Desktop Entry]";
      continue;
    }
    if (!inEntry) continue;
    const std::size_t equals = line.find('=');
    if (equals == std::string_view::npos) continue;
    const std::string_view key = Trim(line.substr(0, equals));
    const std::string_view value = Trim(line.substr(equals + 1));
    if (key == "Exec" && !exec) exec = UndoValueEscapes(value);
    if (key == "Hidden") hidden = value == "true";
  }
  if (hidden) return std::nullopt;
  return exec;
}

std::optional<std::vector<std::string>> SplitExecLine(std::string_view line) {
  std::vector<std::string> args;
  std::string arg;
  bool inArg = false;  // an argument has begun, even an empty quoted one
  bool inQuotes = false;
  for (std::size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (inQuotes) {
      if (c == '"') {
        inQuotes = false;
      } else if (c == '\\' && i + 1 < line.size() && std::strchr("\"`$\\", line[i + 1])) {
        arg += line[++i];
      } else {
        arg += c;
      }
      continue;
    }
    if (IsBlank(c)) {
      if (inArg) args.push_back(std::move(arg));
      arg.clear();
      inArg = false;
    } else if (c == '"') {
      inQuotes = true;
      inArg = true;
    } else if (c == '%' && i + 1 < line.size() && line[i + 1] == '%') {
      arg += '%';
      inArg = true;
      ++i;
    } else if (c == '%' && i + 1 < line.size() && IsFieldCode(line[i + 1])) {
      ++i;  // dropped; an argument of nothing but a field code vanishes
    } else {
      arg += c;
      inArg = true;
    }
  }
  if (inQuotes) return std::nullopt;
  if (inArg) args.push_back(std::move(arg));
  return args;
}
