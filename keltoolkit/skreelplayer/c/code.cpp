#include "keltoolkit/skreelplayer/c/code.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>

#include "keltoolkit/skreelplayer/c/front.h"
#include "keltoolkit/skreelplayer/skreel_model.h"

namespace skreel_c {
namespace {

constexpr std::string_view kHeader = "compiled!";

bool binary_op(int id) {
  switch (id) {
    case OP_MUL: case OP_DIV: case OP_ADD: case OP_SUB: case OP_MOD: case OP_LSHIFT: case OP_RSHIFT:
    case OP_AND: case OP_OR: case OP_XOR: case OP_LT: case OP_GT: case OP_EQ: return true;
    default: return false;
  }
}

// The machine's own meaning of a binary operation.
uint32_t machine(int id, uint32_t a, uint32_t b) {
  switch (id) {
    case OP_MUL: return a * b;
    case OP_DIV: return b == 0 ? 0 : a / b;
    case OP_ADD: return a + b;
    case OP_SUB: return a - b;
    case OP_MOD: return b == 0 ? 0 : a % b;
    case OP_LSHIFT: return a << (b & 31);
    case OP_RSHIFT: return b > 31 ? 0 : a >> b;
    case OP_AND: return a & b;
    case OP_OR: return a | b;
    case OP_XOR: return a ^ b;
    case OP_LT: return a < b ? kAll : 0;
    case OP_GT: return a > b ? kAll : 0;
    default: return a == b ? kAll : 0;  // OP_EQ
  }
}

bool push(const Ins& i) { return i.op == OP_PUSH_INT; }

}  // namespace

std::vector<Ins> reuse_values(const Code& code) {
  std::vector<Span> spans = code.spans;
  std::sort(spans.begin(), spans.end(), [](const Span& x, const Span& y) {
    return x.begin != y.begin ? x.begin < y.begin : x.end > y.end;
  });
  std::vector<std::vector<int>> ends(static_cast<std::size_t>(code.size()) + 1);
  for (const Span& s : spans) ends[static_cast<std::size_t>(s.end)].push_back(s.key);

  std::vector<std::vector<int>> stack;  // the labels of each cell, bottom first
  std::vector<Ins> out;
  const auto label = [&](int at) {
    if (stack.empty()) return;
    for (int key : ends[static_cast<std::size_t>(at)]) stack.back().push_back(key);
  };
  const auto pop = [&] {
    if (!stack.empty()) stack.pop_back();
  };
  std::size_t next = 0;
  for (int p = 0; p < code.size();) {
    while (next < spans.size() && spans[next].begin < p) ++next;
    bool copied = false;
    for (std::size_t k = next; k < spans.size() && spans[k].begin == p && !copied; ++k) {
      const Span& s = spans[k];
      for (int depth = 0; depth < static_cast<int>(stack.size()); ++depth) {
        const std::vector<int>& cell = stack[stack.size() - 1 - static_cast<std::size_t>(depth)];
        if (std::find(cell.begin(), cell.end(), s.key) == cell.end()) continue;
        const int cost = depth == 0 ? 1 : 2;
        if (s.end - s.begin > cost) {
          if (depth == 0) {
            out.push_back({static_cast<uint8_t>(OP_DUP), 0});
          } else {
            out.push_back({static_cast<uint8_t>(OP_PUSH_INT), static_cast<uint32_t>(depth)});
            out.push_back({static_cast<uint8_t>(OP_PICK), 0});
          }
          stack.push_back(cell);
          p = s.end;
          label(p);
          copied = true;
        }
        break;
      }
    }
    if (copied) continue;
    const Ins ins = code.ins[static_cast<std::size_t>(p)];
    if (ins.op == OP_TIME || ins.op == OP_PUSH_INT) {
      stack.emplace_back();
    } else if (binary_op(ins.op)) {
      pop();
      pop();
      stack.emplace_back();
    } else if (ins.op == OP_NOT) {
      pop();
      stack.emplace_back();
    } else if (ins.op == OP_DUP) {
      stack.push_back(stack.empty() ? std::vector<int>{} : stack.back());
    } else if (ins.op == OP_SWAP) {
      if (stack.size() >= 2) std::swap(stack[stack.size() - 1], stack[stack.size() - 2]);
    } else if (ins.op == OP_DROP) {
      pop();
    } else if (ins.op == OP_PICK) {
      // The depth is the number pushed just before.
      const std::size_t depth = out.empty() ? 0 : out.back().val;
      pop();
      stack.push_back(depth < stack.size() ? stack[stack.size() - 1 - depth] : std::vector<int>{});
    }
    out.push_back(ins);
    ++p;
    label(p);
  }
  return out;
}

std::vector<Ins> fold_constants(std::vector<Ins> code) {
  for (bool changed = true; changed;) {
    changed = false;
    std::vector<Ins> out;
    for (const Ins& ins : code) {
      out.push_back(ins);
      for (bool again = true; again;) {
        again = false;
        const std::size_t n = out.size();
        if (n >= 3 && push(out[n - 3]) && push(out[n - 2]) && binary_op(out[n - 1].op)) {
          const uint32_t v = machine(out[n - 1].op, out[n - 3].val, out[n - 2].val);
          out.resize(n - 3);
          out.push_back({static_cast<uint8_t>(OP_PUSH_INT), v});
          again = true;
        } else if (n >= 4 && push(out[n - 4]) && push(out[n - 2])) {
          const int f = out[n - 3].op, g = out[n - 1].op;
          const uint32_t x = out[n - 4].val, y = out[n - 2].val;
          const bool adds = (f == OP_ADD || f == OP_SUB) && (g == OP_ADD || g == OP_SUB);
          if (adds || (f == g && (f == OP_XOR || f == OP_AND || f == OP_OR || f == OP_MUL))) {
            uint32_t v = 0;
            int op = f;
            if (adds) {
              v = (f == OP_ADD ? x : 0u - x) + (g == OP_ADD ? y : 0u - y);
              op = OP_ADD;
              if ((v & kSign) != 0) {
                v = 0u - v;
                op = OP_SUB;
              }
            } else {
              v = machine(f, x, y);
            }
            out.resize(n - 4);
            out.push_back({static_cast<uint8_t>(OP_PUSH_INT), v});
            out.push_back({static_cast<uint8_t>(op), 0});
            again = true;
          }
        }
        const std::size_t m = out.size();
        if (!again && m >= 2 && push(out[m - 2])) {
          const uint32_t v = out[m - 2].val;
          const int g = out[m - 1].op;
          const bool idle = (v == 0 && (g == OP_ADD || g == OP_SUB || g == OP_OR || g == OP_XOR || g == OP_LSHIFT ||
                                        g == OP_RSHIFT)) ||
                            (v == 1 && (g == OP_MUL || g == OP_DIV)) || (v == kAll && g == OP_AND);
          if (idle) {
            out.resize(m - 2);
            again = true;
          }
        }
        const std::size_t q = out.size();
        if (!again && q >= 2 && out[q - 1].op == out[q - 2].op && (out[q - 1].op == OP_NOT || out[q - 1].op == OP_SWAP)) {
          out.resize(q - 2);
          again = true;
        }
        changed = changed || again;
      }
    }
    code = std::move(out);
  }
  return code;
}

bool write_url(const std::vector<Ins>& code, std::array<char, 1024>* url, std::size_t* length) {
  std::string out(kHeader);
  bool after_number = false;
  for (const Ins& ins : code) {
    if (ins.op == OP_PUSH_INT) {
      if (after_number) out.push_back('.');
      out += format("%X", ins.val);
      after_number = true;
    } else {
      out.push_back(op_map[ins.op]);
      after_number = false;
    }
  }
  *length = out.size();
  if (out.size() >= url->size()) return false;
  std::memcpy(url->data(), out.c_str(), out.size() + 1);
  return true;
}

}  // namespace skreel_c
