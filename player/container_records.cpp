// Readers of the structured parts of container records: texts, region
// lists, gradients, backfills and menu trees. Over vlStream field reads
// (player/container_io.h); every count is bounded by what the records
// can hold or by the bytes left in the stream.
#include <cstdlib>
#include <cstring>

#include "player/container.h"
#include "player/container_io.h"

namespace {

// Longest text kept from a zero-terminated field; the rest is read and
// dropped, so a text without its zero byte cannot take unbounded memory.
constexpr size_t kMaxKeptText = 65536;
constexpr int kMaxMenuDepth = 32;

char* DupText(const std::string& text) {
  char* copy = static_cast<char*>(std::malloc(text.size() + 1));
  if (copy) std::memcpy(copy, text.c_str(), text.size() + 1);
  return copy;
}

}  // namespace

int ReadCString(vlStream* stream, std::string* out) {
  out->clear();
  for (;;) {
    int b = ReadFileStreamByte(stream);
    if (b < 0) return ERR_UNEXPECTEDEOF;
    if (b == 0) return 0;
    if (out->size() < kMaxKeptText) out->push_back(static_cast<char>(b));
  }
}

int ReadShortString(vlStream* stream, std::string* out) {
  out->clear();
  vlFieldReader r{stream};
  int32_t length = r.I16();
  if (r.error) return r.error;
  if (length <= 0) return 0;  // a negative length is read as none
  out->resize(static_cast<size_t>(length));
  if (ReadFileStream(stream, out->data(), length) != length) return ERR_UNEXPECTEDEOF;
  // The file form has no terminator, so a zero byte inside ends the text.
  out->resize(std::strlen(out->c_str()));
  return 0;
}

int ReadRegionList(vlStream* stream, vlRegion* regions, uint32_t* count) {
  vlFieldReader r{stream};
  uint32_t n = r.U32();
  *count = 0;
  for (uint32_t i = 0; i < n && !r.error; ++i) {
    vlRegion region;
    region.type = static_cast<int32_t>(r.U32());
    region.x = static_cast<int32_t>(r.U32());
    region.y = static_cast<int32_t>(r.U32());
    region.width = static_cast<int32_t>(r.U32());
    region.height = static_cast<int32_t>(r.U32());
    // Regions past the table's room are read and dropped.
    if (!r.error && *count < static_cast<uint32_t>(kMaxRegions)) regions[(*count)++] = region;
  }
  return r.error;
}

int ReadGradientRecord(vlStream* stream, vlGradientBlock* gradient) {
  vlFieldReader r{stream};
  gradient->style = r.U8();
  gradient->centerX = r.Scaled();
  gradient->centerY = r.Scaled();
  gradient->balance = r.Scaled();
  gradient->border = r.Scaled();
  uint32_t n = r.U8();
  gradient->stopCount = 0;
  for (uint32_t i = 0; i < n && !r.error; ++i) {
    vlGradientStop stop;
    stop.color = r.U32();
    stop.position = r.Scaled();
    if (!r.error && gradient->stopCount < static_cast<uint32_t>(kMaxGradientStops))
      gradient->stops[gradient->stopCount++] = stop;
  }
  return r.error;
}

int ReadBackfillRecord(vlStream* stream, vlBackfillBlock* backfill, int major, int minor) {
  vlFieldReader r{stream};
  backfill->type = static_cast<int32_t>(r.U8());
  switch (backfill->type) {
    case 1: backfill->color = static_cast<int32_t>(r.U32()); break;
    case 2:
      backfill->color = static_cast<int32_t>(r.U32());
      backfill->endColor = static_cast<int32_t>(r.U32());
      break;
    case 3: backfill->brush = static_cast<int32_t>(r.U32()); break;
    case 4:
      backfill->brush = static_cast<int32_t>(r.U32());
      backfill->x = static_cast<int32_t>(r.U32());
      backfill->y = static_cast<int32_t>(r.U32());
      backfill->color = static_cast<int32_t>(r.U32());
      backfill->endColor = static_cast<int32_t>(r.U32());
      if (major > 3 || (major == 3 && minor >= 2)) backfill->scalePicture = static_cast<int32_t>(r.U8());
      if (major >= 6) backfill->smoothScale = static_cast<int32_t>(r.U8());
      break;
    default: break;
  }
  return r.error;
}

int ReadMenuItems(vlStream* stream, vlMenuItem** first, int depth) {
  *first = nullptr;
  if (depth > kMaxMenuDepth) return ERR_UNKNOWNSEC;
  vlMenuItem** tail = first;
  for (;;) {
    auto* item = static_cast<vlMenuItem*>(std::calloc(1, sizeof(vlMenuItem)));
    if (!item) return ERR_MEM;
    *tail = item;
    tail = &item->next;
    std::string name, id, hotkey;
    int status = ReadShortString(stream, &name);
    if (!status) status = ReadShortString(stream, &id);
    if (!status) status = ReadShortString(stream, &hotkey);
    if (status) return status;
    if ((!name.empty() && !(item->name = DupText(name))) || (!id.empty() && !(item->id = DupText(id))) ||
        (!hotkey.empty() && !(item->hotkey = DupText(hotkey))))
      return ERR_MEM;
    vlFieldReader r{stream};
    item->flags = r.U32();
    uint32_t more = r.U8();
    if (r.error) return r.error;
    if (more == 2) {
      status = ReadMenuItems(stream, &item->children, depth + 1);
      if (status) return status;
      more = r.U8();
      if (r.error) return r.error;
    }
    if (more == 0) return 0;
  }
}
