#include "fake_platform.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "platform/utf8_path.h"

namespace {

// Upper case for the letters whose folding the tests rely on: ASCII,
// Latin-1, Latin Extended-A, Greek, Cyrillic and the full-width forms.
char16_t fold_unit(char16_t c) {
  if (c >= u'a' && c <= u'z') return static_cast<char16_t>(c - 32);
  if (c < 0x80) return c;
  if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return static_cast<char16_t>(c - 32);
  if (c == 0xFF) return 0x178;
  if (c >= 0x100 && c <= 0x137) return static_cast<char16_t>(c & ~1u);
  if (c >= 0x139 && c <= 0x148) return static_cast<char16_t>((c & 1u) ? c : c - 1);
  if (c >= 0x14A && c <= 0x177) return static_cast<char16_t>(c & ~1u);
  if (c >= 0x3B1 && c <= 0x3C9 && c != 0x3C2) return static_cast<char16_t>(c - 32);
  if (c >= 0x430 && c <= 0x44F) return static_cast<char16_t>(c - 32);
  if (c >= 0x450 && c <= 0x45F) return static_cast<char16_t>(c - 80);
  if (c >= 0xFF41 && c <= 0xFF5A) return static_cast<char16_t>(c - 32);
  return c;
}

std::u16string folded(const std::u16string& s) {
  std::u16string out = s;
  for (char16_t& c : out) c = fold_unit(c);
  return out;
}

// What Windows takes for a device in any directory: the part before the
// first dot or colon, trailing spaces dropped, is a DOS device name.
bool windows_device(const std::u16string& name) {
  std::u16string stem = name.substr(0, name.find_first_of(u".:"));
  while (!stem.empty() && stem.back() == u' ') stem.pop_back();
  stem = folded(stem);
  if (stem == u"CON" || stem == u"PRN" || stem == u"AUX" || stem == u"NUL") return true;
  if (stem.size() == 4 && (stem.compare(0, 3, u"COM") == 0 || stem.compare(0, 3, u"LPT") == 0)) {
    const char16_t d = stem[3];
    return (d >= u'1' && d <= u'9') || d == 0xB9 || d == 0xB2 || d == 0xB3;
  }
  return false;
}

std::u16string u16(const std::string& bytes) {
  std::u16string out(bytes.size() + 1, u'\0');
  out.resize(path_to_utf16(bytes.c_str(), out.data(), static_cast<std::uint32_t>(out.size())) - 1);
  return out;
}

}  // namespace

std::u16string FakePlatform::key(const std::u16string& name) const { return fold_case ? folded(name) : name; }

FakePlatform::Node* FakePlatform::child(Node* dir, const char16_t* name) {
  auto it = dir->children.find(key(name));
  return it == dir->children.end() ? nullptr : it->second.get();
}

void FakePlatform::add_symlink(const std::u16string& path, Node* to, bool as_junction) {
  Node* node = add_file(path, "");
  node->link = to;
  node->directory = as_junction;
  node->attr = as_junction ? 0x410 : 0x400;  // reparse point
}

void FakePlatform::add_hard_link(const std::u16string& path, Node* to) {
  Node* node = add_file(path, to->body);
  node->hard_of = to;
}

void FakePlatform::fail_nth(const std::string& op, int n, const std::string& text) {
  failures_.push_back({op, u"", 1, text, n});
}

std::uint64_t FakePlatform::stream_position(const std::u16string& path) const {
  auto it = streams_.find(path);
  return it == streams_.end() ? 0 : it->second.consumed;
}

int FakePlatform::open_non_directory_handles() const {
  int n = 0;
  for (const auto& [id, open] : handles_) {
    if (open.node == nullptr || !open.node->directory) ++n;
  }
  return n;
}

// Only reached by names the platform layer let through.
void FakePlatform::look_like_windows(const char16_t* name16, bool by_create_file) {
  if (!model_windows_names) return;
  const std::u16string name = name16;
  const std::string shown = utf8(name);
  if (name.find_first_of(u"/\\") != std::u16string::npos) anomalies.push_back("path separator in <" + shown + ">");
  if (name.find(u':') != std::u16string::npos) anomalies.push_back("stream or drive in <" + shown + ">");
  if (!name.empty() && (name.back() == u'.' || name.back() == u' ')) {
    anomalies.push_back("trailing dot or space dropped from <" + shown + ">");
  }
  if (windows_device(name)) anomalies.push_back("device name <" + shown + ">");
  // CreateFileW opens the console for these names in any directory.
  const std::u16string f = folded(name);
  if (by_create_file && (f == u"CONIN$" || f == u"CONOUT$")) anomalies.push_back("console name <" + shown + ">");
}

FakePlatform::FakePlatform() : cwd(&root) {
  root.directory = true;
  root.attr = 0x10;
}

std::string FakePlatform::utf8(const std::u16string& s) {
  std::string out(s.size() * 3 + 1, '\0');
  out.resize(utf16_to_path(s.c_str(), out.data(), LoneSurrogates::kEncode));
  return out;
}

void FakePlatform::add_stream(const std::u16string& path, std::string bytes) {
  Stream& s = streams_[path];
  s.size = bytes.size();
  s.bytes = std::move(bytes);
}

void FakePlatform::add_generated_stream(const std::u16string& path, std::uint64_t size, Fill fill) {
  Stream& s = streams_[path];
  s.size = size;
  s.fill = std::move(fill);
}

void FakePlatform::add_dump(const std::string& nodes, const std::string& names, const std::string& content,
                            const std::u16string& basepath) {
  add_stream(basepath + u"$fsnodes", nodes);
  add_stream(basepath + u"$fsnames", names);
  add_stream(basepath + u"$content", content);
}

FakePlatform::Node* FakePlatform::mkdir_p(const std::u16string& path) {
  Node* at = &root;
  std::size_t start = 0;
  while (start < path.size()) {
    std::size_t end = path.find(u'/', start);
    if (end == std::u16string::npos) end = path.size();
    const std::u16string part = path.substr(start, end - start);
    auto& child = at->children[key(part)];
    if (!child) {
      child = std::make_unique<Node>();
      child->name = part;
      child->directory = true;
      child->parent = at;
    }
    at = child.get();
    start = end + 1;
  }
  return at;
}

FakePlatform::Node* FakePlatform::add_file(const std::u16string& path, const std::string& body) {
  const std::size_t slash = path.rfind(u'/');
  Node* dir = slash == std::u16string::npos ? &root : mkdir_p(path.substr(0, slash));
  const std::u16string leaf = slash == std::u16string::npos ? path : path.substr(slash + 1);
  auto& node = dir->children[key(leaf)];
  node = std::make_unique<Node>();
  node->name = leaf;
  node->parent = dir;
  node->body = body;
  node->size = body.size();
  return node.get();
}

FakePlatform::Node* FakePlatform::find(const std::u16string& path) {
  Node* at = &root;
  std::size_t start = 0;
  while (start < path.size()) {
    std::size_t end = path.find(u'/', start);
    if (end == std::u16string::npos) end = path.size();
    auto it = at->children.find(key(path.substr(start, end - start)));
    if (it == at->children.end()) return nullptr;
    at = it->second.get();
    start = end + 1;
  }
  return at;
}

void FakePlatform::fail(const std::string& op, const std::u16string& name, int times, const std::string& text) {
  failures_.push_back({op, name, times, text});
}

bool FakePlatform::should_fail(const std::string& op, const std::u16string& name) {
  for (Failure& f : failures_) {
    if (f.op != op || f.times == 0 || (!f.name.empty() && f.name != name)) continue;
    if (f.skip > 0) {
      --f.skip;
      continue;
    }
    if (f.times > 0) --f.times;
    last_error_ = f.text;
    return true;
  }
  return false;
}

bool FakePlatform::refuse(const char16_t* name) {
  if (!is_valid_entry_name(name, rules)) {
    last_error_ = "Invalid argument";
    return true;
  }
  if (limit_name_length) {
    const std::u16string n = name;
    const std::size_t length = rules == NameRules::kWindows ? n.size() : utf8(n).size();
    if (length > 255) {
      last_error_ = "File name too long";
      return true;
    }
  }
  return false;
}

Handle FakePlatform::open_handle(Open open) {
  const std::intptr_t id = next_handle_++;
  handles_[id] = std::move(open);
  return Handle{id};
}

FakePlatform::Open* FakePlatform::lookup(Handle h) {
  auto it = handles_.find(h.raw);
  return it == handles_.end() ? nullptr : &it->second;
}

std::string FakePlatform::log_text() const { return log_; }

std::vector<std::string> FakePlatform::calls_of(const std::string& op) const {
  std::vector<std::string> out;
  for (const std::string& c : calls) {
    if (c.compare(0, op.size(), op) == 0) out.push_back(c);
  }
  return out;
}

std::string FakePlatform::cwd_path() const {
  std::u16string path;
  for (const Node* n = cwd; n != &root; n = n->parent) path = u"/" + n->name + path;
  return path.empty() ? "/" : utf8(path);
}

int FakePlatform::arg_count() { return static_cast<int>(args.size()); }

bool FakePlatform::arg_is(int i, const char* ascii) { return args[i] == ascii; }

std::uint32_t FakePlatform::arg_to_name(int i, char16_t* out, std::uint32_t capacity) {
  return path_to_utf16(args[i].c_str(), out, capacity);
}

bool FakePlatform::enter_target(int i) {
  record("enter_target " + args[i]);
  Node* target = find(u16(args[i]));
  if (should_fail("enter_target", u"")) return false;
  if (target == nullptr || !target->directory) {
    last_error_ = "No such file or directory";
    return false;
  }
  cwd = target;
  notify("enter_target", cwd);
  return true;
}

void FakePlatform::console_write(const char* text, std::uint32_t length) { console.append(text, length); }

void FakePlatform::console_write_arg(int i) { console += args[i]; }

void FakePlatform::console_flush() {}

Handle FakePlatform::open_stream(const char16_t* path) {
  record("open_stream " + utf8(path));
  auto it = streams_.find(path);
  if (should_fail("open_stream", path)) return Handle::none();
  if (it == streams_.end()) {
    last_error_ = "No such file or directory";
    return Handle::none();
  }
  Open open;
  open.label = utf8(path);
  open.stream = &it->second;
  const Handle h = open_handle(open);
  notify("open_stream", nullptr);
  return h;
}

Handle FakePlatform::create_log() {
  record("create_log");
  if (should_fail("create_log", u"")) return Handle::none();
  Open open;
  open.label = "$errors";
  open.is_log = true;
  const Handle h = open_handle(open);
  notify("create_log", nullptr);
  return h;
}

// As the real platforms do: whatever has the name is replaced, a link
// included (the link, never what it points at); a directory, a junction and
// the run's own files are refused.
Handle FakePlatform::create_file(const char16_t* name) {
  record("create_file " + utf8(name));
  if (refuse(name) || should_fail("create_file", name)) {
    failed("create_file");
    return Handle::none();
  }
  look_like_windows(name, true);
  auto& slot = cwd->children[key(name)];
  if (slot && slot->directory) {
    last_error_ = "Is a directory";
    failed("create_file");
    return Handle::none();
  }
  if (slot && slot->guarded) {
    last_error_ = "Device or resource busy";
    failed("create_file");
    return Handle::none();
  }
  slot = std::make_unique<Node>();
  slot->name = name;
  slot->parent = cwd;
  Open open;
  open.label = utf8(name);
  open.node = slot.get();
  const Handle h = open_handle(open);
  notify("create_file", open.node);
  return h;
}

// POSIX opens with O_NOFOLLOW, so a link fails; Windows opens the reparse
// point itself.
Handle FakePlatform::open_dir(const char16_t* name) {
  record("open_dir " + utf8(name));
  if (refuse(name) || should_fail("open_dir", name)) {
    failed("open_dir");
    return Handle::none();
  }
  look_like_windows(name, true);
  Node* node = child(cwd, name);
  if (node == nullptr || !node->directory) {
    last_error_ = "No such file or directory";
    failed("open_dir");
    return Handle::none();
  }
  if (node->link != nullptr && rules == NameRules::kPosix) {
    last_error_ = "Too many levels of symbolic links";
    failed("open_dir");
    return Handle::none();
  }
  Open open;
  open.label = utf8(name);
  open.node = node;
  const Handle h = open_handle(open);
  notify("open_dir", node);
  return h;
}

std::uint32_t FakePlatform::read(Handle h, void* buffer, std::uint32_t count) {
  Open* open = lookup(h);
  if (open == nullptr || open->stream == nullptr) {
    record("read <bad handle>");
    ++bad_handle_uses;
    notify("read", nullptr);
    return 0;
  }
  const bool failing = should_fail("read", u16(open->label));
  if (failing) failed_reads.push_back(open->label);
  const std::uint32_t got =
      failing ? 0
              : static_cast<std::uint32_t>(std::min<std::uint64_t>(
                    read_chunk != 0 && read_chunk < count ? read_chunk : count, open->stream->size - open->position));
  Stream& s = *open->stream;
  if (s.fill) {
    s.fill(open->position, static_cast<std::uint8_t*>(buffer), got);
  } else {
    std::memcpy(buffer, s.bytes.data() + open->position, got);
  }
  open->position += got;
  s.consumed = std::max(s.consumed, open->position);
  record("read " + open->label + " " + std::to_string(count) + " -> " + std::to_string(got));
  notify("read", nullptr);
  return got;
}

void FakePlatform::write(Handle h, const void* data, std::uint32_t count) {
  Open* open = lookup(h);
  if (open == nullptr) {
    record("write <bad handle>");
    ++bad_handle_uses;
    notify("write", nullptr);
    return;
  }
  if (open->is_log) {
    log_.append(static_cast<const char*>(data), count);
    notify("write", nullptr);
    return;
  }
  record("write " + open->label + " " + std::to_string(count));
  if (open->node == nullptr || should_fail("write", open->node->name)) return;
  if (keep_bodies) open->node->body.append(static_cast<const char*>(data), count);
  open->node->size += count;
  notify("write", open->node);
}

std::uint32_t FakePlatform::copy_block(Handle from, Handle to, void* buffer, std::uint32_t count) {
  const std::uint32_t got = read(from, buffer, count);
  if (got > 0) write(to, buffer, got);
  return got;
}

void FakePlatform::close(Handle h) {
  auto it = handles_.find(h.raw);
  if (it == handles_.end()) {
    record("close <bad handle>");
    ++bad_handle_uses;
    notify("close", nullptr);
    return;
  }
  record("close " + it->second.label);
  const Node* node = it->second.node;
  handles_.erase(it);
  notify("close", node);
}

bool FakePlatform::make_dir(const char16_t* name) {
  record("make_dir " + utf8(name));
  if (refuse(name) || should_fail("make_dir", name)) {
    failed("make_dir");
    return false;
  }
  look_like_windows(name, false);
  auto& slot = cwd->children[key(name)];
  if (slot) {
    last_error_ = "File exists";
    failed("make_dir");
    return false;
  }
  slot = std::make_unique<Node>();
  slot->name = name;
  slot->directory = true;
  slot->parent = cwd;
  notify("make_dir", slot.get());
  return true;
}

// By name. On POSIX the read-only bit of a file goes through chmod, which
// follows a symbolic link; a hard link shares its attributes with the other
// name.
void FakePlatform::set_attr(const char16_t* name, std::uint16_t attr) {
  char hex[8];
  std::snprintf(hex, sizeof hex, "%04X", attr);
  record("set_attr " + utf8(name) + " " + hex);
  if (refuse(name)) return;
  look_like_windows(name, false);
  Node* node = child(cwd, name);
  if (node == nullptr) return;
  node->attr = attr;
  Node* also = node->hard_of;
  if (node->link != nullptr && rules == NameRules::kPosix && (attr & 0x01) != 0 && (attr & 0x10) == 0) {
    also = node->link;
  }
  if (also != nullptr) also->attr = attr;
  notify("set_attr", node);
  if (also != nullptr) notify("set_attr", also);
}

void FakePlatform::set_times(Handle h, FileTime creation, FileTime access, FileTime write) {
  Open* open = lookup(h);
  record("set_times " + (open ? open->label : std::string("<bad handle>")));
  if (open == nullptr) ++bad_handle_uses;
  if (open == nullptr || open->node == nullptr) {
    notify("set_times", nullptr);
    return;
  }
  open->node->creation = creation;
  open->node->access = access;
  open->node->write = write;
  open->node->times_set = true;
  notify("set_times", open->node);
}

// Neither platform enters a link: POSIX opens with O_NOFOLLOW, Windows
// refuses a reparse point.
bool FakePlatform::enter_dir(const char16_t* name) {
  record("enter_dir " + utf8(name));
  if (refuse(name) || should_fail("enter_dir", name)) {
    failed("enter_dir");
    return false;
  }
  look_like_windows(name, false);
  Node* node = child(cwd, name);
  if (node == nullptr) {
    last_error_ = "No such file or directory";
    failed("enter_dir");
    return false;
  }
  if (node->link != nullptr) {
    last_error_ = "Too many levels of symbolic links";
    failed("enter_dir");
    return false;
  }
  if (!node->directory) {
    last_error_ = "Not a directory";
    failed("enter_dir");
    return false;
  }
  cwd = node;
  ++entered;
  notify("enter_dir", cwd);
  return true;
}

bool FakePlatform::leave_dir() {
  record("leave_dir");
  if (should_fail("leave_dir", u"")) {
    failed("leave_dir");
    return false;
  }
  if (cwd->parent != nullptr) cwd = cwd->parent;
  ++left;
  notify("leave_dir", cwd);
  return true;
}

void FakePlatform::error_text(char* out, std::uint32_t capacity) {
  std::snprintf(out, capacity, "%s", last_error_.c_str());
}

std::uint32_t FakePlatform::tick_ms() {
  record("tick " + std::to_string(tick_value));
  const std::uint32_t now = tick_value;
  tick_value += tick_step;
  return now;
}

std::uint64_t FakePlatform::cycles() {
  const std::uint64_t now = cycle_value;
  cycle_value += cycle_step;
  return now;
}

bool FakePlatform::path_is_directory(const char16_t* path) {
  std::u16string p = path;
  while (!p.empty() && p.back() == u'/') p.pop_back();
  const Node* node = p.empty() ? cwd : find(p);
  return node != nullptr && node->directory;
}
