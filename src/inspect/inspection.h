// Looking into a dump without restoring it (--list, --check, --compare): the parts
// wired together over one platform, held in static storage by the program.
#pragma once

#include "dump/name_reader.h"
#include "inspect/dump_walk.h"
#include "platform/platform.h"
#include "report/line_writer.h"

struct Inspection {
  explicit Inspection(Platform& platform)
      : out(platform, LineSink::kStandardOutput),
        err(platform, LineSink::kStandardError),
        names(platform),
        walk(platform, names, err) {}

  BufferedLineWriter<16384> out;
  BufferedLineWriter<16384> err;
  NameReader names;
  DumpWalk walk;
};
