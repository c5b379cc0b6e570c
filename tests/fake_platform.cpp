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

const char* FakePlatform::op_name(Op op) {
  static const char* const names[] = {"open_stream", "open_start_dir", "open_target", "create_file", "make_dir",
                                      "open_made_dir", "open_dir",    "inspect",        "remove_file", "identity",    "read",
                                      "copy_read",   "write",          "copy_block",  "close",       "set_times",
                                      "set_attr"};
  return names[static_cast<int>(op)];
}

FakePlatform::FakePlatform() : start(&root) {
  root.kind = Kind::kDirectory;
  root.attr = 0x10;
  root.id = next_id_++;
  attic.kind = Kind::kDirectory;
  attic.id = next_id_++;
}

std::u16string FakePlatform::key(const std::u16string& name) const { return fold_case ? folded(name) : name; }

std::string FakePlatform::utf8(const std::u16string& s) {
  std::string out(s.size() * 3 + 1, '\0');
  out.resize(utf16_to_path(s.c_str(), out.data(), LoneSurrogates::kEncode));
  return out;
}

// --- set-up ---

void FakePlatform::add_stream(const std::u16string& path, std::string bytes) {
  Stream& s = streams_[path];
  s.size = bytes.size();
  s.bytes = std::move(bytes);
  s.id = next_id_++;
}

void FakePlatform::add_generated_stream(const std::u16string& path, std::uint64_t size, Fill fill) {
  Stream& s = streams_[path];
  s.size = size;
  s.fill = std::move(fill);
  s.id = next_id_++;
}

void FakePlatform::add_dump(const std::string& nodes, const std::string& names, const std::string& content,
                            const std::u16string& basepath) {
  add_stream(basepath + u"$fsnodes", nodes);
  add_stream(basepath + u"$fsnames", names);
  add_stream(basepath + u"$content", content);
}

void FakePlatform::stream_chunk(const std::u16string& path, std::uint32_t bytes) { streams_[path].chunk = bytes; }

void FakePlatform::stream_is_file(const std::u16string& path, Node* file) { streams_[path].file = file; }

FakePlatform::Node* FakePlatform::new_node(Node* dir, const std::u16string& name, Kind kind) {
  auto& slot = dir->children[key(name)];
  slot = std::make_unique<Node>();
  slot->name = name;
  slot->kind = kind;
  slot->parent = dir;
  slot->id = next_id_++;
  if (kind == Kind::kDirectory) slot->attr = 0x10;
  return slot.get();
}

FakePlatform::Node* FakePlatform::mkdir_p(const std::u16string& path) {
  Node* at = &root;
  std::size_t begin = 0;
  while (begin < path.size()) {
    std::size_t end = path.find(u'/', begin);
    if (end == std::u16string::npos) end = path.size();
    const std::u16string part = path.substr(begin, end - begin);
    Node* next = child(at, part.c_str());
    at = next != nullptr ? next : new_node(at, part, Kind::kDirectory);
    begin = end + 1;
  }
  return at;
}

FakePlatform::Node* FakePlatform::add_file(const std::u16string& path, const std::string& body) {
  const std::size_t slash = path.rfind(u'/');
  Node* dir = slash == std::u16string::npos ? &root : mkdir_p(path.substr(0, slash));
  Node* node = new_node(dir, slash == std::u16string::npos ? path : path.substr(slash + 1), Kind::kFile);
  node->body = body;
  node->size = body.size();
  return node;
}

FakePlatform::Node* FakePlatform::add_symlink(const std::u16string& path, Node* to) {
  Node* node = add_file(path, "");
  node->kind = Kind::kLink;
  node->link = to;
  node->attr = to->directory() ? 0x410 : 0x400;  // a reparse point
  return node;
}

FakePlatform::Node* FakePlatform::add_hard_link(const std::u16string& path, Node* to) {
  Node* node = add_file(path, to->body);
  node->hard_of = to;
  return node;
}

FakePlatform::Node* FakePlatform::add_fifo(const std::u16string& path) {
  Node* node = add_file(path, "");
  node->kind = Kind::kOther;
  return node;
}

FakePlatform::Node* FakePlatform::swap_for_link(Node* entry, Node* to) {
  Node* dir = entry->parent;
  auto it = dir->children.find(key(entry->name));
  std::unique_ptr<Node> displaced = std::move(it->second);
  dir->children.erase(it);
  const std::u16string name = displaced->name;
  displaced->parent = &attic;
  attic.children[u"swapped " + std::u16string(1, static_cast<char16_t>(u'0' + swaps_++ % 64)) + name] =
      std::move(displaced);
  Node* link = new_node(dir, name, Kind::kLink);
  link->link = to;
  return link;
}

void FakePlatform::inject(const Failure& failure) { failures_.push_back(failure); }

void FakePlatform::fail(Op op, const std::u16string& name, int times, const std::string& text) {
  Failure f{op, name, times, text};
  inject(f);
}

void FakePlatform::fail_nth(Op op, int n, const std::string& text) {
  Failure f{op, u"", 1, text};
  f.skip = n;
  inject(f);
}

// --- inspection ---

FakePlatform::Node* FakePlatform::find(const std::u16string& path) {
  Node* at = &root;
  std::size_t begin = 0;
  while (begin < path.size() && at != nullptr) {
    std::size_t end = path.find(u'/', begin);
    if (end == std::u16string::npos) end = path.size();
    at = child(at, path.substr(begin, end - begin).c_str());
    begin = end + 1;
  }
  return at;
}

std::vector<std::string> FakePlatform::open_labels() const {
  std::vector<std::string> out;
  for (const auto& [id, open] : handles_) out.push_back(open.label);
  return out;
}

int FakePlatform::open_non_directory_handles() const {
  int n = 0;
  for (const auto& [id, open] : handles_) n += open.node == nullptr || !open.node->directory();
  return n;
}

std::vector<std::string> FakePlatform::calls_of(const std::string& op) const {
  std::vector<std::string> out;
  for (const std::string& c : calls) {
    if (c.compare(0, op.size(), op) == 0) out.push_back(c);
  }
  return out;
}

std::uint64_t FakePlatform::stream_position(const std::u16string& path) const {
  auto it = streams_.find(path);
  return it == streams_.end() ? 0 : it->second.consumed;
}

const FakePlatform::Node* FakePlatform::node_of(Handle h) {
  Open* open = lookup(h);
  return open == nullptr ? nullptr : open->node;
}

// --- helpers ---

const FakePlatform::Failure* FakePlatform::should_fail(Op op, const std::u16string& name) {
  for (Failure& f : failures_) {
    if (f.op != op || f.times == 0 || (!f.name.empty() && f.name != name)) continue;
    if (f.skip > 0) {
      --f.skip;
      continue;
    }
    if (f.times > 0) --f.times;
    last_error_ = f.text;
    failed(op);
    return &f;
  }
  return nullptr;
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

FakePlatform::Node* FakePlatform::dir_of(Handle h, const std::string& what) {
  Open* open = lookup(h);
  if (open == nullptr || open->node == nullptr || !open->node->directory()) {
    record(what + " <bad handle>");
    ++bad_handle_uses;
    last_error_ = "Bad file descriptor";
    return nullptr;
  }
  return open->node;
}

FakePlatform::Node* FakePlatform::child(Node* dir, const char16_t* name) {
  auto it = dir->children.find(key(name));
  return it == dir->children.end() ? nullptr : it->second.get();
}

// Only reached by names the restore's rules let through.
void FakePlatform::look_like_windows(const std::u16string& name, bool by_create_file) {
  const std::string shown = utf8(name);
  if (rules == NameRules::kPosix || !model_windows_names) {
    if (name.empty() || name == u"." || name == u".." || name.find(u'/') != std::u16string::npos) {
      anomalies.push_back("not a plain entry: <" + shown + ">");
    }
    return;
  }
  if (name.find_first_of(u"/\\") != std::u16string::npos) anomalies.push_back("path separator in <" + shown + ">");
  if (name.find(u':') != std::u16string::npos) anomalies.push_back("stream or drive in <" + shown + ">");
  if (name.empty() || name == u"." || name == u"..") anomalies.push_back("not a plain entry: <" + shown + ">");
  if (!name.empty() && (name.back() == u'.' || name.back() == u' ')) {
    anomalies.push_back("trailing dot or space dropped from <" + shown + ">");
  }
  if (windows_device(name)) anomalies.push_back("device name <" + shown + ">");
  // CreateFileW opens the console for these names in any directory.
  const std::u16string f = folded(name);
  if (by_create_file && (f == u"CONIN$" || f == u"CONOUT$")) anomalies.push_back("console name <" + shown + ">");
}

bool FakePlatform::name_fails(const char16_t* name16, bool by_create_file, Op op) {
  const std::u16string name = name16;
  look_like_windows(name, by_create_file);
  if (limit_name_length) {
    const std::size_t length = rules == NameRules::kWindows ? name.size() : utf8(name).size();
    if (length > 255) {
      last_error_ = "File name too long";
      failed(op);
      return true;
    }
  }
  return false;
}

// --- Platform ---

int FakePlatform::arg_count() { return static_cast<int>(args.size()); }

bool FakePlatform::arg_is(int i, const char* ascii) { return args[i] == ascii; }

std::uint32_t FakePlatform::arg_to_name(int i, char16_t* out, std::uint32_t capacity) {
  return path_to_utf16(args[i].c_str(), out, capacity);
}

void FakePlatform::console_write(const char* text, std::uint32_t length) { console.append(text, length); }

void FakePlatform::console_write_arg(int i) { console += args[i]; }

Handle FakePlatform::open_start_dir() {
  before(Op::kOpenStartDir);
  record("open_start_dir");
  if (should_fail(Op::kOpenStartDir, u"")) return Handle::none();
  Open open;
  open.label = ".";
  open.node = start;
  const Handle h = open_handle(open);
  notify("open_start_dir", start);
  return h;
}

// The user named the target: a link to it is followed.
Handle FakePlatform::open_target(int i) {
  before(Op::kOpenTarget);
  record("open_target " + args[i]);
  if (should_fail(Op::kOpenTarget, u16(args[i]))) return Handle::none();
  Node* target = find(u16(args[i]));
  while (target != nullptr && target->kind == Kind::kLink) target = target->link;
  if (target == nullptr || !target->directory()) {
    last_error_ = target == nullptr ? "No such file or directory" : "Not a directory";
    failed(Op::kOpenTarget);
    return Handle::none();
  }
  Open open;
  open.label = args[i];
  open.node = target;
  const Handle h = open_handle(open);
  notify("open_target", target);
  return h;
}

Handle FakePlatform::open_stream(const char16_t* path) {
  before(Op::kOpenStream);
  record("open_stream " + utf8(path));
  if (should_fail(Op::kOpenStream, path)) return Handle::none();
  auto it = streams_.find(path);
  if (it == streams_.end()) {
    last_error_ = "No such file or directory";
    failed(Op::kOpenStream);
    return Handle::none();
  }
  Open open;
  open.label = utf8(path);
  open.stream = &it->second;
  const Handle h = open_handle(open);
  notify("open_stream", nullptr);
  return h;
}

// Exclusive, as O_CREAT|O_EXCL|O_NOFOLLOW: whatever has the name, a link
// included, makes it fail.
Handle FakePlatform::create_file(Handle dir_handle, const char16_t* name) {
  before(Op::kCreateFile);
  record("create_file " + utf8(name));
  exists_ = false;
  Node* dir = dir_of(dir_handle, "create_file");
  if (dir == nullptr) return Handle::none();
  if (name_fails(name, true, Op::kCreateFile) || should_fail(Op::kCreateFile, name)) {
    return Handle::none();
  }
  if (child(dir, name) != nullptr) {
    last_error_ = "File exists";
    exists_ = true;
    failed(Op::kCreateFile);
    ++exists_failures[Op::kCreateFile];
    return Handle::none();
  }
  Open open;
  open.label = utf8(name);
  open.node = new_node(dir, name, Kind::kFile);
  // The first "$errors" made in the starting directory is the log.
  open.is_log = !log_created_ && dir == start && std::u16string(name) == u"$errors";
  log_created_ = log_created_ || open.is_log;
  const Handle h = open_handle(open);
  notify("create_file", open.node);
  return h;
}

Handle FakePlatform::make_dir(Handle dir_handle, const char16_t* name, bool* made) {
  *made = false;
  before(Op::kMakeDir);
  record("make_dir " + utf8(name));
  exists_ = false;
  Node* dir = dir_of(dir_handle, "make_dir");
  if (dir == nullptr) return Handle::none();
  if (name_fails(name, false, Op::kMakeDir) || should_fail(Op::kMakeDir, name)) {
    return Handle::none();
  }
  if (child(dir, name) != nullptr) {
    last_error_ = "File exists";
    exists_ = true;
    failed(Op::kMakeDir);
    ++exists_failures[Op::kMakeDir];
    return Handle::none();
  }
  Open open;
  open.label = utf8(name);
  open.node = new_node(dir, name, Kind::kDirectory);
  *made = true;
  // Made, but the open that follows the creation may fail (out of handles).
  if (should_fail(Op::kOpenMadeDir, name)) return Handle::none();
  const Handle h = open_handle(open);
  notify("make_dir", open.node);
  return h;
}

// A link is never followed: POSIX opens with O_NOFOLLOW, Windows opens the
// reparse point itself and finds it is not a plain directory.
Handle FakePlatform::open_dir(Handle dir_handle, const char16_t* name) {
  before(Op::kOpenDir);
  record("open_dir " + utf8(name));
  Node* dir = dir_of(dir_handle, "open_dir");
  if (dir == nullptr) return Handle::none();
  if (name_fails(name, true, Op::kOpenDir) || should_fail(Op::kOpenDir, name)) {
    return Handle::none();
  }
  Node* node = child(dir, name);
  if (node == nullptr || node->kind != Kind::kDirectory) {
    last_error_ = node == nullptr                ? "No such file or directory"
                  : node->kind == Kind::kLink ? "Too many levels of symbolic links"
                                              : "Not a directory";
    failed(Op::kOpenDir);
    return Handle::none();
  }
  Open open;
  open.label = utf8(name);
  open.node = node;
  const Handle h = open_handle(open);
  notify("open_dir", node);
  return h;
}

bool FakePlatform::inspect(Handle dir_handle, const char16_t* name, EntryInfo* info) {
  before(Op::kInspect);
  record("inspect " + utf8(name));
  Node* dir = dir_of(dir_handle, "inspect");
  if (dir == nullptr) return false;
  if (name_fails(name, true, Op::kInspect) || should_fail(Op::kInspect, name)) {
    return false;
  }
  const Node* node = child(dir, name);
  *info = EntryInfo{};
  if (node != nullptr) {
    static const EntryKind kinds[] = {EntryKind::kFile, EntryKind::kDirectory, EntryKind::kLink, EntryKind::kOther};
    info->kind = kinds[static_cast<int>(node->kind)];
    info->identity = FileIdentity{1, node->hard_of != nullptr ? node->hard_of->id : node->id};
    info->attributes = node->attr;
    info->shown_as_itself = !node->unverified;
  }
  notify("inspect", node);
  return true;
}

// The name goes, never what a link points at; another name of the same
// file keeps it.
bool FakePlatform::remove_file(Handle dir_handle, const char16_t* name) {
  before(Op::kRemoveFile);
  record("remove_file " + utf8(name));
  Node* dir = dir_of(dir_handle, "remove_file");
  if (dir == nullptr) return false;
  if (name_fails(name, false, Op::kRemoveFile) || should_fail(Op::kRemoveFile, name)) {
    return false;
  }
  auto it = dir->children.find(key(name));
  if (it == dir->children.end() || it->second->directory()) {
    last_error_ = it == dir->children.end() ? "No such file or directory" : "Is a directory";
    failed(Op::kRemoveFile);
    return false;
  }
  Node* node = it->second.get();
  removed_.push_back(std::move(it->second));
  dir->children.erase(it);
  notify("remove_file", node);
  return true;
}

bool FakePlatform::identity(Handle h, FileIdentity* out) {
  before(Op::kIdentity);
  Open* open = lookup(h);
  if (open == nullptr) {
    record("identity <bad handle>");
    ++bad_handle_uses;
    return false;
  }
  record("identity " + open->label);
  if (should_fail(Op::kIdentity, u16(open->label))) return false;
  const Node* node = open->node != nullptr ? open->node : open->stream->file;
  if (node != nullptr) {
    *out = FileIdentity{1, node->hard_of != nullptr ? node->hard_of->id : node->id};
  } else {
    *out = FileIdentity{2, open->stream->id};
  }
  notify("identity", node);
  return true;
}

Shown FakePlatform::shows_entry(Handle, const char16_t*, Handle entry) {
  const Node* node = node_of(entry);
  return node != nullptr && node->unverified ? Shown::kOther : Shown::kItself;
}

// Serves what the stream holds, at most one chunk a turn unless full.
std::uint32_t FakePlatform::take(Open& open, void* buffer, std::uint32_t count, bool full, Op op) {
  if (should_fail(op, u16(open.label))) {
    failed_reads.push_back(open.label);
    record("read " + open.label + " " + std::to_string(count) + " -> failed");
    return op == Op::kRead ? kReadFailed : 0;
  }
  Stream& s = *open.stream;
  const std::uint32_t chunk = s.chunk != 0 ? s.chunk : read_chunk;
  std::uint32_t got = 0;
  do {
    const std::uint32_t want = chunk != 0 && chunk < count - got ? chunk : count - got;
    const std::uint32_t n = static_cast<std::uint32_t>(std::min<std::uint64_t>(want, s.size - open.position));
    if (n == 0) break;
    std::uint8_t* out = static_cast<std::uint8_t*>(buffer) + got;
    if (s.fill) {
      s.fill(open.position, out, n);
    } else {
      std::memcpy(out, s.bytes.data() + open.position, n);
    }
    open.position += n;
    got += n;
  } while (full && got < count);
  s.consumed = std::max(s.consumed, open.position);
  record("read " + open.label + " " + std::to_string(count) + " -> " + std::to_string(got));
  return got;
}

std::uint32_t FakePlatform::read(Handle h, void* buffer, std::uint32_t count) {
  before(Op::kRead);
  Open* open = lookup(h);
  if (open == nullptr || open->stream == nullptr) {
    record("read <bad handle>");
    ++bad_handle_uses;
    return kReadFailed;
  }
  const std::uint32_t got = take(*open, buffer, count, false, Op::kRead);
  notify("read", nullptr);
  return got;
}

bool FakePlatform::put(Open& open, const void* data, std::uint32_t count, Op op) {
  const char* bytes = static_cast<const char*>(data);
  if (open.is_log) log_attempted_.append(bytes, count);
  const Failure* failure = should_fail(op, open.node->name);
  const std::uint32_t arriving = failure == nullptr ? count : std::min(failure->partial, count);
  if (open.is_log) {
    log_.append(bytes, arriving);
    if (failure != nullptr) log_failed = true;
    notify("log_write", nullptr);
    return failure == nullptr;
  }
  record("write " + open.label + " " + std::to_string(count) + (failure ? " -> failed" : ""));
  if (keep_bodies) open.node->body.append(bytes, arriving);
  open.node->size += arriving;
  if (failure != nullptr) open.write_failed = open.node->write_failed = true;
  notify(failure != nullptr ? "write failed" : "write", open.node);
  return failure == nullptr;
}

bool FakePlatform::write(Handle h, const void* data, std::uint32_t count) {
  before(Op::kWrite);
  Open* open = lookup(h);
  if (open == nullptr || open->node == nullptr || open->node->directory()) {
    record("write <bad handle>");
    ++bad_handle_uses;
    return false;
  }
  return put(*open, data, count, Op::kWrite);
}

// Takes the block as read_full does, then writes it; a failing write still
// leaves the whole block taken.
CopyResult FakePlatform::copy_block(Handle from, Handle to, void* buffer, std::uint32_t count) {
  before(Op::kCopyBlock);
  Open* source = lookup(from);
  Open* dest = lookup(to);
  if (source == nullptr || source->stream == nullptr || dest == nullptr || dest->node == nullptr ||
      dest->node->directory()) {
    record("copy_block <bad handle>");
    ++bad_handle_uses;
    return CopyResult{0, false};
  }
  CopyResult result;
  result.taken = take(*source, buffer, count, true, Op::kCopyRead);
  notify("read", nullptr);
  if (result.taken > 0) result.written = put(*dest, buffer, result.taken, Op::kCopyBlock);
  return result;
}

bool FakePlatform::close(Handle h) {
  if (!h.valid()) return true;
  before(Op::kClose);
  auto it = handles_.find(h.raw);
  if (it == handles_.end()) {
    record("close <bad handle>");
    ++bad_handle_uses;
    return false;
  }
  const Open open = it->second;
  handles_.erase(it);
  const bool failing = should_fail(Op::kClose, u16(open.label)) != nullptr;
  record("close " + open.label + (failing ? " -> failed" : ""));
  if (failing && open.is_log) log_failed = true;
  if (failing && open.node != nullptr && !open.is_log) open.node->close_failed = true;
  notify(failing ? "close failed" : "close", open.node);
  return !failing;
}

void FakePlatform::set_times(Handle h, FileTime creation, FileTime access, FileTime write) {
  before(Op::kSetTimes);
  Open* open = lookup(h);
  record("set_times " + (open ? open->label : std::string("<bad handle>")));
  if (open == nullptr || open->node == nullptr) {
    ++bad_handle_uses;
    return;
  }
  if (should_fail(Op::kSetTimes, open->node->name)) return;
  open->node->creation = creation;
  open->node->access = access;
  open->node->write = write;
  open->node->times_set = true;
  notify("set_times", open->node);
}

void FakePlatform::set_attr(Handle h, std::uint16_t attr) {
  before(Op::kSetAttr);
  Open* open = lookup(h);
  char hex[8];
  std::snprintf(hex, sizeof hex, "%04X", attr);
  record("set_attr " + (open ? open->label : std::string("<bad handle>")) + " " + hex);
  if (open == nullptr || open->node == nullptr) {
    ++bad_handle_uses;
    return;
  }
  if (should_fail(Op::kSetAttr, open->node->name)) return;
  open->node->attr = attr;
  open->node->attr_set = true;
  notify("set_attr", open->node);
}

SystemError FakePlatform::last_error() {
  error_texts_.push_back(last_error_);
  return SystemError{static_cast<std::uint32_t>(error_texts_.size())};
}

void FakePlatform::error_text(SystemError error, char* out, std::uint32_t capacity) {
  const std::string& text = error.code >= 1 && error.code <= error_texts_.size() ? error_texts_[error.code - 1] : "";
  std::snprintf(out, capacity, "%s", text.c_str());
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
  const Node* node = p.empty() ? start : find(p);
  return node != nullptr && node->directory();
}
