// A whole restorer over the fake platform, and a way to write dumps for it.
#pragma once

#include <memory>
#include <string>

#include "dump/fs_node.h"
#include "dump/name_codec.h"
#include "dump/name_reader.h"
#include "fake_platform.h"
#include "inline_executor.h"
#include "main/command_line.h"
#include "restore/restorer.h"

using Op = FakePlatform::Op;

inline std::string counts_text(int dirs, int files, std::uint64_t bytes) {
  return "dirs=" + std::to_string(dirs) + " files=" + std::to_string(files) + " bytes=" + std::to_string(bytes);
}

struct TestDump {
  std::string nodes, names, content;
  int dirs = 0, files = 0;  // records of each kind

  TestDump& dir(std::uint8_t depth, const std::u16string& name, std::uint16_t attr = 0x10, FileTime creation = 0,
                FileTime write = 0) {
    return node(depth, name, 0, attr, creation, write);
  }
  TestDump& file(std::uint8_t depth, const std::u16string& name, const std::string& body,
                 std::uint16_t attr = 0x20, FileTime creation = 0, FileTime write = 0) {
    content += body;
    return node(depth, name, body.size(), attr, creation, write);
  }
  TestDump& node(std::uint8_t depth, const std::u16string& name, std::uint64_t size, std::uint16_t attr,
                 FileTime creation = 0, FileTime write = 0) {
    ++(attr & 0x10 ? dirs : files);
    FsNode n;
    n.size = size;
    n.depth = depth;
    n.attr = attr;
    n.creation_time = creation;
    n.write_time = write;
    std::uint8_t bytes[kFsNodeBytes];
    encode_fs_node(n, bytes);
    nodes.append(reinterpret_cast<const char*>(bytes), sizeof bytes);
    names += encoded(name) + "\n";
    return *this;
  }
  // Every record counted and every body taken whole, as
  // TestRestorer::counted() words it.
  std::string counts() const { return counts_text(dirs, files, content.size()); }
  static std::string encoded(const std::u16string& name) {
    std::string out(name.size() * 3 + 1, '\0');
    out.resize(encode_name(name.c_str(), out.data()));
    return out;
  }
};

// The program's own wiring over the fake platform.
struct TestRestorer {
  FakePlatform fake;
  Restorer restorer{fake};
  RestoreCounters& counters = restorer.counters;
  DirCursor& cursor = restorer.cursor;
  RestoreDriver& driver = restorer.driver;

  InlineExecutor executor;
  std::unique_ptr<WriterPool> pool;

  static std::unique_ptr<TestRestorer> make() { return std::make_unique<TestRestorer>(); }
  // Files in new directories go to writers; their batches run on this
  // thread, newest first, as writers might finish them.
  void with_writers() {
    pool = std::make_unique<WriterPool>(fake, &executor);
    driver.use_pool(pool.get(), 0);
  }

  // Restores as the program does with the fake's arguments.
  int run_program() {
    const CommandLine line = parse_command_line(fake);
    RestoreOptions options;
    if (line.errors.arg >= 0) {
      log_path.assign(32768, u'\0');
      arg_text(fake, line.errors, log_path.data(), 32768);
      options.log_path = log_path.c_str();
    }
    if (line.report.arg >= 0) {
      report_path.assign(32768, u'\0');
      arg_text(fake, line.report, report_path.data(), 32768);
      options.report = report_path.c_str();
    }
    return driver.run(line.base_arg, line.target_arg, options);
  }
  std::u16string log_path;     // --errors
  std::u16string report_path;  // --report

  // Serves the dump from the starting directory, restores into "target".
  int run(const TestDump& dump, std::vector<std::string> args = {"", "target"}) {
    fake.add_dump(dump.nodes, dump.names, dump.content, std::u16string(args[0].begin(), args[0].end()));
    fake.mkdir_p(u"target");
    fake.args = std::move(args);
    return run_program();
  }

  // What the run counted, as TestDump::counts() words a whole dump.
  std::string counted() const {
    return counts_text(counters.dirs, counters.files, counters.outbytes);
  }

  // The tree under path as text, depth first: "name/" for a directory and
  // "name=body" for a file (a link: "name@"), then "*" when its attributes
  // were set and "!" when its times were; joined by ", ".
  std::string tree(const std::u16string& path = u"target") { return tree_of(*fake.find(path)); }
  static std::string tree_of(const FakePlatform::Node& dir, const std::string& prefix = "") {
    std::string out;
    for (const auto& [key, node] : dir.children) {
      const std::string path = prefix + FakePlatform::utf8(node->name);
      out += (out.empty() ? "" : ", ") + path;
      out += node->directory() ? "/" : node->kind == FakePlatform::Kind::kLink ? "@" : "=" + node->body;
      out += std::string(node->attr_set ? "*" : "") + (node->times_set ? "!" : "");
      if (node->directory() && !node->children.empty()) out += ", " + tree_of(*node, path + "/");
    }
    return out;
  }
};
