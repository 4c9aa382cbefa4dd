#include "events/JsonWriter.h"

#include <array>
#include <charconv>
#include <cmath>
#include <string_view>
#include <utility>

namespace events {
namespace {

// What a lead byte allows: the length of its sequence and the range of the byte after it, which
// is where overlongs, surrogates and code points past U+10FFFF are ruled out.
struct LeadByte {
  std::size_t length = 0;
  unsigned char secondMin = 0x80;
  unsigned char secondMax = 0xBF;
};

LeadByte classify(unsigned char lead) {
  if (lead < 0x80) return {1};
  if (lead >= 0xC2 && lead <= 0xDF) return {2};
  if (lead == 0xE0) return {3, 0xA0, 0xBF};
  if (lead == 0xED) return {3, 0x80, 0x9F};
  if (lead >= 0xE1 && lead <= 0xEF) return {3};
  if (lead == 0xF0) return {4, 0x90, 0xBF};
  if (lead >= 0xF1 && lead <= 0xF3) return {4};
  if (lead == 0xF4) return {4, 0x80, 0x8F};
  return {};
}

bool isContinuation(unsigned char byte) {
  return byte >= 0x80 && byte <= 0xBF;
}

// Length of the well-formed sequence at `text[at]`, 0 when it is ill-formed or cut short.
std::size_t sequenceLength(std::string_view text, std::size_t at) {
  const LeadByte lead = classify(static_cast<unsigned char>(text[at]));
  if (lead.length == 0 || text.size() - at < lead.length) return 0;
  if (lead.length == 1) return 1;
  const auto second = static_cast<unsigned char>(text[at + 1]);
  if (second < lead.secondMin || second > lead.secondMax) return 0;
  for (std::size_t offset = 2; offset < lead.length; ++offset) {
    if (!isContinuation(static_cast<unsigned char>(text[at + offset]))) return 0;
  }
  return lead.length;
}

bool isValidUtf8(std::string_view text) {
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t length = sequenceLength(text, at);
    if (length == 0) return false;
    at += length;
  }
  return true;
}

void appendEscaped(std::string& out, char c) {
  constexpr std::string_view hexDigits = "0123456789abcdef";
  switch (c) {
    case '"':
      out += "\\\"";
      return;
    case '\\':
      out += "\\\\";
      return;
    case '\b':
      out += "\\b";
      return;
    case '\f':
      out += "\\f";
      return;
    case '\n':
      out += "\\n";
      return;
    case '\r':
      out += "\\r";
      return;
    case '\t':
      out += "\\t";
      return;
    default:
      break;
  }
  const auto byte = static_cast<unsigned char>(c);
  if (byte >= 0x20) {
    out += c;
    return;
  }
  out += "\\u00";
  out += hexDigits[byte >> 4];
  out += hexDigits[byte & 0xF];
}

bool appendString(std::string& out, std::string_view text) {
  if (!isValidUtf8(text)) return false;
  out += '"';
  for (const char c : text) appendEscaped(out, c);
  out += '"';
  return true;
}

// Plain to_chars gives the exact integers and the shortest digits that read back as the same
// double; its forms (e.g. "1e+21", "-0") are all valid JSON numbers.
template <typename Number>
void appendNumber(std::string& out, Number number) {
  std::array<char, 32> buffer{};
  const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), number);
  out.append(buffer.data(), result.ptr);
}

bool appendScalar(std::string& out, const std::string& text) {
  return appendString(out, text);
}

bool appendScalar(std::string& out, std::int64_t number) {
  appendNumber(out, number);
  return true;
}

bool appendScalar(std::string& out, std::uint64_t number) {
  appendNumber(out, number);
  return true;
}

bool appendScalar(std::string& out, double number) {
  if (!std::isfinite(number)) return false;
  appendNumber(out, number);
  return true;
}

bool appendScalar(std::string& out, bool flag) {
  out += flag ? "true" : "false";
  return true;
}

template <typename Entries>
bool appendObject(std::string& out, const Entries& entries);

bool appendScalar(std::string& out, const EventList& list) {
  out += '[';
  for (const EventObject& object : list) {
    if (&object != &list.front()) out += ',';
    if (!appendObject(out, object)) return false;
  }
  out += ']';
  return true;
}

template <typename Entries>
bool appendObject(std::string& out, const Entries& entries) {
  out += '{';
  bool first = true;
  for (const auto& [key, value] : entries) {
    if (!std::exchange(first, false)) out += ',';
    if (!appendString(out, key)) return false;
    out += ':';
    if (!std::visit([&out](const auto& item) { return appendScalar(out, item); }, value)) {
      return false;
    }
  }
  out += '}';
  return true;
}

}  // namespace

std::optional<std::string> serializeJsonObject(const EventRecord& record) {
  std::string out;
  if (!appendObject(out, record.entries())) return std::nullopt;
  return out;
}

}  // namespace events
