#include "cli/text_table.h"

#include <algorithm>
#include <numeric>

namespace {

constexpr int kTextTableGap = 2;

}  // namespace

int TextColumnsOf(const std::string& text) {
  int count = 0;
  for (const char c : text) count += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  return count;
}

std::string ShortenedText(const std::string& text, int width) {
  if (TextColumnsOf(text) <= width) return text;
  if (width <= 0) return "";
  // The first width - 1 characters, then the ellipsis.
  size_t end = 0;
  for (int kept = 0; end < text.size(); ++end) {
    if ((static_cast<unsigned char>(text[end]) & 0xC0) != 0x80 && kept++ == width - 1) break;
  }
  std::string kept = text.substr(0, end);
  while (!kept.empty() && kept.back() == ' ') kept.pop_back();
  return kept + "\u2026";
}

TextTable::TextTable(std::vector<TextColumn> columns, const TerminalStyle& style, bool wide)
    : m_columns(std::move(columns)), m_shown(m_columns.size(), true) {
  if (!style.terminal || wide) return;
  // A line that reaches the last column would wrap on some terminals.
  m_room = std::max(style.columns - 1, 1);
  m_shorten = true;
  std::vector<size_t> order(m_columns.size());
  std::iota(order.begin(), order.end(), size_t{0});
  std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
    return m_columns[a].priority < m_columns[b].priority;
  });
  std::fill(m_shown.begin(), m_shown.end(), false);
  int used = 0;
  for (size_t n = 0; n < order.size(); ++n) {
    const int need = m_columns[order[n]].width + (n == 0 ? 0 : kTextTableGap);
    // The first column always shows, shortened to the line if it must.
    if (n > 0 && used + need > m_room) break;
    m_shown[order[n]] = true;
    used += need;
  }
}

bool TextTable::Whole() const {
  return std::all_of(m_shown.begin(), m_shown.end(), [](bool shown) { return shown; });
}

std::string TextTable::Head() const {
  std::vector<std::string> heads;
  for (const TextColumn& column : m_columns) heads.push_back(column.head);
  return Row(heads);
}

std::string TextTable::Row(const std::vector<std::string>& values) const {
  size_t last = 0;
  for (size_t i = 0; i < m_columns.size(); ++i) {
    if (m_shown[i]) last = i;
  }
  std::string line;
  int used = 0;
  bool first = true;
  for (size_t i = 0; i < m_columns.size(); ++i) {
    if (!m_shown[i]) continue;
    if (!first) {
      line.append(kTextTableGap, ' ');
      used += kTextTableGap;
    }
    first = false;
    const TextColumn& column = m_columns[i];
    std::string value = i < values.size() ? values[i] : "";
    const int width = i == last && m_shorten ? std::max(m_room - used, 1) : column.width;
    if (m_shorten) value = ShortenedText(value, i == last ? width : column.width);
    const int pad = std::max(column.width - TextColumnsOf(value), 0);
    if (column.right) {
      line.append(static_cast<size_t>(pad), ' ');
      line += value;
    } else {
      line += value;
      if (i != last) line.append(static_cast<size_t>(pad), ' ');
    }
    used += TextColumnsOf(value) + (column.right || i != last ? pad : 0);
  }
  return line + "\n";
}
