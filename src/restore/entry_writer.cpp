#include "restore/entry_writer.h"

void EntryWriter::restore_entry(const FsNode& node, Handle content) {
  if (node.is_directory()) {
    restore_directory(node);
  } else {
    restore_file(node, content);
  }
}

// Attributes first, times last: the handle is held by the cursor and the
// times are set when everything inside the directory is written.
void EntryWriter::restore_directory(const FsNode& node) {
  ++counters_.dirs;
  if (cursor_.skipping()) return;
  const char16_t* name = names_.name();
  if (!platform_.make_dir(name)) return;  // existing directories are reused as they are
  platform_.set_attr(name, node.attr);
  const Handle handle = platform_.open_dir(name);
  cursor_.hold_directory(node.depth, handle, node.creation_time, node.write_time);
}

// Times before close, attributes after: a read-only word must not stop the
// times from being set.
void EntryWriter::restore_file(const FsNode& node, Handle content) {
  ++counters_.files;
  const char16_t* name = names_.name();
  Handle file;
  if (!cursor_.skipping()) {
    file = platform_.create_file(name);
    if (!file.valid()) log_.createfile_failed(node.attr, node.size);
  }
  copy_body(node, content, file);
  if (file.valid()) {
    platform_.set_times(file, node.creation_time, node.write_time, node.write_time);
    platform_.close(file);
    platform_.set_attr(name, node.attr);
  }
}

void EntryWriter::copy_body(const FsNode& node, Handle content, Handle file) {
  std::uint64_t remaining = node.size;
  if (remaining == 0) return;
  for (;;) {
    const std::uint32_t want =
        remaining < kCopyBlockBytes ? static_cast<std::uint32_t>(remaining) : kCopyBlockBytes;
    const std::uint32_t got = file.valid() ? platform_.copy_block(content, file, block_, want)
                                           : platform_.read(content, block_, want);
    counters_.outbytes += got;
    remaining -= got;
    // A full block may be followed by more; the request after the last full
    // block of an exact multiple asks for 0 bytes.
    if (got != kCopyBlockBytes) break;
  }
  if (remaining > 0) log_.content_short(node.attr, node.size, remaining);
}
