// The platform's operations a test can make fail, listed once for the fake
// platform and the wrapper around a real one; each with the word its call
// record starts with. A new operation is one line here.
#pragma once

#define PLATFORM_OPS(X)                             \
  X(kOpenStream, "open_stream")                     \
  X(kOpenStartDir, "open_start_dir")                \
  X(kOpenTarget, "open_target")                     \
  X(kOpenParent, "open_parent")                     \
  X(kCreateFile, "create_file")                     \
  X(kMakeDir, "make_dir")                           \
  X(kOpenMadeDir, "open_made_dir") /* after made */ \
  X(kOpenDir, "open_dir")                           \
  X(kOpenFileRead, "open_file_read")                \
  X(kDescribeOpen, "describe_open")                 \
  X(kOpenListing, "open_listing")                   \
  X(kNextListed, "next_listed")                     \
  X(kInspect, "inspect")                            \
  X(kRemoveFile, "remove_file")                     \
  X(kRenameFile, "rename_file")                     \
  X(kIdentity, "identity")                          \
  X(kRead, "read")                                  \
  X(kCopyRead, "copy_read") /* copy_block's read */ \
  X(kWrite, "write")                                \
  X(kCopyBlock, "copy_block") /* and its write */   \
  X(kClose, "close")                                \
  X(kSetTimes, "set_times")                         \
  X(kSetAttr, "set_attr")                           \
  X(kStartThread, "start_thread")

#define PLATFORM_OP_ENUM(id, text) id,
enum class PlatformOp { PLATFORM_OPS(PLATFORM_OP_ENUM) };
#undef PLATFORM_OP_ENUM

inline const char* platform_op_name(PlatformOp op) {
#define PLATFORM_OP_NAME(id, text) text,
  static const char* const names[] = {PLATFORM_OPS(PLATFORM_OP_NAME)};
#undef PLATFORM_OP_NAME
  return names[static_cast<int>(op)];
}
