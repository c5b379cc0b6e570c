#include "dump_builder.h"

#include <sys/stat.h>

#include <cerrno>

DumpBuilder::DumpBuilder(const std::string& basepath) {
  content_ = std::fopen((basepath + "$content").c_str(), "wb");
  names_ = content_ ? std::fopen((basepath + "$fsnames").c_str(), "wb") : nullptr;
  nodes_ = names_ ? std::fopen((basepath + "$fsnodes").c_str(), "wb") : nullptr;
  ok_ = nodes_ && names_ && content_;
  if (!ok_) {
    failed_errno_ = errno;
    failed_stream_ = !content_ ? "$content" : !names_ ? "$fsnames" : "$fsnodes";
  }
  for (std::FILE* f : {nodes_, names_, content_}) {
    struct stat st;
    if (f && fstat(fileno(f), &st) == 0 && !S_ISREG(st.st_mode)) pipes_ = true;
  }
}

void DumpBuilder::failed(std::FILE* f) {
  if (!write_failed_) {
    failed_errno_ = errno;
    failed_stream_ = f == nodes_ ? "$fsnodes" : f == names_ ? "$fsnames" : "$content";
  }
  write_failed_ = true;
}

void DumpBuilder::end_entry() {
  if (!pipes_) return;
  for (std::FILE* f : {nodes_, names_, content_}) {
    if (f && std::fflush(f) != 0) failed(f);
  }
}

DumpBuilder::~DumpBuilder() { close(); }

bool DumpBuilder::close() {
  for (std::FILE** f : {&nodes_, &names_, &content_}) {
    if (*f && (std::fflush(*f) != 0 || std::ferror(*f))) failed(*f);
    if (*f && std::fclose(*f) != 0) failed(*f);
    *f = nullptr;
  }
  return ok_ && !write_failed_;
}

void DumpBuilder::put(std::FILE* f, const void* data, std::size_t size) {
  if (!f) {
    write_failed_ = true;
    return;
  }
  if (size && std::fwrite(data, 1, size, f) != size) failed(f);
}

void DumpBuilder::dir(std::uint8_t depth, const std::u16string& name, std::uint16_t attr,
                      FileTime creation, FileTime write) {
  FsNode node;
  node.depth = depth;
  node.attr = static_cast<std::uint16_t>(attr | kAttrDirectory);
  node.creation_time = creation;
  node.write_time = write;
  raw_node(node);
  raw_name_line(name_line(name));
}

void DumpBuilder::file(std::uint8_t depth, const std::u16string& name, const std::string& body,
                       std::uint16_t attr, FileTime creation, FileTime write) {
  file_header(depth, name, body.size(), attr, creation, write);
  content(body.data(), body.size());
}

void DumpBuilder::file_header(std::uint8_t depth, const std::u16string& name, std::uint64_t size,
                              std::uint16_t attr, FileTime creation, FileTime write) {
  FsNode node;
  node.size = size;
  node.depth = depth;
  node.attr = attr;
  node.creation_time = creation;
  node.write_time = write;
  raw_node(node);
  raw_name_line(name_line(name));
}

void DumpBuilder::content(const void* data, std::size_t size) { put(content_, data, size); }

void DumpBuilder::raw_node(const FsNode& node) {
  std::uint8_t bytes[kFsNodeBytes];
  encode_fs_node(node, bytes);
  put(nodes_, bytes, sizeof bytes);
}

void DumpBuilder::raw_name_line(const std::string& bytes) { put(names_, bytes.data(), bytes.size()); }

void DumpBuilder::raw_nodes_bytes(const std::string& bytes) { put(nodes_, bytes.data(), bytes.size()); }

std::string DumpBuilder::name_line(const std::u16string& name) {
  // Every unit on its own, surrogates included, in the UTF-8 bit layout.
  std::string out;
  for (char16_t c : name) {
    unsigned u = c;
    if (u < 0x80) {
      out += static_cast<char>(u);
    } else if (u < 0x800) {
      out += static_cast<char>(0xC0 | u >> 6);
      out += static_cast<char>(0x80 | (u & 0x3F));
    } else {
      out += static_cast<char>(0xE0 | u >> 12);
      out += static_cast<char>(0x80 | (u >> 6 & 0x3F));
      out += static_cast<char>(0x80 | (u & 0x3F));
    }
  }
  out += '\n';
  return out;
}

std::u16string DumpBuilder::utf16(const std::string& utf8) {
  std::u16string out;
  std::size_t i = 0;
  while (i < utf8.size()) {
    unsigned char b = static_cast<unsigned char>(utf8[i]);
    int extra = b < 0x80 ? 0 : b >= 0xF0 ? 3 : b >= 0xE0 ? 2 : b >= 0xC0 ? 1 : 0;
    std::uint32_t cp = extra == 0 ? b : extra == 1 ? (b & 0x1F) : extra == 2 ? (b & 0x0F) : (b & 0x07);
    ++i;
    for (int k = 0; k < extra && i < utf8.size(); ++k, ++i)
      cp = cp << 6 | (static_cast<unsigned char>(utf8[i]) & 0x3F);
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out += static_cast<char16_t>(0xD800 | cp >> 10);
      out += static_cast<char16_t>(0xDC00 | (cp & 0x3FF));
    } else {
      out += static_cast<char16_t>(cp);
    }
  }
  return out;
}

FileTime DumpBuilder::filetime(std::int64_t unix_seconds, std::uint32_t ticks) {
  return static_cast<FileTime>(static_cast<std::int64_t>(kFileTimeUnixEpoch) +
                               unix_seconds * static_cast<std::int64_t>(kTicksPerSecond) + ticks);
}
