// The end of a file's restore, one way for the reading thread and the
// writers alike: the body, then the attribute word, then the times, then
// the close, all through the handle opened for writing. A file not written
// whole keeps neither its word nor its times, so it never passes for a
// complete one. `named()` gives the log its lines go to, with the file
// named (a writer names it only when a line is due).
#pragma once

#include <cstdint>

#include "platform/platform.h"
#include "report/error_log.h"
#include "report/failure.h"

// One block of a body: what was asked for and what the move did.
struct BodyStep {
  std::uint32_t want = 0;
  CopyResult moved;
};

// Moves a body of `size` bytes into file block by block: step(to, rest)
// moves the next block of at most `rest` bytes into `to` (none: only reads
// it). After a failed write the rest is only read, so the content line
// tells what the stream lacked; a block taken short ends the body (the
// stream ended). Returns the bytes missing; *written turns false on the
// failed write, which is logged.
template <class Step, class Named>
std::uint64_t move_body(Platform& platform, std::uint64_t size, std::uint16_t attr, Handle file, bool* written,
                        Step step, Named named) {
  std::uint64_t done = 0;
  while (done < size) {
    const BodyStep s = step(*written ? file : Handle::none(), size - done);
    if (*written && !s.moved.written) {
      named().write_failed(attr, size, Failure::of_last_call(platform));
      *written = false;
    }
    done += s.moved.taken;
    if (s.moved.taken != s.want) break;
  }
  return size - done;
}

// After the body: the content line for what the stream lacked, then word,
// times and close (file may be none: only the content line).
template <class Named>
void finish_file(Platform& platform, Handle file, std::uint16_t attr, std::uint64_t size, FileTime creation,
                 FileTime write, bool written, std::uint64_t missing, Named named) {
  if (missing > 0) named().content_short(attr, size, missing);
  if (!file.valid()) return;
  if (written) {
    platform.set_attr(file, attr);
    platform.set_times(file, creation, write, write);
  }
  if (!platform.close(file) && written) named().write_failed(attr, size, Failure::of_last_call(platform));
}
