#include "report/open_failure.h"

#include "dump/buffer_sizes.h"
#include "dump/fs_node.h"
#include "report/name_text.h"

void write_user_path(LineWriter& out, const char16_t* path) {
  static char text[3 * kNameUnits];
  bool cut = false;
  const std::uint32_t length = append_name_text(path, NameTextKind::kPath, text, 0, sizeof text, &cut);
  out.bytes(text, length);
}

void write_base_path_too_long(LineWriter& out) {
  out.text("fsrestore: the base path is too long: it may have at most ");
  out.decimal(kNameUnits - 1 - kLongestSuffixUnits).text(" characters").end_line();
}

// The hint is given when the base path names a directory but lacks the
// separator that would make the streams those inside it.
void write_open_failure(Platform& platform, LineWriter& out, char16_t* path, std::uint32_t base_units,
                        const Failure& why) {
  static char reason[1024];
  console_failure_text(platform, why, reason, sizeof reason);
  write_user_path(out, path);
  out.text(": ").text(reason);
  const char16_t last = base_units > 0 ? path[base_units - 1] : 0;
  const char16_t separator = static_cast<char16_t>(platform.path_separator());
  if (base_units == 0 || last == u'/' || last == separator) return;
  const char16_t kept = path[base_units];
  path[base_units] = 0;
  if (platform.path_is_directory(path)) {
    out.text("; did you mean ");
    write_user_path(out, path);
    const char sep[2] = {platform.path_separator(), 0};
    out.text(sep).text(" ?");
  }
  path[base_units] = kept;
}
