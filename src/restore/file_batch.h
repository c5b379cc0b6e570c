// What the reading thread hands to the writers: batches of files, each with
// its name, its directory's path (for the lines that name it), its record's
// times and word, and its body, held in the batch or, from a content stream
// read at offsets, where it starts there.
#pragma once

#include <atomic>
#include <cstdint>

#include "dump/buffer_sizes.h"
#include "platform/platform.h"
#include "report/path_text.h"
#include "restore/name_order.h"
#include "writers/batch_queue.h"

constexpr std::uint32_t kBatchEntries = 64;
// 16 batches of 256 KiB: at most 4 MiB of bodies in flight.
constexpr std::uint32_t kBatchBodyBytes = kReadAheadBytes;
// Bodies a batch moves from their offsets: enough to be worth a hand-over,
// few enough that long bodies spread over the writers.
constexpr std::uint64_t kBatchMovedBytes = 4 * kCopyBlockBytes;
// FileJob::from of a body held in the batch.
constexpr std::uint64_t kBodyInBatch = ~std::uint64_t{0};
// Room for one longest name and then some.
constexpr std::uint32_t kBatchNameUnits = kNameUnits + 8192;
// Room for the paths of a batch's directories, each once, for the messages
// that name a file by its path: four of the longest.
constexpr std::uint32_t kBatchPathBytes = 4 * kPathTextBytes;

struct FileJob {
  std::uint8_t lane = 0;  // the writer creates it in its lane's turn
  std::uint32_t ticket = kNoTurn;
  std::int32_t dir = -1;  // the held directory it goes into; -1: none (`opened`)
  std::uint16_t attr = 0;
  FileTime creation = 0;
  FileTime write = 0;
  std::uint64_t size = 0;
  std::uint64_t missing = 0;          // bytes the content stream lacked
  std::uint64_t from = kBodyInBatch;  // where the body starts in the content stream
  Handle opened;                      // made by the reading thread: the writer moves the body only
  std::uint32_t body = 0;             // offset of the body in the batch
  std::uint32_t name = 0;             // offset of the name in the batch
  std::uint32_t record = 0;           // its record, counted from 0
  // Its directory's path in the batch: offset, length, and whether it was cut.
  std::uint32_t path = 0;
  std::uint32_t path_length = 0;
  bool path_cut = false;
};

static_assert(kLanes <= 256, "FileJob::lane holds a lane");

struct Batch {
  // Filled by the reading thread; read by the writer that runs it.
  std::uint32_t count = 0;
  std::uint32_t body_used = 0;
  std::uint32_t name_used = 0;
  std::uint64_t moved_bytes = 0;  // of the bodies moved from their offsets
  std::uint32_t path_used = 0;
  // The directory whose path was copied last (PathText::directory_serial),
  // which the next file of the same directory shares.
  std::uint64_t path_serial = ~std::uint64_t{0};
  // For the last words of an interrupted run: the count once handed out,
  // and the jobs finished, in order.
  std::atomic<std::uint32_t> handed{0};
  std::atomic<std::uint32_t> finished{0};
  FileJob jobs[kBatchEntries];
  char16_t names[kBatchNameUnits];
  char paths[kBatchPathBytes];
  alignas(4096) std::uint8_t body[kBatchBodyBytes];

  // Empty again, by the reading thread, before it fills the slot anew.
  void clear() {
    count = body_used = name_used = path_used = 0;
    moved_bytes = 0;
    path_serial = ~std::uint64_t{0};
    handed.store(0, std::memory_order_relaxed);
    finished.store(0, std::memory_order_relaxed);
  }
  // The path of a job's directory, and the name of a job.
  EntryText directory_of(const FileJob& job) const {
    return EntryText{paths + job.path, job.path_length, job.path_cut ? kCutMark : ""};
  }
  const char16_t* name_of(const FileJob& job) const { return names + job.name; }
  // Copies a job's name into `name` and places its path in paths, for the
  // lines that name the file.
  void name_job(const FileJob& job, char16_t* name, PathText& paths) const {
    const char16_t* from = name_of(job);
    for (char16_t* to = name; (*to++ = *from++) != 0;) {
    }
    paths.place_in(directory_of(job), name);
  }
};
