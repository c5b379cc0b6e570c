#include "log_line_parser.h"

#include <algorithm>

namespace {

// a + b, built by appending: GCC 12 warns falsely (restrict) on
// const char* + std::string here.
std::string joined(const char* a, const std::string& b) {
  std::string out(a);
  out.append(b);
  return out;
}

bool is_hex4(const std::string& s) {
  return s.size() == 4 && std::all_of(s.begin(), s.end(), [](char c) {
           return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
         });
}

bool is_decimal(const std::string& s) {
  return !s.empty() && s.size() < 20 && (s == "0" || s[0] != '0') &&
         std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

bool cut_prefix(std::string& s, const std::string& prefix) {
  if (s.compare(0, prefix.size(), prefix) != 0) return false;
  s.erase(0, prefix.size());
  return true;
}

bool cut_suffix(std::string& s, const std::string& suffix) {
  if (s.size() < suffix.size() || s.compare(s.size() - suffix.size(), suffix.size(), suffix) != 0) return false;
  s.resize(s.size() - suffix.size());
  return true;
}

// Cuts ": <text>" from the end of s: one of texts, or with none given, the
// shortest non-empty text without a control byte after the last ": " (a
// name may hold ": " too, a system's text hardly ever does).
bool cut_system_text(std::string& s, const std::vector<std::string>* texts) {
  if (texts != nullptr) {
    for (const std::string& text : *texts) {
      if (cut_suffix(s, joined(": ", text))) return true;
    }
    return false;
  }
  const std::size_t at = s.rfind(": ");
  if (at == std::string::npos || at + 2 == s.size()) return false;
  for (std::size_t i = at + 2; i < s.size(); ++i) {
    if (static_cast<unsigned char>(s[i]) < 0x20) return false;
  }
  s.resize(at);
  return true;
}

bool is_system_text(const std::string& s, const std::vector<std::string>* texts) {
  std::string t = joined(": ", s);
  return !s.empty() && cut_system_text(t, texts) && t.empty();
}

// "<name>, attr=XXXX, size=N" with the name taken greedily; names may hold
// anything but a line feed.
bool name_attr_size(const std::string& s) {
  const std::size_t at = s.rfind(">, attr=");
  if (at == std::string::npos) return false;
  std::string rest = s.substr(at + 8);
  if (rest.size() < 11 || !is_hex4(rest.substr(0, 4)) || rest.compare(4, 7, ", size=") != 0) return false;
  return is_decimal(rest.substr(11));
}

bool name_attr(const std::string& s, const char* separator) {
  const std::size_t at = s.rfind(separator);
  return at != std::string::npos && is_hex4(s.substr(at + std::string(separator).size()));
}

}  // namespace

std::string classify_log_line(const std::string& line, const std::vector<std::string>* texts) {
  if (line.find('\n') != std::string::npos) return "";
  std::string s = line;
  if (cut_prefix(s, "chdir error with <") && cut_system_text(s, texts)) return name_attr(s, "> attr=") ? "chdir" : "";
  s = line;
  if (cut_prefix(s, "mkdir error with <") && cut_system_text(s, texts)) return name_attr(s, ">, attr=") ? "mkdir" : "";
  for (const char* what : {"createfile", "write"}) {
    s = line;
    if (cut_prefix(s, std::string(what) + " error with <") && cut_system_text(s, texts) && name_attr_size(joined("<", s))) {
      return what;
    }
  }
  s = line;
  if (cut_prefix(s, "content error with <")) {
    if (!cut_suffix(s, " bytes missing")) return "";
    const std::size_t colon = s.rfind(": ");
    if (colon == std::string::npos || !is_decimal(s.substr(colon + 2)) || s.substr(colon + 2) == "0") return "";
    return name_attr_size(joined("<", s.substr(0, colon))) ? "content" : "";
  }
  if (line == "names error: $fsnames ended before $fsnodes") return "names";
  s = line;
  if (cut_prefix(s, "nodes error: $fsnodes ends with ") && cut_suffix(s, " stray bytes")) {
    return is_decimal(s) && std::stoi(s) >= 1 && std::stoi(s) <= 31 ? "nodes" : "";
  }
  s = line;
  if (cut_prefix(s, "nodes error: depth rises from ")) {
    const std::size_t to = s.find(" to "), at = s.find(" at record ");
    if (to == std::string::npos || at == std::string::npos || at < to) return "";
    const std::string from_n = s.substr(0, to), to_n = s.substr(to + 4, at - to - 4), rec = s.substr(at + 11);
    if (!is_decimal(from_n) || !is_decimal(to_n) || !is_decimal(rec) || rec == "0") return "";
    return std::stoi(to_n) > std::stoi(from_n) + 1 && std::stoi(to_n) <= 255 ? "depth" : "";
  }
  s = line;
  if (cut_prefix(s, "nodes error: the first record has depth ") && cut_suffix(s, ", not 0")) {
    return is_decimal(s) && s != "0" && std::stoi(s) <= 255 ? "depth" : "";
  }
  s = line;
  if (cut_prefix(s, "nodes error: ") && is_system_text(s, texts)) return "nodes-failed";
  s = line;
  if (cut_prefix(s, "names error: ") && is_system_text(s, texts)) return "names-failed";
  return "";
}
