#include "bundle/manifest_key.h"

#include <cctype>
#include <stdexcept>

namespace ko::manifest_key {
namespace {

// Clearing bit 5 folds '{' onto '[' and '}' onto ']'.
constexpr unsigned char kFoldCase = static_cast<unsigned char>(~0x20u);
constexpr unsigned char kOpen = '[';
constexpr unsigned char kClose = ']';

unsigned char folded(char c) {
  return static_cast<unsigned char>(c) & kFoldCase;
}

bool isSpace(char c) {
  return std::isspace(static_cast<unsigned char>(c)) != 0;
}

size_t skipSpace(std::string_view text, size_t at) {
  while (at < text.size() && isSpace(text[at])) ++at;
  return at;
}

// Index of the quote closing the string that opens at `open`, or npos when the text ends first.
size_t closingQuote(std::string_view text, size_t open) {
  size_t at = open + 1;
  while (at < text.size() && text[at] != '"') at += text[at] == '\\' ? 2 : 1;
  return at < text.size() ? at : std::string_view::npos;
}

std::string ambiguityMessage(std::string_view key, const std::vector<uint64_t>& listed) {
  std::string list;
  for (uint64_t pos : listed) {
    if (!list.empty()) list += ", ";
    list += "byte " + std::to_string(pos);
  }
  return "manifest: key \"" + std::string(key) + "\" is AMBIGUOUS \u2014 " + std::to_string(listed.size()) +
         " scalar occurrences (" + list +
         "). A loader that picks one silently installs a number nobody checks. Rename the colliding key (a "
         "nested block must not reuse a name the bundle loader reads: NT/frame_count, H, W, crop/crop_size, "
         "amount, sigma, ksize, frames, M_src_w/paste_source_width, M_src_h/paste_source_height), or produce "
         "the bundle with the legacy manifest layout.";
}

}  // namespace

std::vector<KeyHit> keyHits(std::string_view text, std::string_view key) {
  std::vector<KeyHit> hits;
  uint32_t depth = 0;
  for (size_t at = 0; at < text.size(); ++at) {
    const char c = text[at];
    if (c == '"') {
      const size_t close = closingQuote(text, at);
      if (close == std::string_view::npos) break;
      const size_t colon = skipSpace(text, close + 1);
      if (colon < text.size() && text[colon] == ':' && text.substr(at + 1, close - at - 1) == key) {
        KeyHit hit;
        hit.pos = skipSpace(text, colon + 1);
        hit.depth = depth;
        hit.scalar = hit.pos < text.size() && folded(text[hit.pos]) != kOpen;
        hits.push_back(hit);
      }
      at = close;
    } else if (folded(c) == kOpen) {
      ++depth;
    } else if (folded(c) == kClose) {
      --depth;
    }
  }
  return hits;
}

uint64_t scalarValuePos(std::string_view text, std::string_view key) {
  std::vector<uint64_t> all;
  std::vector<uint64_t> top;
  for (const KeyHit& hit : keyHits(text, key)) {
    if (!hit.scalar) continue;
    all.push_back(hit.pos);
    if (hit.depth == 1) top.push_back(hit.pos);
  }
  if (top.size() == 1) return top.front();
  if (top.size() > 1) throw std::runtime_error(ambiguityMessage(key, top));
  if (all.size() == 1) return all.front();
  if (all.size() > 1) throw std::runtime_error(ambiguityMessage(key, all));
  return npos;
}

}  // namespace ko::manifest_key
