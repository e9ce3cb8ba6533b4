// The message table and error map, built at compile time from the two row
// lists; message look-up through the locale catalog with the built-in text
// as fall-back. Depends on error_format for the placeholder comparison.
#include "runtime/messages.h"

#include <algorithm>
#include <array>

#include "runtime/error_format.h"

namespace {

constexpr vlErrorRow kErrorRows[] = {
#define VL_ERROR(code, name, id, text) {code, #name, id, text},
#define VL_ERROR_UNNAMED(code, id, text) {code, nullptr, id, text},
#include "vm/error_codes.def"
#undef VL_ERROR
#undef VL_ERROR_UNNAMED
};

constexpr vlMessageRow kPlainMessages[] = {
#define VL_MESSAGE(id, text) {id, text},
#include "runtime/messages.def"
#undef VL_MESSAGE
};

constexpr bool RowsAscendAndFit() {
  for (size_t i = 0; i < std::size(kErrorRows); ++i) {
    if (kErrorRows[i].code < 1000 || kErrorRows[i].code >= 1000 + kErrorMapSize) return false;
    if (i > 0 && kErrorRows[i].code <= kErrorRows[i - 1].code) return false;
  }
  return true;
}
static_assert(RowsAscendAndFit(), "error_codes.def rows must be unique, sorted and within 1000..1580");

constexpr size_t CountTextRows() {
  size_t n = std::size(kPlainMessages);
  for (const vlErrorRow& r : kErrorRows) n += r.messageId >= 0;
  return n;
}

constexpr auto BuildMessages() {
  std::array<vlMessageRow, CountTextRows()> out{};
  size_t n = 0;
  for (const vlMessageRow& m : kPlainMessages) out[n++] = m;
  for (const vlErrorRow& r : kErrorRows)
    if (r.messageId >= 0) out[n++] = {r.messageId, r.text};
  std::sort(out.begin(), out.end(),
            [](const vlMessageRow& a, const vlMessageRow& b) { return a.id < b.id; });
  return out;
}
constexpr auto kMessages = BuildMessages();

constexpr bool MessageIdsUniqueAndInRange() {
  for (size_t i = 0; i < kMessages.size(); ++i) {
    if (kMessages[i].id < 0 || kMessages[i].id > 794) return false;
    if (i > 0 && kMessages[i].id == kMessages[i - 1].id) return false;
  }
  return true;
}
static_assert(MessageIdsUniqueAndInRange(), "every message id 0..794 is given once");

constexpr auto BuildMap() {
  std::array<int32_t, kErrorMapSize> map{};
  for (int32_t& id : map) id = VL_MSG_UNKNOWN_ERROR;
  for (const vlErrorRow& r : kErrorRows) map[r.code - 1000] = r.messageId;
  return map;
}
constexpr size_t CountNamed() {
  size_t n = 0;
  for (const vlErrorRow& r : kErrorRows) n += r.name != nullptr;
  return n;
}

constexpr auto BuildConstants() {
  std::array<vlConstant, CountNamed() + 1> out{};
  size_t n = 0;
  for (const vlErrorRow& r : kErrorRows)
    if (r.name) out[n++] = {r.name, nullptr, static_cast<double>(r.code)};
  out[n] = {nullptr, nullptr, 0};
  return out;
}
constexpr auto kConstants = BuildConstants();

vlCatalogLookup gCatalog = nullptr;

}  // namespace

const std::array<int32_t, kErrorMapSize> vlErrorMessageMap = BuildMap();

std::span<const vlErrorRow> ErrorRows() { return kErrorRows; }
std::span<const vlMessageRow> BuiltinMessages() { return kMessages; }
std::span<const vlConstant> ErrorConstants() { return kConstants; }

const vlErrorRow* FindErrorRow(int code) {
  auto it = std::lower_bound(std::begin(kErrorRows), std::end(kErrorRows), code,
                             [](const vlErrorRow& r, int c) { return r.code < c; });
  return it != std::end(kErrorRows) && it->code == code ? &*it : nullptr;
}

const char* GetBuiltinMessage(int32_t id) {
  auto it = std::lower_bound(kMessages.begin(), kMessages.end(), id,
                             [](const vlMessageRow& r, int32_t i) { return r.id < i; });
  return it != kMessages.end() && it->id == id ? it->text : nullptr;
}

void SetMessageCatalog(vlCatalogLookup lookup) { gCatalog = lookup; }

const char* GetMessage(int32_t id) {
  const char* builtin = GetBuiltinMessage(id);
  if (gCatalog) {
    const char* translated = gCatalog(id);
    // A translation that asks for other placeholders than ours would make
    // the formatter read arguments we do not pass: keep ours instead.
    if (translated && (builtin ? SamePlaceholders(translated, builtin) : !HasPlaceholders(translated)))
      return translated;
  }
  return builtin ? builtin : "";
}
