#include "main/command_line.h"

#include <cstring>

#include "report/line_writer.h"
#include "report/name_text.h"
#include "report/number_text.h"
#include "report/open_failure.h"

namespace {

// The longest argument looked at as text; a longer one is never an option.
constexpr std::uint32_t kArgUnits = 32768;
char16_t g_text[kArgUnits];

bool is_ascii(const char16_t* text, std::uint32_t length, const char* ascii) {
  for (std::uint32_t i = 0; i < length; ++i) {
    if (ascii[i] == 0 || text[i] != static_cast<unsigned char>(ascii[i])) return false;
  }
  return ascii[length] == 0;
}

void append(char* out, const char* text) {
  const std::size_t used = std::strlen(out);
  const std::size_t room = kUsageErrorBytes - 1 - used;
  const std::size_t n = std::strlen(text) < room ? std::strlen(text) : room;
  std::memcpy(out + used, text, n);
  out[used + n] = 0;
}

}  // namespace

bool arg_text(Platform& platform, ArgSlice slice, char16_t* out, std::uint32_t capacity) {
  if (slice.arg < 0 || slice.arg >= platform.arg_count()) return false;
  if (platform.arg_to_name(slice.arg, g_text, kArgUnits) == 0) return false;
  std::uint32_t length = 0;
  while (g_text[length] != 0) ++length;
  if (slice.offset > length || length - slice.offset + 1 > capacity) return false;
  if (out != g_text) std::memmove(out, g_text + slice.offset, (length - slice.offset + 1) * sizeof(char16_t));
  return true;
}

bool OptionParser::fail(const char* before, const char16_t* option, std::uint32_t length, const char* after) {
  error_[0] = 0;
  append(error_, before);
  char16_t name[64];
  const std::uint32_t kept = length < 63 ? length : 63;
  std::memcpy(name, option, kept * sizeof(char16_t));
  name[kept] = 0;
  bool cut = false;
  const std::uint32_t used = static_cast<std::uint32_t>(std::strlen(error_));
  const std::uint32_t end = append_name_text(name, NameTextKind::kPath, error_, used, kUsageErrorBytes - 40, &cut);
  error_[end] = 0;
  if (cut || kept < length) append(error_, "...");
  append(error_, after);
  failed_ = true;
  return false;
}

bool OptionParser::take_value(bool attached, std::uint32_t at, const char* before, const char16_t* option,
                              std::uint32_t length, ArgSlice* value) {
  if (attached) {  // "--jobs=4", "-j4"
    *value = ArgSlice{arg_, at};
    ++arg_;
    return true;
  }
  if (arg_ + 1 >= platform_.arg_count()) return fail(before, option, length, "' needs a value");
  *value = ArgSlice{arg_ + 1, 0};
  arg_ += 2;
  return true;
}

bool OptionParser::next(int* id, ArgSlice* value) {
  *value = ArgSlice{};
  if (failed_) return false;
  if (bundle_at_ > 0) return next_in_bundle(id, value);
  if (arg_ >= platform_.arg_count()) return false;
  if (options_ended_) return operand(id, value);
  if (extra_argument_ != nullptr && platform_.arg_is(arg_, extra_argument_)) {
    *id = extra_id_;
    ++arg_;
    return true;
  }
  // Too long to be looked at: no option is that long, so it is an operand.
  if (!arg_text(platform_, ArgSlice{arg_, 0}, g_text, kArgUnits) || g_text[0] != u'-' || g_text[1] == 0) {
    return operand(id, value);
  }
  if (g_text[1] != u'-') {
    bundle_at_ = 1;
    return next_in_bundle(id, value);
  }
  if (g_text[2] == 0) {  // "--"
    ++arg_;
    options_ended_ = true;
    return next(id, value);
  }
  const char16_t* name = g_text + 2;
  std::uint32_t length = 0;
  while (name[length] != 0 && name[length] != u'=') ++length;
  const bool has_value = name[length] == u'=';
  for (int i = 0; i < spec_count_; ++i) {
    const OptionSpec& option = specs_[i];
    if (option.long_name == nullptr || !is_ascii(name, length, option.long_name)) continue;
    *id = option.id;
    if (option.takes_value) return take_value(has_value, 2 + length + 1, "option '--", name, length, value);
    if (has_value) return fail("option '--", name, length, "' takes no value");
    ++arg_;
    return true;
  }
  return fail("unknown option '--", name, length, "'");
}

bool OptionParser::operand(int* id, ArgSlice* value) {
  *id = kOperand;
  *value = ArgSlice{arg_, 0};
  ++arg_;
  return true;
}

bool OptionParser::next_in_bundle(int* id, ArgSlice* value) {
  arg_text(platform_, ArgSlice{arg_, 0}, g_text, kArgUnits);
  const char16_t letter = g_text[bundle_at_];
  for (int i = 0; i < spec_count_; ++i) {
    const OptionSpec& option = specs_[i];
    if (option.short_name == 0 || letter != static_cast<unsigned char>(option.short_name)) continue;
    *id = option.id;
    const std::uint32_t after = bundle_at_ + 1;
    bundle_at_ = 0;
    if (option.takes_value) return take_value(g_text[after] != 0, after, "option '-", &letter, 1, value);
    if (g_text[after] == 0) {
      ++arg_;
    } else {
      bundle_at_ = after;
    }
    return true;
  }
  return fail("unknown option '-", &g_text[bundle_at_], 1, "'");
}

namespace {

enum OptionId {
  kOptList,
  kOptCheck,
  kOptCompare,
  kOptHelp,
  kOptVersion,
  kOptStrict,
  kOptQuiet,
  kOptOnly,
  kOptResume,
  kOptJobs,
  kOptErrors,
  kOptReport,
};

const OptionSpec kOptions[] = {
    {kOptList, 0, "list", false},        {kOptCheck, 0, "check", false},
    {kOptCompare, 0, "compare", false},  {kOptHelp, 'h', "help", false},
    {kOptVersion, 'V', "version", false}, {kOptStrict, 0, "strict", false},
    {kOptQuiet, 'q', "quiet", false},    {kOptOnly, 0, "only", true},
    {kOptResume, 0, "resume", false},    {kOptJobs, 'j', "jobs", true},
    {kOptErrors, 0, "errors", true},
    {kOptReport, 0, "report", true},
};

// A whole decimal number from 1 to kMostJobs, or 0.
int jobs_value(Platform& platform, ArgSlice value) {
  char16_t text[16];
  if (!arg_text(platform, value, text, 16) || text[0] == 0) return 0;
  int jobs = 0;
  for (const char16_t* p = text; *p != 0; ++p) {
    if (*p < u'0' || *p > u'9' || p - text >= 4) return 0;
    jobs = jobs * 10 + (*p - u'0');
  }
  return jobs <= kMostJobs ? jobs : 0;
}

const char* mode_option(Mode mode) {
  switch (mode) {
    case Mode::kList:
      return "--list";
    case Mode::kCheck:
      return "--check";
    default:
      return "--compare";
  }
}

CommandLine usage_error(const char* first, const char* second = "", const char* third = "",
                        const char* fourth = "") {
  CommandLine line;
  line.mode = Mode::kUsageError;
  append(line.error, first);
  append(line.error, second);
  append(line.error, third);
  append(line.error, fourth);
  return line;
}

// The parser over fsrestore's own options.
OptionParser fsrestore_options(Platform& platform) {
  OptionParser options(platform, kOptions, sizeof kOptions / sizeof kOptions[0]);
  if (const char* native = platform.native_help_switch()) options.also_accept(native, kOptHelp);
  return options;
}

// How many operands a mode takes: BASEPATH, and TARGET where it has one.
int operands_taken(Mode mode) { return mode == Mode::kRestore || mode == Mode::kCompare ? 2 : 1; }

}  // namespace

CommandLine parse_command_line(Platform& platform) {
  CommandLine line;
  OptionParser options = fsrestore_options(platform);
  int operands[2] = {-1, -1};
  int operand_count = 0;
  int id = 0;
  ArgSlice value;
  while (options.next(&id, &value)) {
    switch (id) {
      case kOperand:
        if (operand_count < 2) operands[operand_count++] = value.arg;
        break;
      case kOptHelp:
        line.mode = Mode::kHelp;
        return line;
      case kOptVersion:
        line.mode = Mode::kVersion;
        return line;
      case kOptList:
      case kOptCheck:
      case kOptCompare: {
        const Mode mode = id == kOptList ? Mode::kList : id == kOptCheck ? Mode::kCheck : Mode::kCompare;
        if (line.mode != Mode::kRestore && line.mode != mode) {
          return usage_error(mode_option(line.mode), " and ", mode_option(mode), " exclude each other");
        }
        line.mode = mode;
        break;
      }
      case kOptOnly:
        if (line.only_count == kOnlyPaths) {
          char most[kNumberChars];
          format_decimal(kOnlyPaths, most);
          return usage_error("--only is given more than ", most, " times");
        }
        line.only[line.only_count++] = value;
        break;
      case kOptErrors:
        line.errors = value;
        break;
      case kOptReport:
        line.report = value;
        break;
      case kOptResume:
        line.resume = true;
        break;
      case kOptStrict:
        line.strict = true;
        break;
      case kOptQuiet:
        line.quiet = true;
        break;
      case kOptJobs:
        line.jobs = jobs_value(platform, value);
        if (line.jobs == 0) return usage_error("-j/--jobs needs a number of writers from 1 to 1000");
        break;
    }
  }
  if (options.error()[0] != 0) return usage_error(options.error());
  // -j and -q are taken by every mode (--list and --check run on one
  // thread), so one command line can serve a script's restore and its
  // --check alike.
  if (line.mode != Mode::kRestore && (line.strict || line.resume || line.only_count > 0 || line.errors.arg >= 0)) {
    const char* option = line.strict ? "--strict" : line.resume ? "--resume" : line.only_count > 0 ? "--only" : "--errors";
    return usage_error(option, " goes with a restore only, not with ", mode_option(line.mode));
  }
  if (line.mode != Mode::kRestore && line.report.arg >= 0) {
    return usage_error("--report", " goes with a restore only, not with ", mode_option(line.mode));
  }
  // Operands after the ones the mode takes are ignored.
  line.base_arg = operands[0];
  if (operands_taken(line.mode) == 2) line.target_arg = operands[1];
  return line;
}

void warn_ignored_operands(Platform& platform, const CommandLine& line) {
  BufferedLineWriter<1024> err(platform, LineSink::kStandardError);
  OptionParser options = fsrestore_options(platform);
  int seen = 0;
  int id = 0;
  ArgSlice value;
  while (options.next(&id, &value)) {
    if (id != kOperand || ++seen <= operands_taken(line.mode)) continue;
    err.text("fsrestore: ignoring the extra argument '");
    if (arg_text(platform, value, g_text, kArgUnits)) write_user_path(err, g_text);
    err.text("'").end_line();
  }
}
