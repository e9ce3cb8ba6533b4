// The connection receive and send engines and their script callbacks.
// Depends on the socket layer (through the connection's I/O record), the
// event pump, the VM's string builder and protected call, and file streams.
#include "libraries/network/connection_io.h"

#include <cstring>

#include "libraries/network/network_library.h"
#include "platform/event_pump.h"
#include "runtime/os.h"
#include "runtime/errors.h"
#include "runtime/option_readers.h"
#include "runtime/runtime_options.h"
#include "runtime/stream.h"
#include "vm/auxlib.h"
#include "vm/call.h"
#include "vm/error_codes.h"
#include "vm/stack_api.h"
#include "vm/value.h"

namespace {

constexpr size_t kGrowStep = 16384;

// Where the bytes of one receive go.
struct ReceiveSink {
  vlVMState* state;
  vlStrBuf* builder;
  const vlReceiveCallback* callback;
  char* buffer;
  char** growable;
  size_t* capacity;
  vlStream* file;
  int mode;
  int64_t taken;  // bytes handed to the target so far

  // A block of bytes (modes all and bytes); 0 or an error code.
  int Block(const uint8_t* p, size_t n) {
    if (n == 0) return 0;
    if (builder) {
      vl::AddBytesToStrBuf(builder, reinterpret_cast<const char*>(p), n);
    } else if (callback) {
      taken += static_cast<int64_t>(n);
      return CallReceiveCallback(state, callback, p, n, taken);
    } else if (growable) {
      if (int r = Grow(n)) return r;
      std::memcpy(*growable + taken, p, n);
    } else if (buffer) {
      if (static_cast<uint64_t>(taken) + n > *capacity) return ERR_MEM;
      std::memcpy(buffer + taken, p, n);
    } else if (file) {
      if (WriteFileStream(file, p, static_cast<int64_t>(n)) != static_cast<int64_t>(n)) return ERR_WRITE;
    }
    taken += static_cast<int64_t>(n);
    return 0;
  }

  // One character of a line; 0 or an error code.
  int Char(uint8_t c) {
    if (builder) {
      vl::AddBytesToStrBuf(builder, reinterpret_cast<const char*>(&c), 1);
    } else if (callback) {
      taken += 1;
      return CallReceiveCallback(state, callback, &c, 1, taken);
    } else if (buffer || growable) {
      char* target = buffer ? buffer : *growable;
      // One byte stays free for the terminating zero.
      if (*capacity == 0 || static_cast<uint64_t>(taken) >= *capacity - 1) return ERR_MEM;
      target[taken] = static_cast<char>(c);
    } else if (file) {
      if (!WriteFileStreamByte(file, c)) return ERR_WRITE;
    }
    taken += 1;
    return 0;
  }

  // Makes room for n more bytes in the growing buffer, in whole steps.
  int Grow(size_t n) {
    uint64_t need = static_cast<uint64_t>(taken) + n;
    if (need <= *capacity) return 0;
    // Whole steps, and at least half again, so that long bodies are not
    // copied over and over.
    uint64_t excess = need - *capacity;
    if (excess < *capacity / 2) excess = *capacity / 2;
    uint64_t grown = *capacity + kGrowStep * ((excess + kGrowStep - 1) / kGrowStep);
    char* bigger = static_cast<char*>(AllocMemory(static_cast<size_t>(grown), 0));
    if (!bigger) return ERR_MEM;
    if (*growable && taken) std::memcpy(bigger, *growable, static_cast<size_t>(taken));
    FreeMemory(*growable);
    *growable = bigger;
    *capacity = static_cast<size_t>(grown);
    return 0;
  }
};

// Milliseconds of quiet since last against the network time-out.
bool QuietTooLong(const vlTimeVal& last) {
  vlTimeVal elapsed;
  GetSysTime(&elapsed);
  SubTimeVal(&elapsed, &last);
  return IsTimeOver(&elapsed, gNetworkTimeout) != 0;
}

// The code a receive into a buffer or file ends with.
int ReceiveResultCode(int result) {
  if (QuitRequested()) return ERR_USERABORT;
  if (result == 0) return 0;
  if (result == VL_IO_TIMEOUT) return kErrReceiveTimeout;
  if (result == VL_IO_CLOSED) return kErrRemoteClosed;
  SetErrorArgument(GetSocketErrorText(result));
  return kErrNetwork;
}

// Runs the function on top of the stack (with its table below) as a
// callback; its number result, or an error code.
int RunCallback(vlVMState* state, int savedTop) {
  SetRuntimeOption(state, VL_OPT_CALLBACK_NESTING, 1u, 0u);
  int status = vl::CallProtected(state, 1, 1, 0);
  SetRuntimeOption(state, VL_OPT_CALLBACK_NESTING, 0u, 0u);
  if (status) {
    vl::SetStackTop(state, savedTop);
    return status;
  }
  // A callback that returns nothing has not answered.
  int code = vl::GetTypeAt(state, -1) == VL_TNIL ? ERR_NUMCALLBACK : 0;
  double value = code ? 0 : vl::GetCallbackNumber(state, -1, &code);
  vl::SetStackTop(state, savedTop);
  if (code) return code;
  if (value == 1 || QuitRequested()) return ERR_USERABORT;
  return 0;
}

}  // namespace

int CallReceiveCallback(vlVMState* state, const vlReceiveCallback* callback, const void* data, size_t length,
                        int64_t total) {
  int top = vl::GetStackTop(state);
  vl::PushSlotCopy(state, callback->function);
  vl::PushNewTable(state);
  SetTableNumber(state, "action", 0);
  SetTableNumber(state, "size", static_cast<double>(length));
  SetTableNumber(state, "total", static_cast<double>(total));
  vl::PushString(state, "data");
  vl::PushBytes(state, static_cast<const char*>(data), length);
  vl::RawSetTableValue(state, -3);
  if (callback->userdata) {
    vl::PushString(state, "userdata");
    vl::PushSlotCopy(state, callback->userdata);
    vl::RawSetTableValue(state, -3);
  }
  return RunCallback(state, top);
}

int CallProgressCallback(vlVMState* state, vlConnection* c) {
  int top = vl::GetStackTop(state);
  vl::PushSlotCopy(state, 3);
  vl::PushNewTable(state);
  SetTableNumber(state, "action", c->progress.action);
  SetTableNumber(state, "count", static_cast<double>(c->progress.count));
  SetTableNumber(state, "total", static_cast<double>(c->progress.total));
  if (c->progress.userdata) {
    vl::PushString(state, "userdata");
    vl::PushSlotCopy(state, 4);
    vl::RawSetTableValue(state, -3);
  }
  return RunCallback(state, top);
}

namespace {

// The connection of an id again after script code ran (a callback, or one
// run by the event pump): null when the script closed it meanwhile.
vlConnection* Refind(const vlObjectId& id) {
  vlConnection* c = nullptr;
  return FindConnection(id, &c) ? nullptr : c;
}

}  // namespace

int ReceiveFromConnection(vlVMState* state, vlConnection* c, int mode, int64_t count, int wait, char* buffer,
                          char** growable, size_t* capacity, vlStream* file, int64_t* countOut,
                          const vlReceiveCallback* callback) {
  const vlObjectId id{c->node.idNumber, c->node.idHandle};
  SetTimeoutStart(&c->socket->timeout);
  bool script = !buffer && !growable && !file;
  vlStrBuf builder;
  ReceiveSink sink{state, nullptr, script ? callback : nullptr, buffer, growable, capacity, file, mode, 0};
  if (script && !callback) {
    vl::InitStrBuf(state, &builder);
    sink.builder = &builder;
  }
  vlTimeVal lastData;
  GetSysTime(&lastData);
  int result = 0, failure = 0, pumpError = 0;
  bool complete = false;
  for (;;) {
    if (PumpEvents(state, VL_PUMP_WAIT_INPUT, 0, &pumpError)) {
      result = 0;
      break;
    }
    if (!(c = Refind(id))) {
      result = VL_IO_CLOSED;
      break;
    }
    result = 0;
    vlSocketBuffer& b = c->socket->buffer;
    if (b.first >= b.last) {
      size_t got = 0;
      result = b.io->receive(b.io->context, b.data, kSocketBufferSize, &got, b.timeout);
      b.first = 0;
      b.last = static_cast<uint32_t>(got);
    }
    uint32_t available = b.last - b.first;
    uint32_t consumed = 0;
    if (available) {
      GetSysTime(&lastData);
      // Bytes leave the socket buffer before they are handed on: a callback
      // may close the connection, and its buffer with it.
      auto take = [&b](uint32_t n) {
        b.bytesReceived += n;
        b.first += n;
        if (b.first >= b.last) b.first = b.last = 0;
      };
      if (mode == VL_RECEIVE_LINE) {
        while (consumed < available && !failure && !complete && c) {
          uint8_t ch = b.data[b.first];
          take(1);
          ++consumed;
          if (ch == 10) complete = true;
          else if (ch != 13) failure = sink.Char(ch);
          if (sink.callback) c = Refind(id);
        }
      } else {
        consumed = available;
        if (mode == VL_RECEIVE_BYTES) {
          int64_t want = count - sink.taken;
          if (want <= available) {
            consumed = static_cast<uint32_t>(want < 0 ? 0 : want);
            complete = true;
          }
        }
        const uint8_t* p = b.data + b.first;
        take(consumed);
        failure = sink.Block(p, consumed);
        if (sink.callback) c = Refind(id);
      }
    }
    if (failure) break;
    if (!c) {
      result = VL_IO_CLOSED;
      break;
    }
    if (consumed && c->progress.callback) {
      c->progress.count += consumed;
      if ((failure = CallProgressCallback(state, c))) break;
      if (!(c = Refind(id))) {
        result = VL_IO_CLOSED;
        break;
      }
    }
    if (complete) break;
    if (result == 0) continue;
    if (result != VL_IO_TIMEOUT || !wait) break;
    if (QuietTooLong(lastData)) break;
    SleepMillis(1);
  }
  if (countOut) *countOut = sink.taken;
  if (failure) return failure;
  if (pumpError) return pumpError;
  if (mode == VL_RECEIVE_ALL && result == VL_IO_CLOSED && sink.taken > 0) result = 0;
  if (script) {
    if ((c = Refind(id))) c->dataReported = 0;
    if (sink.builder)
      vl::PushStrBufResult(sink.builder);
    else
      vl::PushString(state, "");
    vl::PushNumber(state, static_cast<double>(sink.taken));
    // A byte count or a line is done only when it arrived whole.
    bool done = mode == VL_RECEIVE_ALL ? result == 0 : complete;
    vl::PushNumber(state, done ? 1 : 0);
    return 3;
  }
  if (mode == VL_RECEIVE_LINE && buffer) buffer[sink.taken] = 0;
  return ReceiveResultCode(result);
}

int SendWithEvents(vlVMState* state, vlConnection* c, const void* data, size_t length, size_t* sentOut,
                   int* callbackResult) {
  *callbackResult = 0;
  *sentOut = 0;
  if (length == 0) return 0;
  const vlObjectId id{c->node.idNumber, c->node.idHandle};
  const auto* bytes = static_cast<const uint8_t*>(data);
  vlTimeVal lastProgress;
  GetSysTime(&lastProgress);
  size_t sent = 0;
  int result = 0;
  for (;;) {
    // One burst: pieces of at most one buffer until something stops it.
    size_t burst = 0;
    result = 0;
    while (sent + burst < length) {
      int pumpError = 0;
      if (PumpEvents(state, VL_PUMP_WAIT_INPUT, 0, &pumpError)) {
        result = pumpError;
        break;
      }
      if (!(c = Refind(id))) {
        result = VL_IO_CLOSED;
        break;
      }
      size_t piece = length - sent - burst;
      if (piece > kSocketBufferSize) piece = kSocketBufferSize;
      size_t moved = 0;
      vlSocket* s = c->socket;
      result = s->io.send(s->io.context, bytes + sent + burst, piece, &moved, &s->timeout);
      burst += moved;
      s->buffer.bytesSent += static_cast<uint32_t>(moved);
      if (moved && c->progress.callback) {
        c->progress.count += static_cast<int64_t>(moved);
        if (int r = CallProgressCallback(state, c)) {
          *callbackResult = r;
          *sentOut = sent + burst;
          return result;
        }
        if (!Refind(id)) {
          result = VL_IO_CLOSED;
          break;
        }
      }
      if (result) break;
    }
    if (burst) {
      sent += burst;
      GetSysTime(&lastProgress);
      if (result == VL_IO_TIMEOUT) {
        SleepMillis(1);
        continue;
      }
      break;
    }
    if (result != VL_IO_TIMEOUT) break;
    if (QuietTooLong(lastProgress)) break;
    SleepMillis(1);
  }
  *sentOut = sent;
  return result;
}

int SendAll(vlVMState* state, vlConnection* c, const void* data, size_t length) {
  size_t sent = 0;
  int callbackResult = 0;
  int result = SendWithEvents(state, c, data, length, &sent, &callbackResult);
  if (QuitRequested()) return ERR_USERABORT;
  if (callbackResult) return callbackResult;
  if (result == 0) return sent == length ? 0 : kErrSend;
  if (result >= ERR_FIRST) return result;  // the event pump's own error
  SetErrorArgument(GetSocketErrorText(result));
  return kErrNetwork;
}

int SendFileData(vlVMState* state, vlConnection* c, const void* data, size_t length, vlStream* file,
                 int64_t size) {
  if (!file) return SendAll(state, c, data, length);
  auto* piece = static_cast<uint8_t*>(AllocMemory(kSocketBufferSize, 0));
  if (!piece) return ERR_MEM;
  int64_t total = 0;
  for (;;) {
    int64_t n = ReadFileStream(file, piece, kSocketBufferSize);
    if (n <= 0) break;
    total += n;
    if (int r = SendAll(state, c, piece, static_cast<size_t>(n))) {
      FreeMemory(piece);
      return r;
    }
    if (n < static_cast<int64_t>(kSocketBufferSize)) break;
  }
  FreeMemory(piece);
  if (size == -1) return IsFileStreamAtEnd(file) ? 0 : kErrSend;
  return size == total ? 0 : kErrSend;
}
