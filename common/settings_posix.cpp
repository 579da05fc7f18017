// The stand-in for the Windows private-profile calls: an INI file in UTF-8.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "common/file_io.h"
#include "common/settings.h"
#include "common/text.h"

namespace kavenor {
namespace {

struct Line {
  std::string text;    // without its line end
  std::string ending;  // "\n", "\r\n" or "" for a last line without one
};

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }

std::string Trim(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && IsBlank(s[b])) ++b;
  while (e > b && IsBlank(s[e - 1])) --e;
  return s.substr(b, e - b);
}

bool SameName(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

std::vector<Line> SplitLines(const std::string& bytes) {
  std::vector<Line> lines;
  size_t start = 0;
  while (start < bytes.size()) {
    size_t nl = bytes.find('\n', start);
    Line line;
    if (nl == std::string::npos) {
      line.text = bytes.substr(start);
      start = bytes.size();
    } else {
      line.text = bytes.substr(start, nl - start);
      line.ending = "\n";
      start = nl + 1;
    }
    if (!line.text.empty() && line.text.back() == '\r') {
      line.text.pop_back();
      line.ending = "\r" + line.ending;
    }
    lines.push_back(std::move(line));
  }
  return lines;
}

// The section name of a "[name]" line.
std::optional<std::string> SectionName(const std::string& text) {
  std::string t = Trim(text);
  if (t.empty() || t[0] != '[') return std::nullopt;
  size_t close = t.find(']');
  return Trim(t.substr(1, close == std::string::npos ? std::string::npos : close - 1));
}

// The key of a "key=value" line (a line without "=" is a key without value).
std::optional<std::string> KeyName(const std::string& text) {
  std::string t = Trim(text);
  if (t.empty() || t[0] == ';') return std::nullopt;
  return Trim(t.substr(0, t.find('=')));
}

std::string ValueOf(const std::string& text) {
  size_t eq = text.find('=');
  if (eq == std::string::npos) return {};
  std::string v = Trim(text.substr(eq + 1));
  // A value in matching quotes loses them, as the platform reads it.
  if (v.size() >= 2 && (v[0] == '"' || v[0] == '\'') && v.back() == v[0]) v = v.substr(1, v.size() - 2);
  return v;
}

struct Location {
  std::optional<size_t> section;  // index of the section's header line
  std::optional<size_t> key;      // index of the key's line
  size_t sectionEnd = 0;          // one past the section's last non-blank line
};

Location Find(const std::vector<Line>& lines, const std::string& section, const std::string& key) {
  Location loc;
  size_t i = 0;
  for (; i < lines.size(); ++i) {
    auto name = SectionName(lines[i].text);
    if (name && SameName(*name, section)) break;
  }
  if (i == lines.size()) return loc;
  loc.section = i;
  loc.sectionEnd = i + 1;
  for (size_t j = i + 1; j < lines.size(); ++j) {
    if (SectionName(lines[j].text)) break;
    if (!Trim(lines[j].text).empty()) loc.sectionEnd = j + 1;
    auto name = KeyName(lines[j].text);
    if (!loc.key && name && SameName(*name, key)) loc.key = j;
  }
  return loc;
}

std::vector<Line> LoadLines(const std::u16string& path, SettingsEncoding* encoding) {
  return SplitLines(SettingsFileText(path, encoding));
}

// The file's bytes for `text` (UTF-8) in the encoding it had.
std::string Encoded(const std::string& text, SettingsEncoding encoding) {
  switch (encoding) {
    case SettingsEncoding::kBytes: return text;
    case SettingsEncoding::kUtf8WithMark: return "\xEF\xBB\xBF" + text;
    case SettingsEncoding::kUtf16: break;
  }
  std::string bytes = "\xFF\xFE";
  for (char16_t unit : Utf8ToUtf16(text)) {
    bytes += static_cast<char>(unit & 0xFF);
    bytes += static_cast<char>(unit >> 8);
  }
  return bytes;
}

std::optional<std::string> Lookup(const std::u16string& section, const std::u16string& key,
                                  const std::u16string& path) {
  std::vector<Line> lines = LoadLines(path, nullptr);
  Location loc = Find(lines, Utf16ToUtf8(section), Utf16ToUtf8(key));
  if (!loc.key) return std::nullopt;
  return ValueOf(lines[*loc.key].text);
}

// Replaces the file with `bytes`: a temporary file of this write's own beside it, then a rename, so
// a reader sees the old file or the new one, never half of one.
bool ReplaceFile(const std::string& path, const std::string& bytes) {
  std::string tmp = path + ".tmp-XXXXXX";
  int fd = mkstemp(tmp.data());
  if (fd < 0) return false;
  fchmod(fd, 0644);
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n <= 0) {
      close(fd);
      unlink(tmp.c_str());
      return false;
    }
    done += static_cast<size_t>(n);
  }
  if (fsync(fd) != 0 || close(fd) != 0 || rename(tmp.c_str(), path.c_str()) != 0) {
    unlink(tmp.c_str());
    return false;
  }
  return true;
}

}  // namespace

int32_t ReadSettingInt(const std::u16string& section, const std::u16string& key, int32_t fallback,
                       const std::u16string& path) {
  std::optional<std::string> value = Lookup(section, key, path);
  if (!value || value->empty()) return fallback;
  const std::string& v = *value;
  size_t i = 0;
  bool negative = false;
  if (i < v.size() && (v[i] == '+' || v[i] == '-')) negative = v[i++] == '-';
  uint32_t n = 0;  // wraps on overflow, as the platform's reader does
  for (; i < v.size() && v[i] >= '0' && v[i] <= '9'; ++i) n = n * 10 + static_cast<uint32_t>(v[i] - '0');
  return static_cast<int32_t>(negative ? 0u - n : n);
}

std::u16string ReadSettingString(const std::u16string& section, const std::u16string& key,
                                 const std::u16string& fallback, const std::u16string& path,
                                 size_t capacity) {
  if (capacity == 0) return {};
  std::optional<std::string> value = Lookup(section, key, path);
  std::u16string text = value ? Utf8ToUtf16(*value) : fallback;
  if (text.size() > capacity - 1) text.resize(capacity - 1);
  return text;
}

bool WriteSettingString(const std::u16string& section, const std::u16string& key,
                        const std::u16string& value, const std::u16string& path) {
  // Read, change, replace: two writers at once would each drop the other's change.
  static std::mutex oneWriter;
  std::lock_guard<std::mutex> lock(oneWriter);
  SettingsEncoding encoding = SettingsEncoding::kBytes;
  std::vector<Line> lines = LoadLines(path, &encoding);
  std::string s = Utf16ToUtf8(section), k = Utf16ToUtf8(key), v = Utf16ToUtf8(value);
  std::string eol = !lines.empty() && lines[0].ending == "\r\n" ? "\r\n" : "\n";
  Location loc = Find(lines, s, k);
  if (loc.key) {
    lines[*loc.key].text = k + "=" + v;
  } else if (loc.section) {
    if (lines[loc.sectionEnd - 1].ending.empty()) lines[loc.sectionEnd - 1].ending = eol;
    lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(loc.sectionEnd), Line{k + "=" + v, eol});
  } else {
    if (!lines.empty() && lines.back().ending.empty()) lines.back().ending = eol;
    lines.push_back(Line{"[" + s + "]", eol});
    lines.push_back(Line{k + "=" + v, eol});
  }
  std::string text;
  for (const Line& line : lines) text += line.text + line.ending;
  return ReplaceFile(Utf16ToUtf8(path), Encoded(text, encoding));
}

}  // namespace kavenor
