#include "fake_platform.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "platform/utf8_path.h"

namespace {

std::u16string u16(const std::string& bytes) {
  std::u16string out(bytes.size() + 1, u'\0');
  out.resize(path_to_utf16(bytes.c_str(), out.data(), static_cast<std::uint32_t>(out.size())) - 1);
  return out;
}

}  // namespace

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
    auto& child = at->children[part];
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
  auto& node = dir->children[leaf];
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
    auto it = at->children.find(path.substr(start, end - start));
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
    if (f.times > 0) --f.times;
    last_error_ = f.text;
    return true;
  }
  return false;
}

bool FakePlatform::refuse(const char16_t* name) {
  if (is_valid_entry_name(name, rules)) return false;
  last_error_ = "Invalid argument";
  return true;
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
  return open_handle(open);
}

Handle FakePlatform::create_log() {
  record("create_log");
  if (should_fail("create_log", u"")) return Handle::none();
  Open open;
  open.label = "$errors";
  open.is_log = true;
  return open_handle(open);
}

Handle FakePlatform::create_file(const char16_t* name) {
  record("create_file " + utf8(name));
  if (refuse(name) || should_fail("create_file", name)) return Handle::none();
  auto& slot = cwd->children[name];
  if (slot && slot->directory) {
    last_error_ = "Is a directory";
    return Handle::none();
  }
  slot = std::make_unique<Node>();
  slot->name = name;
  slot->parent = cwd;
  Open open;
  open.label = utf8(name);
  open.node = slot.get();
  return open_handle(open);
}

Handle FakePlatform::open_dir(const char16_t* name) {
  record("open_dir " + utf8(name));
  if (refuse(name) || should_fail("open_dir", name)) return Handle::none();
  auto it = cwd->children.find(name);
  if (it == cwd->children.end() || !it->second->directory) {
    last_error_ = "No such file or directory";
    return Handle::none();
  }
  Open open;
  open.label = utf8(name);
  open.node = it->second.get();
  return open_handle(open);
}

std::uint32_t FakePlatform::read(Handle h, void* buffer, std::uint32_t count) {
  Open* open = lookup(h);
  if (open == nullptr || open->stream == nullptr) {
    record("read <bad handle>");
    return 0;
  }
  const std::uint32_t got = should_fail("read", u16(open->label))
                                ? 0
                                : static_cast<std::uint32_t>(std::min<std::uint64_t>(
                                      count, open->stream->size - open->position));
  const Stream& s = *open->stream;
  if (s.fill) {
    s.fill(open->position, static_cast<std::uint8_t*>(buffer), got);
  } else {
    std::memcpy(buffer, s.bytes.data() + open->position, got);
  }
  open->position += got;
  record("read " + open->label + " " + std::to_string(count) + " -> " + std::to_string(got));
  return got;
}

void FakePlatform::write(Handle h, const void* data, std::uint32_t count) {
  Open* open = lookup(h);
  if (open == nullptr) {
    record("write <bad handle>");
    return;
  }
  if (open->is_log) {
    log_.append(static_cast<const char*>(data), count);
    return;
  }
  record("write " + open->label + " " + std::to_string(count));
  if (open->node == nullptr || should_fail("write", open->node->name)) return;
  if (keep_bodies) open->node->body.append(static_cast<const char*>(data), count);
  open->node->size += count;
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
    return;
  }
  record("close " + it->second.label);
  handles_.erase(it);
}

bool FakePlatform::make_dir(const char16_t* name) {
  record("make_dir " + utf8(name));
  if (refuse(name) || should_fail("make_dir", name)) return false;
  auto& slot = cwd->children[name];
  if (slot) {
    last_error_ = "File exists";
    return false;
  }
  slot = std::make_unique<Node>();
  slot->name = name;
  slot->directory = true;
  slot->parent = cwd;
  return true;
}

void FakePlatform::set_attr(const char16_t* name, std::uint16_t attr) {
  char hex[8];
  std::snprintf(hex, sizeof hex, "%04X", attr);
  record("set_attr " + utf8(name) + " " + hex);
  if (refuse(name)) return;
  auto it = cwd->children.find(name);
  if (it != cwd->children.end()) it->second->attr = attr;
}

void FakePlatform::set_times(Handle h, FileTime creation, FileTime access, FileTime write) {
  Open* open = lookup(h);
  record("set_times " + (open ? open->label : std::string("<bad handle>")));
  if (open == nullptr || open->node == nullptr) return;
  open->node->creation = creation;
  open->node->access = access;
  open->node->write = write;
  open->node->times_set = true;
}

bool FakePlatform::enter_dir(const char16_t* name) {
  record("enter_dir " + utf8(name));
  if (refuse(name) || should_fail("enter_dir", name)) return false;
  auto it = cwd->children.find(name);
  if (it == cwd->children.end()) {
    last_error_ = "No such file or directory";
    return false;
  }
  if (!it->second->directory) {
    last_error_ = "Not a directory";
    return false;
  }
  cwd = it->second.get();
  return true;
}

bool FakePlatform::leave_dir() {
  record("leave_dir");
  if (should_fail("leave_dir", u"")) return false;
  if (cwd->parent != nullptr) cwd = cwd->parent;
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
