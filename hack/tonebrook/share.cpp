#include "hack/tonebrook/share.h"

#include <array>
#include <cerrno>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "framework/core/escape.h"
#include "framework/core/log.h"
#include "framework/core/util.h"
#include "hack/tonebrook/tune_check.h"
#include "keltoolkit/skreelplayer/skreel.h"
#include "keltoolkit/skreelplayer/skreel_c.h"

namespace {

// Where byte `offset` of `text` stands: " at line L, column C" (both from
// 1, columns in bytes).
std::string position_of(const char* text, int offset) {
  const TUNE_PLACE place = tune_place(text, offset);
  return " at line " + std::to_string(place.line) + ", column " + std::to_string(place.column);
}

// The last compilation's error, as tune_compile_error gives it.
std::string last_error;

// Editors on other systems start a UTF-8 file with a byte-order mark.
const char* skip_byte_order_mark(const char* text) {
  constexpr std::string_view kMark = "\xEF\xBB\xBF";
  return std::string_view(text).starts_with(kMark) ? text + kMark.size() : text;
}

// The player plays at most this many instructions of a program.
constexpr int kPlayedInstructions = 256;

// Says so when the URL text holds more instructions than play. The URL text
// is at most 1023 characters, so it never holds more instructions than the
// scratch program has room for.
void report_cut_program(const char* url) {
  static std::array<SKREELCODE, kTuneTextLimit + 1> scratch;
  const char* code = std::strchr(url, '!');
  if (code == nullptr) return;
  const int count = skreel_decode_code_block(code, scratch.data(), static_cast<int>(scratch.size()));
  if (count > kPlayedInstructions)
    kel_log_notice("the tune has %d instructions: only the first %d play\n", count, kPlayedInstructions);
}

// The instructions of the code part of `url`, all of them (the player
// decodes the first 256).
int count_instructions(const char* url) {
  const char* code = std::strchr(skip_prefix(url), '!');
  if (code == nullptr) return 0;
  // Each instruction takes at least one character.
  std::vector<SKREELCODE> scratch(std::strlen(code) + 1);
  return skreel_decode_code_block(code, scratch.data(), static_cast<int>(scratch.size()));
}

// The listing of the first `count` instructions of `code`, each followed by
// a space, with "NOP" between numbers that follow each other (read back,
// they would make one number; the URL text keeps them apart with '.'), as
// long as it fits in kTuneTextLimit characters: what the player reads of a
// tune file. Sets `listed` to the instructions it holds. False when an
// instruction has no name.
bool list_program(const SKREELCODEARRAY& code, int count, std::string* listing, int* listed) {
  listing->clear();
  *listed = 0;
  bool after_number = false;
  for (int i = 0; i < count; ++i) {
    const SKREELCODE& ins = code.op[static_cast<std::size_t>(i)];
    const bool number = ins.id == OP_PUSH_INT;
    std::string element;
    if (number) {
      element = (after_number ? "NOP " : "") + std::to_string(ins.val);
    } else {
      const OP_INFO* row = op_lookup_id(ins.id);
      if (row == nullptr || row->name == nullptr) return false;
      element = row->name;
    }
    element.push_back(' ');
    if (listing->size() + element.size() > kTuneTextLimit) break;
    *listing += element;
    ++*listed;
    after_number = number;
  }
  return true;
}

}  // namespace

bool tune_read(const char* path, std::string* text, bool* cut, std::string* error) {
  UniqueFile f(std::fopen(path, "r"));
  if (!f) {
    *error = std::strerror(errno);
    return false;
  }
  std::array<char, kTuneTextLimit + 1> buf{};
  const std::size_t got = std::fread(buf.data(), 1, buf.size(), f.get());
  if (std::ferror(f.get())) {
    *error = std::strerror(errno);
    return false;
  }
  const std::size_t used = std::min(got, kTuneTextLimit);
  *cut = got > kTuneTextLimit;
  text->assign(buf.data(), strnlen(buf.data(), used));
  return true;
}

bool tune_is_c(const char* path) { return path && std::string_view(path).ends_with(".c"); }

const char* tune_compile(const char* text, const char* path, unsigned* rate) {
  const char* tune = skip_byte_order_mark(text);
  const bool c = tune_is_c(path);
  const std::string shown = path ? kel_escape_name(path) : "";
  const char* shown_path = shown.c_str();
  last_error.clear();
  SKREEL_TUNE_RATE named{};
  if (!skreel_tune_rate(tune, c ? SKREEL_SYNTAX_C : SKREEL_SYNTAX_PROGRAM, &named)) {
    last_error = named.message.data();
    kel_log_notice("%s of '%s'\n", last_error.c_str(), shown_path);
    return nullptr;
  }
  const char* url = nullptr;
  if (c) {
    static SKREEL_C_RESULT compiled;
    if (skreel_compile_c(tune, &compiled)) {
      url = compiled.url.data();
      kel_log("out: '%s'\n", url);
    } else {
      last_error = compiled.message.data();
      kel_log_notice("%s of '%s'\n", last_error.c_str(), shown_path);
    }
  } else {
    url = skreel_encode(tune);
    if (url) {
      report_cut_program(url);
      tune_warn(tune, path);
    } else {
      // The encoder has logged its message; the place follows on a line of
      // its own.
      const int offset = skreel_encode_error_offset();
      const std::string place = offset >= 0 ? position_of(tune, offset) : "";
      if (!place.empty()) kel_log_notice("%s of '%s'\n", place.c_str() + 1, shown_path);
      if (tune_comment_ended_early(tune, offset))
        kel_log_notice("comments end at the first ')' and do not nest: a ')' inside a comment ends it there\n");
      last_error = std::string(skreel_encode_error()) + place;
    }
  }
  if (url && rate) *rate = named.rate;
  return url;
}

const char* tune_compile_error() { return last_error.c_str(); }

int share_url(const char* path, std::FILE* out) {
  std::string text, error;
  bool cut = false;
  const std::string name = kel_escape_name(path);
  if (!tune_read(path, &text, &cut, &error)) {
    std::fprintf(stderr, "tonebrook: cannot read '%s': %s\n", name.c_str(), error.c_str());
    return 1;
  }
  if (cut) std::fprintf(stderr, "tonebrook: only the first %zu bytes of '%s' are used\n", kTuneTextLimit, name.c_str());
  unsigned rate = SKREEL_DEFAULT_TUNE_RATE;
  const char* url = tune_compile(text.c_str(), path, &rate);
  if (!url) return 1;
  if (rate != SKREEL_DEFAULT_TUNE_RATE)
    std::fprintf(stderr,
                 "tonebrook: the tune runs at %u steps a second; URL text does not carry the rate, "
                 "so say it beside the text when you share it\n",
                 rate);
  std::fprintf(out, "%s\n", url);
  return 0;
}

int share_text(const char* url, std::FILE* out) {
  static SKREELCODEARRAY code;
  const int count = skreel_decode_url_to_array(url, &code);
  kel_log_flush_deferred();
  std::string listing;
  int listed = 0;
  if (count <= 0 || !list_program(code, count, &listing, &listed) || listed == 0) {
    std::fprintf(stderr,
                 "tonebrook: '%s' holds no tune with a listing (a name, '!' and at least one "
                 "operation that has a name are needed)\n",
                 kel_escape_name(url).c_str());
    return 1;
  }
  const int total = count_instructions(url);
  if (listed < total)
    std::fprintf(stderr, "tonebrook: the tune has %d instructions: the listing holds only the first %d, %s\n", total,
                 listed,
                 listed < count ? "as many as fit in the 1023 bytes the player reads of a tune file"
                                : "as only the first 256 play");
  std::fprintf(out, "%s\n", listing.c_str());
  return 0;
}
