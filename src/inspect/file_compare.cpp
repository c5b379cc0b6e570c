#include "inspect/file_compare.h"

#include "report/entry_lines.h"

// Whatever the entry is, a record's body the stream ended inside is told
// short, after the entry's first line, as the walk tells it when it reads
// past a body.
void FileCompare::compare(const CompareBatch& batch, const CompareJob& job) {
  const EntryText path = batch.path_of(job);
  const FsNode& node = job.node;
  EntryInfo info = job.looked;
  if (job.look && !platform_.inspect(job.dir, batch.name_of(job), &info)) {
    lines_.unreadable(path, Failure::of_last_call(platform_));
    return stream_short(path, job);
  }
  if (job.look && info.kind != EntryKind::kFile) {
    lines_.not_there(path, false, info.kind);
    return stream_short(path, job);
  }
  // One look by name tells the kind, size, time and, for most records, the
  // word; the file is opened only to read its body or a word the look cannot
  // tell, so an empty file or one of another size costs the look alone.
  const EntryState looked = EntryState::of(info);
  const std::uint8_t seen = record_differences(node, looked);
  const bool read_word = word_to_compare_open(node, looked, info.attributes_told);
  const bool read_body = (seen & kSizeDiffers) == 0 && node.size > 0;
  if (!read_word && !read_body && info.shown_as_itself) return told(path, job, looked, seen);
  Failure why;
  const Handle file = gate_.open_file(job.dir, batch.name_of(job), &why);
  if (!file.valid()) {
    if (why.refusal == Refusal::kNotShown && !why.cannot_tell) {
      lines_.link_on_disk(path, false);
    } else {
      lines_.unreadable(path, why);
    }
    return stream_short(path, job);
  }
  EntryState disk = looked;
  OpenState open;
  if (read_word && !platform_.describe_open(file, &open)) {
    lines_.unreadable(path, Failure::of_last_call(platform_));
    platform_.close(file);
    return stream_short(path, job);
  }
  if (read_word) disk = EntryState::of(open);
  const std::uint8_t differs = record_differences(node, disk);
  if ((differs & kSizeDiffers) != 0 || node.size == 0) {
    told(path, job, disk, differs);
  } else {
    compare_body(batch, job, file);
    lines_.state(path, node, disk, differs);
  }
  platform_.close(file);
}

// The bytes the stream held are compared; a body the stream ended inside is
// told short after them.
void FileCompare::compare_body(const CompareBatch& batch, const CompareJob& job, Handle file) {
  const EntryText path = batch.path_of(job);
  const BodySource source{Handle::none(), kInStreamOrder, batch.body + job.body, job.held};
  const BodyMatch match = match_body(platform_, file, source, job.held, blocks_);
  if (match.unreadable) {
    lines_.unreadable(path, Failure::of_last_call(platform_));
  } else if (match.differs_at < job.held) {
    LineWriter& w = lines_.line("bytes", path).text(": differ from byte ");
    lines_.difference(w.decimal(static_cast<std::int64_t>(match.differs_at)));
  }
  stream_short(path, job);
}

void FileCompare::told(const EntryText& path, const CompareJob& job, const EntryState& disk, std::uint8_t differs) {
  const FsNode& node = job.node;
  if ((differs & kSizeDiffers) != 0) {
    LineWriter& w = lines_.line("size", path).text(": ").decimal(static_cast<std::int64_t>(node.size));
    lines_.difference(w.text(" in the dump, ").decimal(static_cast<std::int64_t>(disk.size)).text(" on disk"));
  }
  stream_short(path, job);
  lines_.state(path, node, disk, differs);
}

void FileCompare::stream_short(const EntryText& path, const CompareJob& job) {
  if (job.held >= job.node.size) return;
  lines_.turn();
  content_short_line(err_, path, job.node.attr, job.node.size, job.node.size - job.held);
  lines_.line_done();
}
