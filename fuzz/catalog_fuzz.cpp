// Feeds hostile catalog files (IFF FORM CTLG and text) to the catalog
// reader and looks up every id the file names and a few it does not; no
// look-up may read outside the catalog, and every text it returns must be
// terminated.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "runtime/catalog.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  vlCatalog* c = ParseCatalog(data, size);
  if (!c) return 0;
  const char* def = "default";
  for (int32_t id : {-2, -1, 0, 1, 2, 3, 13, 95, 1000, 0x7FFFFFFF}) {
    const char* s = FindCatalogString(c, id, def);
    if (!s) abort();
    (void)std::strlen(s);
  }
  // Every id word of the file, wherever it lies.
  for (size_t i = 0; i + 4 <= size; i += 4) {
    int32_t id = static_cast<int32_t>((uint32_t{data[i]} << 24) | (uint32_t{data[i + 1]} << 16) |
                                      (uint32_t{data[i + 2]} << 8) | data[i + 3]);
    (void)std::strlen(FindCatalogString(c, id, def));
  }
  FreeCatalog(c);
  return 0;
}
