// Fuzzes the HTTP client's response side: status line, 100-continue
// rounds, headers, redirects and the three body framings (chunked,
// announced size, until close), fed through a connection whose I/O record
// reads the input in pieces of varying size. The first byte picks the
// piece size and the fail404 and redirect options.
#include <cstdint>
#include <cstring>

#include "libraries/network/network_library.h"
#include "libraries/network/transfer.h"
#include "runtime/os.h"

namespace {

struct Feed {
  const uint8_t* data;
  size_t left;
  size_t piece;
};

int FeedReceive(void* context, void* buffer, size_t length, size_t* received, vlSocketTimeout*) {
  auto* feed = static_cast<Feed*>(context);
  *received = 0;
  if (feed->left == 0) return VL_IO_CLOSED;
  size_t n = length < feed->piece ? length : feed->piece;
  if (n > feed->left) n = feed->left;
  std::memcpy(buffer, feed->data, n);
  feed->data += n;
  feed->left -= n;
  *received = n;
  return 0;
}

int SwallowSend(void*, const void*, size_t length, size_t* sent, vlSocketTimeout*) {
  *sent = length;
  return 0;
}

char* Copy(const char* text) {
  size_t n = std::strlen(text) + 1;
  char* copy = static_cast<char*>(AllocMemory(n, 0));
  std::memcpy(copy, text, n);
  return copy;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  Feed feed{data + 1, size - 1, 1 + static_cast<size_t>(data[0] & 63) * 37};
  auto* socket = static_cast<vlSocket*>(AllocMemory(sizeof(vlSocket), 1));
  socket->descriptor = -1;
  InitSocketRecord(socket);
  socket->io.context = &feed;
  socket->io.receive = FeedReceive;
  socket->io.send = SwallowSend;
  vlObjectId id{0, reinterpret_cast<void*>(uintptr_t{1})};
  vlConnection* connection = nullptr;
  if (AddConnection(&id, socket, &connection)) {
    FreeSocket(socket);
    return 0;
  }
  vlTransfer t;  // removes the connection when it goes
  t.control = connection;
  t.fail404 = (data[0] & 64) != 0;
  t.redirect = (data[0] & 128) != 0;
  t.url = Copy("http://fuzz.invalid/path");
  t.normalised = Copy(t.url);
  t.source = t.url;
  t.location = static_cast<char*>(AllocMemory(kTransferLineSize, 1));
  t.line = static_cast<char*>(AllocMemory(kTransferLineSize, 1));
  t.parts.transferMode = 'i';
  if (ParseTransferURL(t.source, "", &t.parts) == 0) RunHTTPTransfer(&t);
  return 0;
}
