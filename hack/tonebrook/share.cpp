#include "hack/tonebrook/share.h"

#include <array>
#include <cerrno>
#include <cstring>
#include <string_view>

#include "framework/core/log.h"
#include "framework/core/util.h"
#include "hack/tonebrook/tune_check.h"
#include "keltoolkit/skreelplayer/skreel.h"
#include "keltoolkit/skreelplayer/skreel_c.h"

namespace {

// Says where byte `offset` of the text stands.
void report_position(const char* text, int offset, const char* path) {
  if (offset < 0) return;
  const TUNE_PLACE place = tune_place(text, offset);
  kel_log_notice("at line %d, column %d of '%s'\n", place.line, place.column, path ? path : "");
}

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

bool is_number(const std::string& token) {
  return !token.empty() && token.find_first_not_of("0123456789") == std::string::npos;
}

// The listing with "NOP" between numbers that follow each other: the
// engine's listing lets them run together, and read back they would make
// one number of them (the URL text keeps them apart with '.').
std::string numbers_kept_apart(const char* listing) {
  std::string out, token;
  bool after_number = false;
  for (const char* p = listing;; ++p) {
    if (*p != ' ' && *p != '\0') {
      token.push_back(*p);
      continue;
    }
    if (!token.empty()) {
      const bool number = is_number(token);
      if (number && after_number) out += "NOP ";
      out += token;
      out.push_back(' ');
      after_number = number;
      token.clear();
    }
    if (*p == '\0') return out;
  }
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
  SKREEL_TUNE_RATE named{};
  if (!skreel_tune_rate(tune, c ? SKREEL_SYNTAX_C : SKREEL_SYNTAX_PROGRAM, &named)) {
    kel_log_notice("%s of '%s'\n", named.message.data(), path ? path : "");
    return nullptr;
  }
  const char* url = nullptr;
  if (c) {
    static SKREEL_C_RESULT compiled;
    if (skreel_compile_c(tune, &compiled)) {
      url = compiled.url.data();
      kel_log("out: '%s'\n", url);
    } else {
      kel_log_notice("%s of '%s'\n", compiled.message.data(), path ? path : "");
    }
  } else {
    url = skreel_encode(tune);
    if (url) {
      report_cut_program(url);
      tune_warn(tune, path);
    } else {
      const int at = skreel_encode_error_offset();
      report_position(tune, at, path);
      if (tune_comment_ended_early(tune, at))
        kel_log_notice("comments end at the first ')' and do not nest: a ')' inside a comment ends it there\n");
    }
  }
  if (url && rate) *rate = named.rate;
  return url;
}

int share_url(const char* path, std::FILE* out) {
  std::string text, error;
  bool cut = false;
  if (!tune_read(path, &text, &cut, &error)) {
    std::fprintf(stderr, "tonebrook: cannot read '%s': %s\n", path, error.c_str());
    return 1;
  }
  if (cut) std::fprintf(stderr, "tonebrook: only the first %zu bytes of '%s' are used\n", kTuneTextLimit, path);
  unsigned rate = SKREEL_DEFAULT_TUNE_RATE;
  const char* url = tune_compile(text.c_str(), path, &rate);
  if (!url) return 1;
  if (rate != SKREEL_DEFAULT_TUNE_RATE)
    std::fprintf(stderr,
                 "tonebrook: the tune runs at %u steps a second; URL text does not carry the rate, "
                 "so say it beside the text when you share it\n",
                 rate);
  std::fprintf(out, "%s\n", url);
  return std::fflush(out) == 0 ? 0 : 1;
}

int share_text(const char* url, std::FILE* out) {
  const char* listing = skreel_decode_url_to_text(url);
  kel_log_flush_deferred();
  if (!listing) {
    std::fprintf(stderr,
                 "tonebrook: '%s' holds no tune with a listing (a name, '!' and at least one "
                 "operation that has a name are needed)\n",
                 url);
    return 1;
  }
  std::fprintf(out, "%s\n", numbers_kept_apart(listing).c_str());
  return std::fflush(out) == 0 ? 0 : 1;
}
