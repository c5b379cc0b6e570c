#include "inspect/file_compare.h"

#include "report/entry_lines.h"

// The bytes the stream held are compared first; a body the stream ended
// inside is told short where those agree.
void FileCompare::compare(const CompareBatch& batch, const CompareJob& job) {
  const EntryText path = batch.path_of(job);
  const FsNode& node = job.node;
  Failure why;
  const Handle file = gate_.open_file(job.dir, batch.name_of(job), &why);
  if (!file.valid()) {
    if (why.refusal == Refusal::kNotShown && !why.cannot_tell) return lines_.link_on_disk(path, false);
    return lines_.unreadable(path, why);
  }
  EntryState disk = job.looked;
  OpenState open;
  if (job.read_word && !platform_.describe_open(file, &open)) {
    lines_.unreadable(path, Failure::of_last_call(platform_));
    platform_.close(file);
    return;
  }
  if (job.read_word) disk = EntryState::of(open);
  const std::uint8_t differs = record_differences(node, disk);
  if ((differs & kSizeDiffers) != 0) {
    LineWriter& w = lines_.line("size", path).text(": ").decimal(static_cast<std::int64_t>(node.size));
    lines_.difference(w.text(" in the dump, ").decimal(static_cast<std::int64_t>(disk.size)).text(" on disk"));
  } else {
    const BodySource source{Handle::none(), kInStreamOrder, batch.body + job.body, job.held};
    const BodyMatch match = match_body(platform_, file, source, job.held, blocks_);
    if (match.unreadable) {
      lines_.unreadable(path, Failure::of_last_call(platform_));
    } else if (match.differs_at < job.held) {
      LineWriter& w = lines_.line("bytes", path).text(": differ from byte ");
      lines_.difference(w.decimal(static_cast<std::int64_t>(match.differs_at)));
    } else if (job.held < node.size) {
      lines_.turn();
      content_short_line(err_, path, node.attr, node.size, node.size - job.held);
      lines_.line_done();
    }
  }
  lines_.state(path, node, disk, differs);
  platform_.close(file);
}
