// The XML parser: one element (with its subtree) at a time, straight from the
// caller's text, copying only names, values and attribute texts.

#include <stdint.h>
#include <string.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "base/upnp_log.h"
#include "base/upnp_mem.h"
#include "base/upnp_xml.h"
#include "base/upnp_xml_arena.h"
#include "base/upnp_xml_escape.h"
#include "base/upnp_xml_scan.h"

namespace {

// A byte class table: 1 for bytes of the stop set, 2 for the quote bytes that
// open a skipped span.
struct StopSet {
  unsigned char cls[256] = {};
  constexpr explicit StopSet(const char *set) {
    cls[static_cast<unsigned char>('"')] = 2;
    cls[static_cast<unsigned char>('\'')] = 2;
    for (; *set; ++set) cls[static_cast<unsigned char>(*set)] = 1;
  }
};

constexpr StopSet kNameEnd(" />");
constexpr StopSet kAttrNameEnd("=/");
constexpr StopSet kAttrValueEnd(" />\t\r\n");
constexpr StopSet kTagOpen("<");
constexpr StopSet kTagClose(">");

// Byte searches for the short spans of markup (names, values, texts): eight
// bytes at a time for the first 64 bytes, the C library beyond, so that a
// long text costs no more than one library call and a short one no call.
constexpr uint64_t kOnes = 0x0101010101010101ULL;
constexpr uint64_t kLow7 = 0x7F7F7F7F7F7F7F7FULL;

// High bit set in exactly the bytes of x that are zero.
inline uint64_t zero_bytes(uint64_t x) { return ~(((x & kLow7) + kLow7) | x | kLow7); }

inline size_t first_marked(uint64_t m) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
  return static_cast<size_t>(__builtin_clzll(m)) >> 3;
#else
  return static_cast<size_t>(__builtin_ctzll(m)) >> 3;
#endif
}

// First byte equal to a or b in [p, end); `end` if none.
inline const char *find_either(const char *p, const char *end, char a, char b) {
  const char *stop = end - p > 64 ? p + 64 : end;
#if defined(__SSE2__)
  // Sixteen bytes a step where the machine has it (every x86-64 does).
  const __m128i va = _mm_set1_epi8(a);
  const __m128i vb = _mm_set1_epi8(b);
  while (stop - p >= 16) {
    const __m128i w = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
    const int m = _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(w, va), _mm_cmpeq_epi8(w, vb)));
    if (m != 0) return p + __builtin_ctz(static_cast<unsigned>(m));
    p += 16;
  }
#endif
  const uint64_t wa = kOnes * static_cast<unsigned char>(a);
  const uint64_t wb = kOnes * static_cast<unsigned char>(b);
  while (stop - p >= 8) {
    uint64_t w;
    memcpy(&w, p, sizeof w);
    uint64_t m = zero_bytes(w ^ wa) | zero_bytes(w ^ wb);
    if (m != 0) return p + first_marked(m);
    p += 8;
  }
  while (p < stop && *p != a && *p != b) ++p;
  if (p < stop || stop == end) return p;
  const char *ha = static_cast<const char *>(memchr(p, a, static_cast<size_t>(end - p)));
  const char *limit = ha != nullptr ? ha : end;
  if (a == b) return limit;
  const char *hb = static_cast<const char *>(memchr(p, b, static_cast<size_t>(limit - p)));
  return hb != nullptr ? hb : limit;
}

inline const char *find_byte(const char *p, const char *end, char c) { return find_either(p, end, c, c); }

// First `c` in [p, end) (or `end`), noting whether an "&" came before it.
inline const char *find_noting_amp(const char *p, const char *end, char c, bool *amp) {
  const char *q = find_either(p, end, c, '&');
  if (q < end && *q == '&') {
    *amp = true;
    q = find_byte(q + 1, end, c);
  }
  return q;
}

// First byte of [p, end) whose class is not 0; `end` if none. Four bytes a
// round while they last.
inline const char *skip_plain(const char *p, const char *end, const StopSet &set) {
  while (end - p >= 4) {
    if (set.cls[static_cast<unsigned char>(p[0])] != 0) return p;
    if (set.cls[static_cast<unsigned char>(p[1])] != 0) return p + 1;
    if (set.cls[static_cast<unsigned char>(p[2])] != 0) return p + 2;
    if (set.cls[static_cast<unsigned char>(p[3])] != 0) return p + 3;
    p += 4;
  }
  while (p < end && set.cls[static_cast<unsigned char>(*p)] == 0) ++p;
  return p;
}

// First byte of [p, end) in the set, skipping quoted spans; `end` if none.
inline const char *scan(const char *p, const char *end, const StopSet &set) {
  for (;;) {
    p = skip_plain(p, end, set);
    if (p >= end) return end;
    const unsigned char c = static_cast<unsigned char>(*p);
    if (set.cls[c] == 1) return p;
    const char *q = find_byte(p + 1, end, static_cast<char>(c));
    if (q >= end) return end;
    p = q + 1;
  }
}

inline bool is_space(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

inline const char *skip_space(const char *p, const char *end) {
  while (p < end && is_space(*p)) ++p;
  return p;
}

inline bool starts_with(const char *p, const char *end, const char *lit, size_t n) {
  return static_cast<size_t>(end - p) >= n && memcmp(p, lit, n) == 0;
}

// Start of `needle` in [p, end), or none.
const char *find_seq(const char *p, const char *end, const char *needle, size_t n) {
  while (static_cast<size_t>(end - p) >= n) {
    const char *q = static_cast<const char *>(memchr(p, needle[0], static_cast<size_t>(end - p) - n + 1));
    if (q == nullptr) return nullptr;
    if (memcmp(q, needle, n) == 0) return q;
    p = q + 1;
  }
  return nullptr;
}

// Logs an end tag that does not match the element it closes.
void log_bad_end_tag(const char *tag, const char *end) {
  char shown[96];
  size_t n = static_cast<size_t>(end - tag);
  if (n > sizeof(shown) - 1) n = sizeof(shown) - 1;
  memcpy(shown, tag, n);
  shown[n] = '\0';
  upnp_log_impl(LOG_LEVEL_INFO, LOG_XML, __func__, "bad end tag!\n%s", shown);
}

// What all levels of one parse share: the block store, the end of the text,
// the error flag and the number of records taken from the store.
struct ParseState {
  upnp_xml_arena *arena;
  const char *end;
  int *error;
  uint64_t records;

  char *text(const char *p, size_t n) {
    char *s = static_cast<char *>(upnp_xml_arena_take(arena, n + 1));
    if (s == nullptr) return nullptr;
    // Names and most values are short: two overlapping moves of fixed size
    // instead of a library call.
    if (n >= 8 && n <= 16) {
      memcpy(s, p, 8);
      memcpy(s + n - 8, p + n - 8, 8);
    } else if (n >= 4 && n < 8) {
      memcpy(s, p, 4);
      memcpy(s + n - 4, p + n - 4, 4);
    } else {
      memcpy(s, p, n);
    }
    s[n] = '\0';
    return s;
  }
  // A copy of the bytes with entities replaced (`amp`: the bytes hold an
  // "&"; unknown when not given).
  char *unescaped(const char *p, size_t n, bool amp) {
    char *s = text(p, n);
    if (s != nullptr && amp) upnp_xml_unescape(s);
    return s;
  }
  char *unescaped(const char *p, size_t n) { return unescaped(p, n, memchr(p, '&', n) != nullptr); }
  upnp_xml_node *node() {
    upnp_xml_node *node = static_cast<upnp_xml_node *>(upnp_xml_arena_take(arena, sizeof(upnp_xml_node)));
    if (node == nullptr) return nullptr;
    ++records;
    node->name = nullptr;
    node->value = nullptr;
    node->attributes = nullptr;
    node->next = nullptr;
    node->children = nullptr;
    node->consumed = 0;
    node->arena_texts = UPNP_XML_ARENA_NAME | UPNP_XML_ARENA_VALUE;
    node->arena = arena;
    return node;
  }
  upnp_xml_attribute *attribute() {
    upnp_xml_attribute *a =
        static_cast<upnp_xml_attribute *>(upnp_xml_arena_take(arena, sizeof(upnp_xml_attribute)));
    if (a == nullptr) return nullptr;
    ++records;
    a->name = nullptr;
    a->value = nullptr;
    a->next = nullptr;
    a->arena = arena;
    a->arena_texts = UPNP_XML_ARENA_NAME | UPNP_XML_ARENA_VALUE;
    return a;
  }
};

class Parser {
 public:
  Parser(const char *text, ParseState *state) : text_(text), end_(state->end), error_(state->error), st_(state) {}

  upnp_xml_node *element(int depth);

 private:
  // The text ended inside a construct: the element so far, all of it used.
  upnp_xml_node *partial(upnp_xml_node *node) {
    node->consumed = static_cast<uint32_t>(end_ - text_);
    return node;
  }
  upnp_xml_node *finish(upnp_xml_node *node, const char *after) {
    node->consumed = static_cast<uint32_t>(after - text_);
    return node;
  }
  upnp_xml_node *fail(upnp_xml_node *node) {
    upnp_xml_release(node);
    return nullptr;
  }

  const char *text_;  // where this element's parse started
  const char *end_;
  int *error_;
  ParseState *st_;
};

upnp_xml_node *Parser::element(int depth) {
  if (depth + 1 > UPNP_XML_MAX_DEPTH) {
    *error_ = 1;
    upnp_log_impl(LOG_LEVEL_WARNING, LOG_XML, __func__, "XML node maximum depth reached");
    return nullptr;
  }
  const char *end = end_;
  // A child's parse starts at its "<": the search is needed only for the
  // first element and for markup that is not a start tag.
  long start;
  if (end - text_ >= 2 && text_[0] == '<' && text_[1] != '?' && text_[1] != '!') {
    start = 1;
  } else {
    start = upnp_xml_find_tagstart(text_, static_cast<size_t>(end - text_));
    if (start < 0) return nullptr;
  }
  const char *p = text_ + start;
  const char *name_end = scan(p, end, kNameEnd);
  if (name_end >= end) return nullptr;
  size_t name_len = static_cast<size_t>(name_end - p);
  while (name_len > 0 && p[name_len - 1] >= 1 && p[name_len - 1] <= 31) --name_len;

  upnp_xml_node *node = st_->node();
  if (node == nullptr) return nullptr;
  node->name = st_->text(p, name_len);
  if (node->name == nullptr) return fail(node);

  p = skip_space(name_end, end);
  if (p >= end) return partial(node);
  if (*p == '/') return finish(node, p + 1);
  if (*p == '>') {
    ++p;
  } else {
    // Attributes, each put at the head of the list.
    bool open = false;
    for (int count = 0; count < UPNP_XML_MAX_ATTRIBUTES; ++count) {
      p = skip_space(p, end);
      const char *name_stop = scan(p, end, kAttrNameEnd);
      if (name_stop >= end) return partial(node);
      if (*name_stop == '/') return finish(node, name_stop + 1);
      size_t attr_name_len = static_cast<size_t>(name_stop - p);
      while (attr_name_len > 0 && (is_space(p[attr_name_len - 1]) || p[attr_name_len - 1] == '=')) --attr_name_len;
      const char *attr_name = p;

      const char *v = skip_space(name_stop + 1, end);
      // The value runs to the first space, "/", ">", tab, CR or LF outside
      // quotes; the text within its first pair of quotes is taken, else the
      // whole token.
      const char *val = v;
      const char *v_end;
      size_t val_len;
      bool amp = false;
      bool amp_known = false;
      if (v < end && (*v == '"' || *v == '\'')) {
        const char *close = find_noting_amp(v + 1, end, *v, &amp);
        if (close < end) {
          val = v + 1;
          val_len = static_cast<size_t>(close - val);
          v_end = scan(close + 1, end, kAttrValueEnd);
          amp_known = true;
        } else {
          v_end = end;
          val_len = static_cast<size_t>(end - v);
        }
      } else {
        v_end = scan(v, end, kAttrValueEnd);
        val_len = static_cast<size_t>(v_end - v);
        for (const char *q = v; q < v_end; ++q) {
          if (*q == '"' || *q == '\'') {
            const void *close = memchr(q + 1, *q, static_cast<size_t>(v_end - q - 1));
            if (close != nullptr) {
              val = q + 1;
              val_len = static_cast<size_t>(static_cast<const char *>(close) - val);
            }
            break;
          }
        }
      }
      upnp_xml_attribute *attr = st_->attribute();
      if (attr == nullptr) return fail(node);
      attr->name = st_->text(attr_name, attr_name_len);
      attr->value = amp_known ? st_->unescaped(val, val_len, amp) : st_->unescaped(val, val_len);
      attr->next = node->attributes;
      node->attributes = attr;
      if (attr->name == nullptr || attr->value == nullptr) return fail(node);

      p = v_end;
      if (p >= end) return partial(node);
      if (*p == '>') {
        ++p;
        open = true;
        break;
      }
      if (*p == '/') return finish(node, p + 1);
      ++p;
      if (p >= end) return partial(node);
      if (*p == '>') {
        ++p;
        open = true;
        break;
      }
    }
    if (!open) {
      // Attribute limit reached: the rest of the start tag is passed over.
      const char *gt = scan(p, end, kTagClose);
      if (gt >= end) return partial(node);
      if (gt > p && gt[-1] == '/') return finish(node, gt);
      p = gt + 1;
    }
  }

  // Content: text only, or child elements.
  bool amp = false;
  const char *lt = find_noting_amp(p, end, '<', &amp);
  if (lt + 1 >= end) return partial(node);
  if (lt[1] == '/') {
    if (lt > p) {
      node->value = st_->unescaped(p, static_cast<size_t>(lt - p), amp);
      if (node->value == nullptr) return fail(node);
    }
  } else {
    upnp_xml_node *tail = nullptr;
    for (;;) {
      // lt is at a "<" with at least one byte after it.
      if (lt[1] == '/') break;
      const char *next;
      if (lt[1] == '!' || lt[1] == '?') {
        // Comment, CDATA section, processing instruction or other markup.
        const char *close;
        if (starts_with(lt, end, "<!--", 4)) {
          close = find_seq(lt + 4, end, "-->", 3);
          next = close ? close + 3 : nullptr;
        } else if (starts_with(lt, end, "<![CDATA[", 9)) {
          close = find_seq(lt + 9, end, "]]>", 3);
          next = close ? close + 3 : nullptr;
        } else if (lt[1] == '?') {
          close = find_seq(lt + 2, end, "?>", 2);
          next = close ? close + 2 : nullptr;
        } else {
          next = lt + 2;
        }
        if (next == nullptr) return partial(node);
      } else {
        Parser sub(lt, st_);
        upnp_xml_node *child = sub.element(depth + 1);
        if (child == nullptr) {
          if (*error_) return fail(node);
          return partial(node);
        }
        if (tail == nullptr) {
          node->children = child;
        } else {
          tail->next = child;
        }
        tail = child;
        next = lt + child->consumed;
      }
      lt = scan(next, end, kTagOpen);
      if (lt >= end || lt + 1 >= end) return partial(node);
    }
  }

  // End tag at lt.
  const char *tag_name = lt + 2;
  // Most end tags are exactly "</name>".
  if (static_cast<size_t>(end - tag_name) > name_len && tag_name[name_len] == '>' &&
      memcmp(tag_name, node->name, name_len) == 0) {
    return finish(node, tag_name + name_len + 1);
  }
  const char *gt = find_byte(tag_name, end, '>');
  const char *te = gt;
  if (gt == end) gt = nullptr;
  while (te > tag_name && is_space(te[-1])) --te;
  size_t tag_len = static_cast<size_t>(te - tag_name);
  if (tag_len != name_len || memcmp(tag_name, node->name, tag_len) != 0) {
    log_bad_end_tag(lt, gt ? gt + 1 : end);
  }
  if (gt == nullptr) return partial(node);
  return finish(node, gt + 1);
}

}  // namespace

extern "C" long upnp_xml_find_tagstart(const char *text, size_t length) {
  const char *p = text;
  const char *end = text + length;
  while (p < end) {
    char c = *p;
    if (c == '"' || c == '\'') {
      const void *q = memchr(p + 1, c, static_cast<size_t>(end - p - 1));
      if (q == nullptr) return -1;
      p = static_cast<const char *>(q) + 1;
    } else if (c == '<') {
      if (p + 1 >= end) return -1;
      char n = p[1];
      if (n == '?') {
        p += 2;
      } else if (n == '!') {
        if (starts_with(p, end, "<!--", 4)) {
          const char *close = find_seq(p + 4, end, "-->", 3);
          if (close == nullptr) return -1;
          p = close + 3;
        } else if (starts_with(p, end, "<![CDATA[", 9)) {
          const char *close = find_seq(p + 9, end, "]]>", 3);
          if (close == nullptr) return -1;
          p = close + 3;
        } else {
          p += 2;
        }
      } else {
        return static_cast<long>(p + 1 - text);
      }
    } else {
      const char *q = p + 1;
      // Plain text: jump to the next byte that matters.
      while (q < end && *q != '<' && *q != '"' && *q != '\'') ++q;
      p = q;
    }
  }
  return -1;
}

extern "C" size_t upnp_xml_find(const char *text, size_t length, const char *set) {
  StopSet stops(set);
  return static_cast<size_t>(scan(text, text + length, stops) - text);
}

extern "C" upnp_xml_node *upnp_xml_parse_with_depth(const char *text, size_t length, int depth,
                                                    int *error) {
  int local_error = 0;
  if (error == nullptr) error = &local_error;
  if (text == nullptr) return nullptr;
  // Consumed lengths are 32-bit: longer texts are read up to that size. A
  // zero byte ends the text, as it ends every text the tree holds.
  if (length > UINT32_MAX) length = UINT32_MAX;
  const void *zero = memchr(text, '\0', length);
  if (zero != nullptr) length = static_cast<size_t>(static_cast<const char *>(zero) - text);
  // The store counts one hold per possible record during the parse, so that
  // records released on the way (a failed child) never empty it early; the
  // hold becomes the number of records created at the end.
  const uint64_t kParseHold = UINT64_C(1) << 62;
  upnp_xml_arena *arena = upnp_xml_arena_create(length + length / 2 + 1024, kParseHold);
  if (arena == nullptr) return nullptr;
  ParseState state{arena, text + length, error, 0};
  Parser parser(text, &state);
  upnp_xml_node *root = parser.element(depth);
  upnp_xml_arena_drop(arena, kParseHold - state.records);
  return root;
}

extern "C" upnp_xml_node *upnp_xml_parse_len(const char *text, size_t length) {
  int error = 0;
  return upnp_xml_parse_with_depth(text, length, 0, &error);
}

extern "C" upnp_xml_node *upnp_xml_parse(const char *text) {
  if (text == nullptr) return nullptr;
  return upnp_xml_parse_len(text, strlen(text));
}
