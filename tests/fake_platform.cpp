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


FakePlatform::FakePlatform() : start(&root) {
  root.kind = Kind::kDirectory;
  root.attr = 0x10;
  root.id = next_id_++;
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

// Follows "a/b" from the root; with make, missing parts become directories.
FakePlatform::Node* FakePlatform::walk(const std::u16string& path, bool make) {
  Node* at = &root;
  for (std::size_t begin = 0; begin < path.size() && at != nullptr;) {
    const std::size_t end = std::min(path.find(u'/', begin), path.size());
    const std::u16string part = path.substr(begin, end - begin);
    Node* next = child(at, part);
    at = next != nullptr || !make ? next : new_node(at, part, Kind::kDirectory);
    begin = end + 1;
  }
  return at;
}

FakePlatform::Node* FakePlatform::add_file(const std::u16string& path, const std::string& body) {
  const std::size_t slash = path.rfind(u'/');
  Node* dir = slash == std::u16string::npos ? &root : mkdir_p(path.substr(0, slash));
  Node* node = new_node(dir, path.substr(slash + 1), Kind::kFile);
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
  ++to->links;
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
  removed_.push_back(std::move(it->second));
  dir->children.erase(it);
  removed_.back()->parent = nullptr;  // out of every tree
  Node* link = new_node(dir, entry->name, Kind::kLink);
  link->link = to;
  return link;
}

// --- inspection ---

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
    if (c.starts_with(op)) out.push_back(c);
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

// --- the steps every operation shares ---

void FakePlatform::call(Op op, const std::string& shown) {
  if (before_call) before_call(op);
  calls.push_back(shown.empty() ? op_name(op) : op_name(op) + (" " + shown));
}

bool FakePlatform::fails(Op op, const std::string& text) {
  last_error_ = text;
  ++failed_calls[op];
  return false;
}

const FakePlatform::Failure* FakePlatform::should_fail(Op op, const std::u16string& name) {
  for (Failure& f : failures_) {
    if (f.op != op || f.times == 0 || (!f.name.empty() && f.name != name)) continue;
    if (f.skip > 0) {
      --f.skip;
      continue;
    }
    if (f.times > 0) --f.times;
    fails(op, f.text);
    return &f;
  }
  return nullptr;
}

FakePlatform::Node* FakePlatform::at_name(Op op, Handle dir_handle, const char16_t* name16) {
  const std::u16string name = name16;
  call(op, utf8(name));
  exists_ = false;
  Open* dir = lookup(dir_handle, Need::kDirectory);
  if (dir == nullptr) {
    bad_use(op);
    last_error_ = "Bad file descriptor";
    return nullptr;
  }
  // CreateFileW opens these; make_dir and remove_file have calls of their own.
  look_like_windows(name, op != Op::kMakeDir && op != Op::kRemoveFile);
  const std::size_t length = rules == NameRules::kWindows ? name.size() : utf8(name).size();
  if (limit_name_length && length > 255) return fails(op, "File name too long"), nullptr;
  return should_fail(op, name) != nullptr ? nullptr : dir->node;
}

FakePlatform::Node* FakePlatform::create(Op op, Handle dir_handle, const char16_t* name, Kind kind) {
  Node* dir = at_name(op, dir_handle, name);
  if (dir == nullptr) return nullptr;
  if (child(dir, name) != nullptr) {
    exists_ = true;
    ++exists_failures[op];
    return fails(op, "File exists"), nullptr;
  }
  // A file is made only with its handle; a directory is made, then opened.
  if (kind == Kind::kFile && out_of_handles(op)) return nullptr;
  return new_node(dir, name, kind);
}

FakePlatform::Open* FakePlatform::use(Op op, Handle h, Need need) {
  if (before_call) before_call(op);
  Open* open = lookup(h, need);
  if (open == nullptr) bad_use(op);
  return open;
}

FakePlatform::Open* FakePlatform::lookup(Handle h, Need need) {
  auto it = handles_.find(h.raw);
  if (it == handles_.end()) return nullptr;
  Open& open = it->second;
  const Node* node = open.node;
  switch (need) {
    case Need::kAny: return &open;
    case Need::kStream: return open.stream != nullptr ? &open : nullptr;
    case Need::kFile: return node != nullptr && !node->directory() ? &open : nullptr;
    case Need::kDirectory: return node != nullptr && node->directory() ? &open : nullptr;
    case Need::kNode: return node != nullptr ? &open : nullptr;
  }
  return nullptr;
}

void FakePlatform::bad_use(Op op) {
  calls.push_back(op_name(op) + std::string(" <bad handle>"));
  ++bad_handle_uses;
}

bool FakePlatform::out_of_handles(Op op) {
  if (handles_allowed == 0 || handles_.size() < handles_allowed) return false;
  fails(op, "Too many open files");
  return true;
}

Handle FakePlatform::opened(Op op, Open open) {
  const std::intptr_t id = next_handle_++;
  const Node* node = open.node;
  handles_[id] = std::move(open);
  notify(op_name(op), node);
  return Handle{id};
}

FakePlatform::Node* FakePlatform::child(Node* dir, const std::u16string& name) {
  auto it = dir->children.find(key(name));
  return it == dir->children.end() ? nullptr : it->second.get();
}

FileIdentity FakePlatform::identity_of(const Node* node) const {
  return FileIdentity{1, node->hard_of != nullptr ? node->hard_of->id : node->id};
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

// --- Platform ---

std::uint32_t FakePlatform::arg_to_name(int i, char16_t* out, std::uint32_t capacity) {
  return path_to_utf16(args[i].c_str(), out, capacity);
}

Handle FakePlatform::open_start_dir() {
  call(Op::kOpenStartDir);
  if (should_fail(Op::kOpenStartDir, u"")) return Handle::none();
  return opened(Op::kOpenStartDir, Open{".", nullptr, start});
}

// The user named the target: a link to it is followed.
Handle FakePlatform::open_target(int i) {
  call(Op::kOpenTarget, args[i]);
  if (should_fail(Op::kOpenTarget, u16(args[i]))) return Handle::none();
  Node* target = find(u16(args[i]));
  while (target != nullptr && target->kind == Kind::kLink) target = target->link;
  if (target == nullptr) return fails(Op::kOpenTarget, "No such file or directory"), Handle::none();
  if (!target->directory()) return fails(Op::kOpenTarget, "Not a directory"), Handle::none();
  return opened(Op::kOpenTarget, Open{args[i], nullptr, target});
}

Handle FakePlatform::open_stream(const char16_t* path) {
  call(Op::kOpenStream, utf8(path));
  if (should_fail(Op::kOpenStream, path)) return Handle::none();
  auto it = streams_.find(path);
  if (it == streams_.end()) return fails(Op::kOpenStream, "No such file or directory"), Handle::none();
  return opened(Op::kOpenStream, Open{utf8(path), &it->second});
}

// The user named the path: links on the way are followed.
Handle FakePlatform::open_parent(const char16_t* path16, const char16_t** last) {
  const std::u16string path = path16;
  call(Op::kOpenParent, utf8(path));
  if (should_fail(Op::kOpenParent, path)) return Handle::none();
  const std::size_t slash = path.rfind(u'/');
  *last = path16 + (slash == std::u16string::npos ? 0 : slash + 1);
  const std::u16string dir_part = slash == std::u16string::npos ? u"" : path.substr(0, slash);
  Node* dir = path.starts_with(u"/") ? &root : start;
  for (std::size_t begin = 0; begin < dir_part.size();) {
    const std::size_t end = std::min(dir_part.find(u'/', begin), dir_part.size());
    if (end > begin) dir = child(dir, dir_part.substr(begin, end - begin));
    while (dir != nullptr && dir->kind == Kind::kLink) dir = dir->link;
    if (dir == nullptr) return fails(Op::kOpenParent, "No such file or directory"), Handle::none();
    if (!dir->directory()) return fails(Op::kOpenParent, "Not a directory"), Handle::none();
    begin = end + 1;
  }
  return opened(Op::kOpenParent, Open{dir_part.empty() ? "." : utf8(dir_part), nullptr, dir});
}

Handle FakePlatform::create_file(Handle dir, const char16_t* name) {
  Node* node = create(Op::kCreateFile, dir, name, Kind::kFile);
  if (node == nullptr) return Handle::none();
  // The first "$errors" made is the log, or the first "$errors.<pid>.tmp":
  // the restore makes it under that name and renames it.
  const bool is_log = !log_created_ && (node->name == u"$errors" ||
                                        utf8(node->name) == "$errors." + std::to_string(pid) + ".tmp");
  log_created_ = log_created_ || is_log;
  log_placed_ = log_placed_ || (is_log && node->name == u"$errors");
  return opened(Op::kCreateFile, Open{utf8(name), nullptr, node, is_log});
}

// Made, then opened: the open may fail on its own (out of handles).
Handle FakePlatform::make_dir(Handle dir, const char16_t* name, bool* made) {
  Node* node = create(Op::kMakeDir, dir, name, Kind::kDirectory);
  *made = node != nullptr;
  if (node == nullptr || should_fail(Op::kOpenMadeDir, name) || out_of_handles(Op::kOpenMadeDir)) return Handle::none();
  return opened(Op::kMakeDir, Open{utf8(name), nullptr, node});
}

// The entry an open by name reaches: none when it is missing or a link,
// which is never followed (POSIX opens with O_NOFOLLOW, Windows opens the
// reparse point itself and finds it is not a plain entry).
FakePlatform::Node* FakePlatform::to_open(Op op, Handle dir_handle, const char16_t* name) {
  Node* dir = at_name(op, dir_handle, name);
  if (dir == nullptr) return nullptr;
  Node* node = child(dir, name);
  if (node == nullptr) return fails(op, "No such file or directory"), nullptr;
  if (node->kind == Kind::kLink) return fails(op, "Too many levels of symbolic links"), nullptr;
  return out_of_handles(op) ? nullptr : node;
}

Handle FakePlatform::open_dir(Handle dir_handle, const char16_t* name) {
  Node* node = to_open(Op::kOpenDir, dir_handle, name);
  if (node == nullptr) return Handle::none();
  if (!node->directory()) return fails(Op::kOpenDir, "Not a directory"), Handle::none();
  return opened(Op::kOpenDir, Open{utf8(name), nullptr, node});
}

Handle FakePlatform::open_file_read(Handle dir_handle, const char16_t* name) {
  Node* node = to_open(Op::kOpenFileRead, dir_handle, name);
  if (node == nullptr) return Handle::none();
  if (node->directory()) return fails(Op::kOpenFileRead, "Is a directory"), Handle::none();
  Open open{utf8(name), nullptr, node};
  open.reading = true;
  return opened(Op::kOpenFileRead, std::move(open));
}

// The word as set_attr left it, or the plain one; every bit kept.
bool FakePlatform::describe_open(Handle h, OpenState* out) {
  Open* open = use(Op::kDescribeOpen, h, Need::kNode);
  if (open == nullptr) return false;
  calls.push_back("describe_open " + open->label);
  if (should_fail(Op::kDescribeOpen, open->node->name)) return false;
  const Node& node = *open->node;
  *out = OpenState{};
  out->directory = node.directory();
  out->size = node.directory() ? 0 : node.size;
  out->write_time = filetime_to_unix(node.write);
  out->attributes = node.attr_set ? node.attr : (node.directory() ? 0x10 : 0x20);
  out->attributes_kept = 0xFFFF;
  return true;
}

Handle FakePlatform::open_listing(Handle dir_handle) {
  Open* dir = use(Op::kOpenListing, dir_handle, Need::kDirectory);
  if (dir == nullptr) return Handle::none();
  calls.push_back("open_listing " + dir->label);
  if (should_fail(Op::kOpenListing, dir->node->name) || out_of_handles(Op::kOpenListing)) return Handle::none();
  Open listing{dir->label, nullptr, dir->node};
  for (const auto& [key, node] : dir->node->children) listing.listing.push_back(node->name);
  return opened(Op::kOpenListing, std::move(listing));
}

Listed FakePlatform::next_listed(Handle h, char16_t* name, std::uint32_t capacity) {
  Open* open = use(Op::kNextListed, h, Need::kDirectory);
  if (open == nullptr) return Listed::kFailed;
  if (should_fail(Op::kNextListed, open->node->name)) return Listed::kFailed;
  if (open->position >= open->listing.size()) return Listed::kEnd;
  const std::u16string& next = open->listing[open->position++];
  if (next.size() + 1 > capacity) {
    name[0] = 0;
  } else {
    std::copy(next.begin(), next.end(), name);
    name[next.size()] = 0;
  }
  return Listed::kName;
}

bool FakePlatform::inspect(Handle dir_handle, const char16_t* name, EntryInfo* info) {
  Node* dir = at_name(Op::kInspect, dir_handle, name);
  if (dir == nullptr) return false;
  const Node* node = child(dir, name);
  *info = EntryInfo{};
  if (node != nullptr) {
    const Node& file = node->hard_of != nullptr ? *node->hard_of : *node;
    info->kind = node->kind;
    info->identity = identity_of(node);
    info->attributes = node->attr_set || node->attr != 0 ? node->attr : node->directory() ? 0x10 : 0x20;
    info->shown_as_itself = !node->unverified;
    info->size = file.size;
    info->write_time = filetime_to_unix(file.write);
    info->links = file.links;
    info->attributes_told = rules == NameRules::kWindows ? 0xFFFF : 0x01;
  }
  notify("inspect", node);
  return true;
}

// The name goes, never what a link points at; another name of the same
// file keeps it.
bool FakePlatform::remove_file(Handle dir_handle, const char16_t* name) {
  Node* dir = at_name(Op::kRemoveFile, dir_handle, name);
  if (dir == nullptr) return false;
  auto it = dir->children.find(key(name));
  if (it == dir->children.end()) return fails(Op::kRemoveFile, "No such file or directory");
  if (it->second->directory()) return fails(Op::kRemoveFile, "Is a directory");
  removed_.push_back(std::move(it->second));
  dir->children.erase(it);
  notify("remove_file", removed_.back().get());
  return true;
}

// What had the new name goes, a link itself; a directory stays and fails it.
bool FakePlatform::rename_file(Handle dir_handle, const char16_t* from, const char16_t* to) {
  Node* dir = at_name(Op::kRenameFile, dir_handle, to);
  calls.back() = "rename_file " + utf8(from) + " " + utf8(to);
  if (dir == nullptr) return false;
  auto it = dir->children.find(key(from));
  if (it == dir->children.end()) return fails(Op::kRenameFile, "No such file or directory");
  Node* existing = child(dir, to);
  if (existing == it->second.get()) return true;
  if (existing != nullptr && existing->directory()) return fails(Op::kRenameFile, "Is a directory");
  std::unique_ptr<Node> moved = std::move(it->second);
  dir->children.erase(it);
  if (existing != nullptr) {
    auto old = dir->children.find(key(to));
    removed_.push_back(std::move(old->second));
    dir->children.erase(old);
  }
  moved->name = to;
  for (auto& [id, open] : handles_) {
    if (open.node == moved.get()) open.label = utf8(to);
  }
  // Whatever now has the log's first name (the log, or what was swapped in
  // for it) was put in place: the run's start-up is over.
  log_placed_ = log_placed_ || (log_created_ && utf8(from) == "$errors." + std::to_string(pid) + ".tmp");
  Node* node = moved.get();
  dir->children[key(to)] = std::move(moved);
  notify("rename_file", node);
  return true;
}

bool FakePlatform::identity(Handle h, FileIdentity* out) {
  Open* open = use(Op::kIdentity, h, Need::kAny);
  if (open == nullptr) return false;
  calls.push_back("identity " + open->label);
  if (should_fail(Op::kIdentity, u16(open->label))) return false;
  const Node* node = open->node != nullptr ? open->node : open->stream->file;
  *out = node != nullptr ? identity_of(node) : FileIdentity{2, open->stream->id};
  notify("identity", node);
  return true;
}

Shown FakePlatform::shows_entry(Handle, const char16_t*, Handle entry) {
  const Node* node = node_of(entry);
  return node != nullptr && node->unverified ? Shown::kOther : Shown::kItself;
}

// Serves what the stream holds, at most one chunk a turn unless full.
std::uint32_t FakePlatform::take(Open& open, void* buffer, std::uint32_t count, bool full, Op op) {
  const std::string shown = "read " + open.label + " " + std::to_string(count) + " -> ";
  if (should_fail(op, u16(open.label))) {
    calls.push_back(shown + "failed");
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
  calls.push_back(shown + std::to_string(got));
  return got;
}

std::uint32_t FakePlatform::read(Handle h, void* buffer, std::uint32_t count) {
  Open* file = lookup(h, Need::kFile);
  if (file != nullptr && file->reading) {
    call(Op::kRead);
    if (should_fail(Op::kRead, file->node->name)) return kReadFailed;
    const std::uint64_t left = file->node->body.size() - std::min<std::uint64_t>(file->position, file->node->body.size());
    const std::uint32_t got = static_cast<std::uint32_t>(std::min<std::uint64_t>(count, left));
    std::memcpy(buffer, file->node->body.data() + file->position, got);
    file->position += got;
    return got;
  }
  Open* open = use(Op::kRead, h, Need::kStream);
  if (open == nullptr) return kReadFailed;
  const std::uint32_t got = take(*open, buffer, count, false, Op::kRead);
  notify("read", nullptr);
  return got;
}

// Writes to the log are kept apart and not recorded as calls.
bool FakePlatform::put(Open& open, const void* data, std::uint32_t count, Op op) {
  const char* bytes = static_cast<const char*>(data);
  const Failure* failure = should_fail(op, open.node->name);
  const std::uint32_t arriving = failure == nullptr ? count : std::min(failure->partial, count);
  if (open.is_log) {
    log_attempted_.append(bytes, count);
    log_.append(bytes, arriving);
    log_failed = log_failed || failure != nullptr;
    notify("log_write", nullptr);
    return failure == nullptr;
  }
  calls.push_back("write " + open.label + " " + std::to_string(count) + (failure ? " -> failed" : ""));
  if (keep_bodies) open.node->body.append(bytes, arriving);
  open.node->size += arriving;
  if (failure != nullptr) open.node->write_failed = true;
  notify(failure != nullptr ? "write failed" : "write", open.node);
  return failure == nullptr;
}

bool FakePlatform::write(Handle h, const void* data, std::uint32_t count) {
  Open* open = use(Op::kWrite, h, Need::kFile);
  return open != nullptr && put(*open, data, count, Op::kWrite);
}

// Takes the block as read_full does, then writes it; a failing write still
// leaves the whole block taken.
CopyResult FakePlatform::copy_block(Handle from, Handle to, void* buffer, std::uint32_t count) {
  Open* source = use(Op::kCopyBlock, from, Need::kStream);
  Open* dest = source != nullptr ? lookup(to, Need::kFile) : nullptr;
  if (source != nullptr && dest == nullptr) bad_use(Op::kCopyBlock);
  if (dest == nullptr) return CopyResult{0, false};
  CopyResult result;
  result.taken = take(*source, buffer, count, true, Op::kCopyRead);
  notify("read", nullptr);
  if (result.taken > 0) result.written = put(*dest, buffer, result.taken, Op::kCopyBlock);
  return result;
}

bool FakePlatform::reads_at_offsets(Handle h) {
  return streams_read_at_offsets && lookup(h, Need::kStream) != nullptr;
}

// As read and copy_block from the offset: a reader at offsets never uses
// the position these leave.
std::uint32_t FakePlatform::read_at(Handle h, std::uint64_t offset, void* buffer, std::uint32_t count) {
  Open* open = use(Op::kRead, h, Need::kStream);
  if (open == nullptr) return kReadFailed;
  open->position = std::min(offset, open->stream->size);
  const std::uint32_t got = take(*open, buffer, count, true, Op::kRead);
  notify("read", nullptr);
  return got;
}

CopyResult FakePlatform::copy_at(Handle from, std::uint64_t offset, Handle to, void* buffer, std::uint32_t count) {
  if (Open* source = lookup(from, Need::kStream)) source->position = std::min(offset, source->stream->size);
  return copy_block(from, to, buffer, count);
}

bool FakePlatform::close(Handle h) {
  if (!h.valid()) return true;
  Open* found = use(Op::kClose, h, Need::kAny);
  if (found == nullptr) return false;
  const Open open = *found;
  handles_.erase(h.raw);
  const bool failing = should_fail(Op::kClose, u16(open.label)) != nullptr;
  calls.push_back("close " + open.label + (failing ? " -> failed" : ""));
  log_failed = log_failed || (failing && open.is_log);
  notify(failing ? "close failed" : "close", open.node);
  return !failing;
}

void FakePlatform::set_times(Handle h, FileTime creation, FileTime access, FileTime write) {
  Open* open = use(Op::kSetTimes, h, Need::kNode);
  if (open == nullptr) return;
  calls.push_back("set_times " + open->label);
  if (should_fail(Op::kSetTimes, open->node->name)) return;
  open->node->creation = creation;
  open->node->access = access;
  open->node->write = write;
  open->node->times_set = true;
  notify("set_times", open->node);
}

void FakePlatform::set_attr(Handle h, std::uint16_t attr) {
  Open* open = use(Op::kSetAttr, h, Need::kNode);
  if (open == nullptr) return;
  char hex[8];
  std::snprintf(hex, sizeof hex, "%04X", attr);
  calls.push_back("set_attr " + open->label + " " + hex);
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
  calls.push_back("tick " + std::to_string(tick_value));
  tick_value += tick_step;
  return tick_value - tick_step;
}

std::uint64_t FakePlatform::cycles() {
  cycle_value += cycle_step;
  return cycle_value - cycle_step;
}

bool FakePlatform::path_is_directory(const char16_t* path) {
  std::u16string p = path;
  while (!p.empty() && p.back() == u'/') p.pop_back();
  const Node* node = p.empty() ? start : find(p);
  return node != nullptr && node->directory();
}

bool FakePlatform::start_thread(void (*body)(void*), void* arg, ThreadRef* out) {
  call(Op::kStartThread);
  if (should_fail(Op::kStartThread, u"")) return false;
  threads_.push_back(std::make_unique<std::thread>(body, arg));
  out->raw = static_cast<std::intptr_t>(threads_.size());
  return true;
}

void FakePlatform::join_thread(ThreadRef thread) { threads_[static_cast<std::size_t>(thread.raw) - 1]->join(); }
