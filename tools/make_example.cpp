// make_example [DIR]: writes the bundled sample dump to DIR (default
// examples/sample/) as "$fsnodes", "$fsnames" and "$content".
//
// The tree is fixed, so the output is the same byte for byte on every run:
// nested directories, names beyond ASCII (one outside the Basic Multilingual
// Plane), an empty file, a read-only file, hidden and system entries, and a
// text body of some 48 KiB, all with plausible times.
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "dump_builder.h"

namespace {

constexpr std::uint16_t kReadOnly = 0x01, kHidden = 0x02, kSystem = 0x04, kArchive = 0x20;

// A moment in 2023/2024 given as Unix seconds, with a sub-second part.
FileTime at(std::int64_t unix_seconds, std::uint32_t ticks) {
  return DumpBuilder::filetime(unix_seconds, ticks);
}

std::string build_log() {
  std::string s;
  static const char* const steps[] = {"configure", "compile", "link", "test", "package"};
  for (int i = 0; i < 640; ++i) {
    char line[96];
    std::snprintf(line, sizeof line, "[%02d:%02d:%02d] step %-9s unit %04d ... ok\n", 9 + i / 3600,
                  i / 60 % 60, i % 60, steps[i % 5], i * 7 % 1000);
    s += line;
  }
  return s;
}

std::u16string u(const char* utf8) { return DumpBuilder::utf16(utf8); }

}  // namespace

int main(int argc, char** argv) {
  std::string dir = argc > 1 ? argv[1] : "examples/sample/";
  if (!dir.empty() && dir.back() != '/') dir += '/';
  if (mkdir(dir.c_str(), 0755) != 0 && errno != EEXIST) {
    std::fprintf(stderr, "make_example: cannot create %s: %s\n", dir.c_str(), std::strerror(errno));
    return 1;
  }
  DumpBuilder d(dir);
  if (!d.streams_ok()) {
    std::fprintf(stderr, "make_example: cannot write the streams under %s\n", dir.c_str());
    return 1;
  }
  const FileTime created = at(1678787045, 1230000);  // 2023-03-14

  d.dir(0, u"Documents", 0x10, created, at(1709290000, 5550000));
  d.dir(1, u"Reports", 0x10, created, at(1704100000, 1000000));
  d.file(2, u"2023-Q4 summary.txt",
         "Quarter 4 summary\n=================\n\nRevenue up 4 %, costs flat.\n"
         "Next review: 2024-01-15.\n",
         kArchive, at(1704099000, 3330000), at(1704099600, 4440000));
  d.file(2, u"budget.csv", "item,amount\nrent,1200\npower,85\nnetwork,40\n", kArchive | kReadOnly,
         at(1701388800, 0), at(1701475200, 9999999));
  d.dir(1, u"Notes", 0x10, created, at(1708000000, 2500000));
  d.file(2, u("Café menu – naïve.txt"), "Crème brûlée, 6 €\nSmørrebrød, 9 €\n", kArchive,
         at(1707000000, 1), at(1707900000, 7000000));
  d.file(2, u("日本語メモ.txt"), "今日は晴れ。\n明日は雨かもしれない。\n", kArchive,
         at(1707500000, 0), at(1707999999, 1234567));
  d.file(1, u"empty.txt", "", kArchive, at(1690000000, 0), at(1690000000, 0));

  d.dir(0, u"Pictures", 0x10, created, at(1693000000, 6000000));
  d.dir(1, u("Holiday 🌴"), 0x10, at(1692000000, 0), at(1692900000, 8000000));
  d.file(2, u"readme.txt", "Photos from the coast, August 2023.\n", kArchive,
         at(1692100000, 0), at(1692800000, 500));
  d.file(1, u"Thumbs.db", std::string("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8) + std::string(56, '\0'),
         kArchive | kHidden | kSystem, at(1692950000, 0), at(1692990000, 0));

  d.dir(0, u"Projects", 0x10, created, at(1709300000, 1000));
  d.file(1, u"notes.md", "# Projects\n\n- restore tool: write the sample dump\n- keep it small\n",
         kArchive, at(1709200000, 0), at(1709250000, 2500000));
  d.dir(1, u"src", 0x10, at(1709000000, 0), at(1709299000, 3000000));
  d.file(2, u"main.c", "#include <stdio.h>\n\nint main(void) {\n  puts(\"hello\");\n  return 0;\n}\n",
         kArchive, at(1709000100, 0), at(1709100000, 6543210));
  d.file(2, u"build.log", build_log(), kArchive, at(1709290000, 0), at(1709298000, 4000000));

  d.file(0, u"desktop.ini", "[.ShellClassInfo]\r\nIconResource=folder.ico,0\r\n",
         kArchive | kHidden | kSystem, at(1678787045, 0), at(1678787046, 0));
  d.file(0, u"README.txt", "This is the sample tree restored from examples/sample/.\n", kArchive,
         at(1709301000, 0), at(1709302000, 1));
  if (!d.close()) {
    std::fprintf(stderr, "make_example: writing the streams under %s failed\n", dir.c_str());
    return 1;
  }
  return 0;
}
