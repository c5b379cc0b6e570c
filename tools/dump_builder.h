// Writes dumps: the node, name and content streams under one base path.
// Entries are appended in pre-order; the raw_* calls write bytes as given so
// tests can build broken and hostile dumps.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "dump/fs_node.h"

class DumpBuilder {
 public:
  // Creates (truncates) basepath + "$content", "$fsnames", "$fsnodes", in
  // the order fsrestore opens them, since opening a FIFO waits for its reader.
  explicit DumpBuilder(const std::string& basepath);
  ~DumpBuilder();  // closes the streams
  DumpBuilder(const DumpBuilder&) = delete;
  DumpBuilder& operator=(const DumpBuilder&) = delete;

  // True while every stream opened and every write so far succeeded.
  bool streams_ok() const { return ok_; }
  // Flushes and closes the streams now (the destructor does it otherwise);
  // returns false when any write or close failed.
  bool close();
  // The first stream whose opening, write or close failed, and the error;
  // nullptr while none has.
  const char* failed_stream() const { return failed_stream_; }
  int failed_errno() const { return failed_errno_; }
  // Ends an entry: streams that are pipes are flushed so a reader progresses
  // entry by entry; regular files keep their buffers.
  void end_entry();

  // A directory record (attr gets the directory bit) and its name line.
  void dir(std::uint8_t depth, const std::u16string& name, std::uint16_t attr = 0x10,
           FileTime creation = 0, FileTime write = 0);
  // A file record, its name line and its body.
  void file(std::uint8_t depth, const std::u16string& name, const std::string& body,
            std::uint16_t attr = 0x20, FileTime creation = 0, FileTime write = 0);
  // A file record and name line only; the body is appended with content().
  void file_header(std::uint8_t depth, const std::u16string& name, std::uint64_t size,
                   std::uint16_t attr = 0x20, FileTime creation = 0, FileTime write = 0);
  void content(const void* data, std::size_t size);

  void raw_node(const FsNode& node);
  void raw_name_line(const std::string& bytes);  // no line feed is added
  void raw_nodes_bytes(const std::string& bytes);

  // Name lines in the dump's encoding, with the line feed.
  static std::string name_line(const std::u16string& name);
  // UTF-8 to UTF-16 (proper: characters beyond the BMP become surrogate pairs).
  static std::u16string utf16(const std::string& utf8);
  // A FILETIME from Unix seconds (negative before 1970) plus 100 ns ticks.
  static FileTime filetime(std::int64_t unix_seconds, std::uint32_t ticks = 0);

 private:
  std::FILE* nodes_ = nullptr;
  std::FILE* names_ = nullptr;
  std::FILE* content_ = nullptr;
  bool ok_ = false;
  bool write_failed_ = false;
  bool pipes_ = false;
  const char* failed_stream_ = nullptr;
  int failed_errno_ = 0;

  void put(std::FILE* f, const void* data, std::size_t size);
  void failed(std::FILE* f);
};
